// The station's side of the desktop program: who calibrates which vehicle where, every "Save LUT"
// recorded in the station history the terminal program writes too, and the records read back for
// the history window. The windows only pass the fields' texts and show what comes back.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/output_writer.h"
#include "app/core/session.h"
#include "station/history_record.h"
#include "station/profile.h"
#include "station/identity.h"

namespace mz::core {

// The names the fields are shown and refused under.
enum class IdentityField { kVehicle, kOperator, kStation };
inline constexpr std::array<const char*, 3> kIdentityFieldNames = {"Vehicle", "Operator", "Station"};

// Where the records go: the history file, the default place (as calibration-cli's) when empty;
// none at all when off.
struct HistoryPlace {
    std::string location;
    bool off = false;
};

struct StationSave {
    SaveResult save;
    std::optional<int64_t> recordId;  // the save's record in the history
    std::string historyError;         // why it could not be recorded; the files stay saved
};

class StationRecords {
public:
    // The session keeps its files' checksums while its saves are recorded.
    StationRecords(Session& session, HistoryPlace place) : session_(session), place_(std::move(place)) {
        session_.keepChecksums(!place_.off);
    }

    // "Save LUT" under this identity. A field the history cannot take refuses the save before
    // anything is chosen or written, with the words calibration-cli run uses for its option.
    // Every save that got past that is recorded, saved, refused or failed; one the operator
    // cancelled in the chooser changed nothing and is not.
    StationSave saveLut(const station::StationIdentity& identity);

    // Names the certificate written for the save recorded as id (one update of that record, no
    // new one). Returns why it could not; empty when it did or the history is off.
    std::string recordCertificate(int64_t id, const std::filesystem::path& certificate);

    // The history file; empty when off. Throws station::HistoryError when no default place exists.
    std::string location() const;
    bool off() const { return place_.off; }

    // The station profile the solved poses are held to at every save: a camera outside it refuses
    // the save (recorded as refused) unless the operator overrides it (recorded as overridden).
    void setProfile(std::optional<station::StationProfile> profile, bool overrideOutside) {
        profile_ = std::move(profile);
        overrideOutside_ = overrideOutside;
    }

private:
    Session& session_;
    HistoryPlace place_;
    std::optional<station::StationProfile> profile_;
    bool overrideOutside_ = false;
};

// The solved poses against a station profile, camera by camera.
std::array<station::ToleranceCheck, kCameraCount> checkAgainstProfile(const station::StationProfile& profile,
                                                                      const CalibrationState& state);
// What the preview's quality panel says of the profile after "Apply AVM", so the operator sees
// before "Save LUT" what it will do: per camera "within" or the fields outside in the operator's
// words, and whether the save will refuse. Nothing judged before a current Apply.
struct ProfileVerdict {
    bool judged = false;
    bool within = true;              // every camera within its tolerances
    std::string heading;             // Profile "name": ...
    std::vector<std::string> lines;  // one a camera within, one a field outside
};
ProfileVerdict profileVerdict(const station::StationProfile& profile, bool overrideOutside, Session& session);

// What a record keeps of a tolerance check: per camera "within"/"outside" with the fields outside,
// the profile's name, and whether the save went on although a camera was outside.
void recordTolerance(station::HistoryRecord& record, const std::string& profileName,
                     const std::array<station::ToleranceCheck, kCameraCount>& checks, bool refused);

// A path as it will still name the file when the record is read elsewhere, later.
std::string recordedPath(const std::filesystem::path& path);
// The picture files an Image Load reads: the four-quadrant picture itself, or each camera's file of
// the data folder (a .png or .jpg where no bitmap is there).
std::vector<std::filesystem::path> pictureFiles(const std::filesystem::path& source, bool quad);

// The files a record names, with their sizes and checksums: the configuration (h.configPath, read
// from `config`), the pictures already in h.pictures, and the `written` files of the save (below
// `outputFolder`), added to h.files; then h.configSha256 and h.outputSet. The checksums are those
// the session took of the bytes as it read and wrote them; only a file it holds none of is read
// back from the disk.
void recordFiles(station::HistoryRecord& h, const Session& session, const std::filesystem::path& config,
                 const std::vector<WrittenFile>& written, const std::filesystem::path& outputFolder);

// The parts of a record the desktop program and the terminal program fill alike: a camera's
// solved pose, and the refinement's verdict, pixel scatter and worst predicted seam.
void recordPose(station::CameraEntry& entry, const CameraParam& camera);
void recordRefinement(station::HistoryRecord& record, const refine::RefinementReport& report);

// The refinement's verdict and the figures a record and a summary line give for it: the pixel
// scatter and the largest predicted seam misalignment (95th percentile).
struct VerdictFigures {
    std::string verdict;  // "good" or "poor"
    double pixelSigma = 0;
    std::optional<double> worstSeamMm;
};
VerdictFigures verdictFigures(const refine::RefinementReport& report);

// What the history keeps of a save of the session: who, the configuration and pictures with their
// checksums, the calibration's figures and poses, the files written with theirs, the outcome.
station::HistoryRecord saveRecord(Session& session, const SaveResult& save, const station::StationIdentity& identity);

// One line of the history window's list.
struct HistoryRow {
    int64_t id = 0;
    std::array<std::string, 7> cells;  // kHistoryColumns
    std::string certificate;           // the certificate written for it; empty when none was
};
inline constexpr std::array<const char*, 7> kHistoryColumns = {"Time (UTC)", "Vehicle", "Operator", "Station",
                                                               "Model",      "Verdict", "Outcome"};

// The history window's reading of a history: the records of one vehicle or all, newest first,
// and one record whole. Each call opens the history afresh, so records another program (the
// terminal program, another station) added since show up. Failures come back as text naming
// the history.
class HistoryBrowser {
public:
    explicit HistoryBrowser(std::string location) : location_(std::move(location)) {}
    // vehicle: the exact identifier, or empty for every record.
    std::vector<HistoryRow> list(const std::string& vehicle, std::string& error) const;
    // The record as the operator reads it; empty with error set when it cannot be read.
    std::string details(int64_t id, std::string& error) const;
    const std::string& location() const { return location_; }
    // Why a record's certificate cannot be opened: the file is gone or is no file; empty when
    // it is there.
    static std::string certificateProblem(const std::string& certificate);

private:
    std::string location_;
};

}  // namespace mz::core
