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

// The picture files the run read: the four-quadrant picture, or each camera's file of the
// data folder (a .png or .jpg where no bitmap is there).
std::vector<std::filesystem::path> picturePaths(const RunOptions& o, int32_t modelCode) {
    if (!o.quad.empty() && modelCode > 200) return {o.quad};
    std::vector<std::filesystem::path> out;
    for (const char* name : core::kDefaultImageNames) {
        const std::filesystem::path bitmap = std::filesystem::path(o.data) / name;
        const std::optional<std::filesystem::path> found =
            format::findPicture(bitmap.parent_path(), bitmap.stem().string());
        if (found) out.push_back(*found);
    }
    return out;
}

// Every file's size and checksum at once; a file that cannot be read keeps an empty checksum.
void fillDigests(const std::vector<std::pair<station::FileEntry*, std::filesystem::path>>& files) {
    std::vector<std::filesystem::path> paths;
    for (const auto& f : files) paths.push_back(f.second);
    const std::vector<std::optional<station::FileDigest>> digests = station::fileDigests(paths);
    for (size_t i = 0; i < files.size(); ++i) {
        if (!digests[i]) continue;
        files[i].first->bytes = digests[i]->bytes;
        files[i].first->sha256 = digests[i]->sha256;
    }
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

RunOutcome runOutcome(const RunRecord& r) {
    RunOutcome out;
    if (r.refinement && r.refinement->ran) {
        const refine::RefinementReport& f = *r.refinement;
        out.verdict = f.good ? "good" : "poor";
        out.pixelSigma = f.rig.after.pixelSigma;
        for (const refine::SeamFigures& s : f.rig.after.seams) {
            if (s.predictedP95Mm >= 0) out.worstSeamMm = std::max(out.worstSeamMm.value_or(0.0), s.predictedP95Mm);
        }
    }
    out.outcome = r.savedAll  ? station::Outcome::kSaved
                  : r.refused ? station::Outcome::kRefused
                              : station::Outcome::kFailed;
    if (!r.savedAll && r.error) out.message = *r.error;
    return out;
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
    h.mode = r.survey ? "survey" : "pattern";
    if (r.calibrationResult) h.calibrationResult = *r.calibrationResult;
    const RunOutcome outcome = runOutcome(r);
    h.verdict = outcome.verdict;
    h.pixelSigma = outcome.pixelSigma;
    h.worstSeamMm = outcome.worstSeamMm;
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
    h.outputFolder = r.outputFolder.empty() ? std::string() : absolutePath(r.outputFolder);
    for (const std::filesystem::path& p : picturePaths(o, r.modelCode))
        h.pictures.push_back({absolutePath(p), std::nullopt, 0, ""});
    if (r.savedAll) {
        for (const core::WrittenFile& w : r.saved.written)
            h.files.push_back({w.path.generic_string(), w.identifier, 0, ""});
    }
    station::FileEntry config{h.configPath, std::nullopt, 0, ""};
    std::vector<std::pair<station::FileEntry*, std::filesystem::path>> read{{&config, o.config}};
    for (station::FileEntry& f : h.pictures) read.emplace_back(&f, f.path);
    for (station::FileEntry& f : h.files) read.emplace_back(&f, std::filesystem::path(r.outputFolder) / f.path);
    fillDigests(read);
    h.configSha256 = config.sha256;
    h.outputSet = station::outputSetIdentity(h.files);
    h.outcome = outcome.outcome;
    h.message = outcome.message;
    if (report.contains("refinement")) h.details = report["refinement"].dump();
    return h;
}

}  // namespace mz::cli
