// One run of a station as its history keeps it: who calibrated which vehicle with what, what
// came out, and which files went into the car. Plain data, the same for every backend.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mz::station {

inline constexpr int kStationCameras = 4;
inline constexpr const char* kStationCameraKeys[kStationCameras] = {"front", "rear", "left", "right"};

// saved: the output files were written; refused: the calibration was not accepted (a camera
// out of tolerance) and nothing was written; failed: a step of the run failed.
enum class Outcome { kSaved, kRefused, kFailed };
const char* outcomeName(Outcome outcome);
std::optional<Outcome> parseOutcome(const std::string& text);

struct CameraEntry {
    std::optional<int64_t> detection;  // the detector's result; none in a surveyed run
    bool corrected = false;            // the operator supplied points
    bool posed = false;                // the pose below was solved
    double posX = 0, posY = 0, posZ = 0, rotX = 0, rotY = 0, rotZ = 0;
    std::optional<double> rmsPx;  // reprojection of the corners in use
    std::string tolerance;        // "within", "outside", or empty without a profile
    std::string toleranceNote;    // the fields outside, in the operator's words
};

// A picture read or a file written, by its path and its content.
struct FileEntry {
    std::string path;
    std::optional<int64_t> identifier;  // the flash data identifier of an output file
    int64_t bytes = 0;
    std::string sha256;
};

struct HistoryRecord {
    int64_t id = 0;          // given by the history
    std::string recordedAt;  // UTC, 2026-12-09T14:39:30Z
    std::string station, operatorName, vehicle;
    std::string softwareVersion;
    std::string model;
    int64_t modelCode = -1;
    std::string configPath, configSha256;
    std::string mode;  // "pattern" or "survey"
    std::optional<int64_t> calibrationResult;
    std::string verdict;  // "good", "poor", or empty where no refinement judged the rig
    std::optional<double> pixelSigma;
    std::optional<double> worstSeamMm;  // the largest predicted seam misalignment (95th percentile)
    std::string profile;                // the station profile's name; empty without one
    bool profileOverridden = false;     // saved although a camera was out of tolerance
    std::array<CameraEntry, kStationCameras> cameras;
    std::vector<FileEntry> pictures;
    std::string outputFolder;
    std::string outputSet;  // identity of the files written: see outputSetIdentity
    std::vector<FileEntry> files;
    Outcome outcome = Outcome::kFailed;
    std::string message;  // why it failed or was refused; empty when saved
    std::string details;  // JSON text of the refinement's figures (per camera, per seam)
    // The calibration certificate written for the run (absolute); empty when none was. Set
    // after the record, once the page that names the record is on disk.
    std::string certificatePath;
};

// SHA-256 over the files' "checksum  path" lines in path order: one name for one set of
// contents wherever it is stored; empty for no files.
std::string outputSetIdentity(const std::vector<FileEntry>& files);

// What history list selects; empty fields select everything.
struct HistoryFilter {
    std::string vehicle;
    std::string since;  // UTC date or date and time, compared as text: 2026-12-01, 2026-12-01T08:00
    std::string verdict;
};

// Empty when since is a date (YYYY-MM-DD) with, optionally, THH:MM or THH:MM:SS; else why not.
std::optional<std::string> checkSince(const std::string& since);

}  // namespace mz::station
