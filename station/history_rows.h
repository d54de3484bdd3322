// The columns every backend reads and writes in the same order, and the records read back from
// a row of them. Row: any result row with text, integer, real, optionalInteger and
// optionalReal by column number.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "station/history_record.h"

namespace mz::station {

inline constexpr const char* kRunColumns =
    "id, recorded_at, station, operator, vehicle, software_version, model, model_code, config_path, "
    "config_sha256, mode, calibration_result, verdict, pixel_sigma, worst_seam_mm, profile, profile_overridden, "
    "output_folder, output_set, outcome, message, certificate";
inline constexpr int kRunDetailsColumn = 22;  // after kRunColumns, in a query of one whole run

inline constexpr const char* kCameraColumns =
    "camera, detection, corrected, posed, pos_x, pos_y, pos_z, rot_x, rot_y, rot_z, rms_px, tolerance, "
    "tolerance_note";
inline constexpr const char* kFileColumns = "kind, path, identifier, bytes, sha256";

template <typename Row>
HistoryRecord readRun(const Row& s) {
    HistoryRecord r;
    r.id = s.integer(0);
    r.recordedAt = s.text(1);
    r.station = s.text(2);
    r.operatorName = s.text(3);
    r.vehicle = s.text(4);
    r.softwareVersion = s.text(5);
    r.model = s.text(6);
    r.modelCode = s.integer(7);
    r.configPath = s.text(8);
    r.configSha256 = s.text(9);
    r.mode = s.text(10);
    r.calibrationResult = s.optionalInteger(11);
    r.verdict = s.text(12);
    r.pixelSigma = s.optionalReal(13);
    r.worstSeamMm = s.optionalReal(14);
    r.profile = s.text(15);
    r.profileOverridden = s.integer(16) != 0;
    r.outputFolder = s.text(17);
    r.outputSet = s.text(18);
    r.outcome = parseOutcome(s.text(19)).value_or(Outcome::kFailed);
    r.message = s.text(20);
    r.certificatePath = s.text(21);
    return r;
}

// A row of kCameraColumns into its camera of r; a camera this program does not know is skipped.
template <typename Row>
void readCamera(const Row& s, HistoryRecord& r) {
    const std::string key = s.text(0);
    for (int c = 0; c < kStationCameras; ++c) {
        if (key != kStationCameraKeys[c]) continue;
        CameraEntry& k = r.cameras[c];
        k.detection = s.optionalInteger(1);
        k.corrected = s.integer(2) != 0;
        k.posed = s.integer(3) != 0;
        k.posX = s.real(4);
        k.posY = s.real(5);
        k.posZ = s.real(6);
        k.rotX = s.real(7);
        k.rotY = s.real(8);
        k.rotZ = s.real(9);
        k.rmsPx = s.optionalReal(10);
        k.tolerance = s.text(11);
        k.toleranceNote = s.text(12);
    }
}

// A row of kFileColumns into the pictures or the output files of r.
template <typename Row>
void readFile(const Row& s, HistoryRecord& r) {
    FileEntry f{s.text(1), s.optionalInteger(2), s.integer(3), s.text(4)};
    (s.text(0) == "picture" ? r.pictures : r.files).push_back(std::move(f));
}

// The WHERE clause of filter with numbered parameters (prefix "?" or "$"), their values in order.
std::string filterClause(const HistoryFilter& filter, const char* prefix, std::vector<std::string>& values);

}  // namespace mz::station
