// The calibration certificate: one self-contained HTML page a customer or a quality office reads
// or prints (one or two A4 sheets): who calibrated which vehicle, what the cameras saw, where they
// sit against the design, how well the seams meet, and which files went into the car.
//
// The session gives the pictures, poses and quality figures; the caller adds what only it knows
// (the station's names, the profile's verdict, the history's checksums).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/output_writer.h"
#include "app/core/session.h"
#include "refine/refinement.h"

namespace mz::core {

enum class CertificateOutcome { kSaved, kRefused, kFailed };

// The pose in a station profile's fields: x, y, height (mm), tilt, roll, heading (degrees).
inline constexpr int kCertificateFields = 6;
inline constexpr const char* kCertificateFieldNames[kCertificateFields] = {"x",    "y",    "height",
                                                                           "tilt", "roll", "heading"};

struct CertificateField {
    double solved = 0;
    std::optional<double> design, tolerance;  // from a station profile
    double sigma = -1;                        // predicted standard deviation; -1 unknown
    bool outside = false;                     // beyond the profile's tolerance
};

struct CertificateCamera {
    bool posed = false;
    std::array<CertificateField, kCertificateFields> fields{};
    std::optional<double> rmsPx;
    std::string tolerance;             // "within", "outside", or empty without a profile
    std::vector<std::string> outside;  // the fields outside, in the operator's words
};

struct CertificateFile {
    std::string path;  // relative to the output folder
    std::optional<int64_t> identifier;
    int64_t bytes = -1;  // -1 unknown
    std::string sha256;  // empty when the run computed none
    std::string crc32;   // as the set's manifest has it; empty when it has none
};

// JPEG files, ready to embed; an empty one is left out.
struct CertificatePictures {
    std::array<std::vector<uint8_t>, kCameraCount> cameras;  // with the detected and refined corners
    std::vector<uint8_t> topView;
    std::vector<uint8_t> bowlView;
    bool corners = false;  // the camera pictures show triangle corners (not a surveyed run)
};

struct Certificate {
    std::string vehicle, operatorName, station;
    std::string time;  // UTC, 2026-12-09T14:39:30Z
    std::string softwareVersion;
    std::string model;
    std::string configPath, configSha256;
    CertificateOutcome outcome = CertificateOutcome::kFailed;
    std::string message;  // why it failed or was refused
    std::optional<int64_t> recordId;
    std::string history;  // where the record is kept
    std::string profile;  // the station profile's name; empty without one
    bool profileOverridden = false;
    std::array<CertificateCamera, kCameraCount> cameras;
    std::optional<refine::RefinementReport> refinement;  // seams, uncertainty, verdict
    std::string outputFolder;
    std::string setId;      // the manifest's identity of the saved set
    std::string outputSet;  // the history's identity of the files' contents
    std::vector<CertificateFile> files;
    CertificatePictures pictures;
};

// What the session holds now: model, poses and their uncertainty, the refinement's figures, and
// the pictures (the camera pictures once loaded, the top and bowl views once applied). The caller
// fills the rest.
Certificate certificateOfSession(Session& session);

// The files of a save with the CRC-32 of the set's manifest in `folder` (read, not recomputed).
void addSavedFiles(Certificate& certificate, const SaveReport& saved, const std::filesystem::path& folder);

std::string certificateHtml(const Certificate& certificate);

// Written whole or not at all. Throws std::runtime_error naming the path.
void writeCertificate(const std::filesystem::path& path, const Certificate& certificate);

// Text safe inside an element and inside a quoted attribute.
std::string escapeHtml(std::string_view text);

}  // namespace mz::core
