#include "app/cli/run_station.h"

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/core/camera_pictures.h"
#include "format/picture.h"
#include "station/checksum.h"
#include "station/history_text.h"

namespace mz::cli {

namespace {

// A path as it will still name the file when the record is read elsewhere, later.
std::string absolutePath(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec);
    return (ec ? path : whole.lexically_normal()).string();
}

station::FileEntry fileEntry(const std::filesystem::path& path, const std::string& name) {
    station::FileEntry f;
    f.path = name;
    if (const std::optional<station::FileDigest> digest = station::fileDigest(path)) {
        f.bytes = digest->bytes;
        f.sha256 = digest->sha256;
    }
    return f;
}

// The picture files the run read: the four-quadrant picture, or each camera's file of the
// data folder (a .png or .jpg where no bitmap is there).
std::vector<station::FileEntry> pictureEntries(const RunOptions& o, int32_t modelCode) {
    std::vector<station::FileEntry> out;
    if (!o.quad.empty() && modelCode > 200) {
        out.push_back(fileEntry(o.quad, absolutePath(o.quad)));
        return out;
    }
    for (const char* name : core::kDefaultImageNames) {
        const std::filesystem::path bitmap = std::filesystem::path(o.data) / name;
        const std::optional<std::filesystem::path> found =
            format::findPicture(bitmap.parent_path(), bitmap.stem().string());
        if (found) out.push_back(fileEntry(*found, absolutePath(*found)));
    }
    return out;
}

}  // namespace

std::array<station::ToleranceCheck, core::kCameraCount> checkAgainstProfile(const station::StationProfile& profile,
                                                                            const core::CalibrationState& state) {
    std::array<station::PoseValues, station::kStationCameras> poses{};
    for (int c = 0; c < core::kCameraCount; ++c) {
        const CameraParam& cam = state.cameras[c];
        poses[c] = {cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotZ, cam.rotY};
    }
    return station::checkTolerances(profile, poses);
}

station::HistoryRecord historyRecord(const RunRecord& r, const RunOptions& o, core::Session& session,
                                     const nlohmann::json& report) {
    station::HistoryRecord h;
    h.recordedAt = station::utcNow();
    h.station = r.identity.station;
    h.operatorName = r.identity.operatorName;
    h.vehicle = r.identity.vehicle;
    h.softwareVersion = MZ_SOFTWARE_VERSION;
    h.model = r.model;
    h.modelCode = r.modelCode;
    h.configPath = absolutePath(o.config);
    h.configSha256 = fileEntry(o.config, o.config).sha256;
    h.mode = r.survey ? "survey" : "pattern";
    if (r.calibrationResult) h.calibrationResult = *r.calibrationResult;
    if (r.refinement && r.refinement->ran) {
        const refine::RefinementReport& f = *r.refinement;
        h.verdict = f.good ? "good" : "poor";
        h.pixelSigma = f.rig.after.pixelSigma;
        for (const refine::SeamFigures& s : f.rig.after.seams) {
            if (s.predictedP95Mm >= 0) h.worstSeamMm = std::max(h.worstSeamMm.value_or(0.0), s.predictedP95Mm);
        }
    }
    h.profile = r.profileName;
    h.profileOverridden =
        r.tolerance && !r.refused &&
        std::any_of(r.tolerance->begin(), r.tolerance->end(), [](const auto& t) { return !t.within; });
    const core::CalibrationState& s = session.calibration();
    for (int c = 0; c < core::kCameraCount; ++c) {
        station::CameraEntry& k = h.cameras[c];
        const CameraParam& cam = s.cameras[c];
        if (!r.survey) k.detection = r.detection[c];
        k.corrected = r.corrected[c];
        k.posed = r.applied;
        k.posX = cam.posX;
        k.posY = cam.posY;
        k.posZ = cam.posZ;
        k.rotX = cam.rotX;
        k.rotY = cam.rotY;
        k.rotZ = cam.rotZ;
        if (r.applied && r.survey) k.rmsPx = session.surveyPoses()[c].rmsPx;
        if (r.applied && r.refinement && r.refinement->ran) k.rmsPx = r.refinement->rig.after.cameras[c].rmsPx;
        if (r.tolerance) {
            const station::ToleranceCheck& t = (*r.tolerance)[c];
            k.tolerance = t.within ? "within" : "outside";
            for (const std::string& line : t.outside) k.toleranceNote += (k.toleranceNote.empty() ? "" : "; ") + line;
        }
    }
    h.pictures = pictureEntries(o, r.modelCode);
    h.outputFolder = r.outputFolder.empty() ? std::string() : absolutePath(r.outputFolder);
    if (r.savedAll) {
        for (const core::WrittenFile& w : r.saved.written) {
            station::FileEntry f = fileEntry(std::filesystem::path(r.outputFolder) / w.path, w.path.generic_string());
            f.identifier = w.identifier;
            h.files.push_back(f);
        }
    }
    h.outputSet = station::outputSetIdentity(h.files);
    h.outcome = r.savedAll  ? station::Outcome::kSaved
                : r.refused ? station::Outcome::kRefused
                            : station::Outcome::kFailed;
    if (!r.savedAll && r.error) h.message = *r.error;
    if (report.contains("refinement")) h.details = report["refinement"].dump();
    return h;
}

}  // namespace mz::cli
