#include "app/cli/run_station.h"

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/core/station_records.h"
#include "station/checksum.h"
#include "station/history_text.h"

namespace mz::cli {

namespace {

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

RunOutcome runOutcome(const RunRecord& r) {
    RunOutcome out;
    if (r.refinement && r.refinement->ran) {
        const core::VerdictFigures v = core::verdictFigures(*r.refinement);
        out.verdict = v.verdict;
        out.pixelSigma = v.pixelSigma;
        out.worstSeamMm = v.worstSeamMm;
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
    h.configPath = core::recordedPath(o.config);
    h.mode = r.survey ? "survey" : "pattern";
    if (r.calibrationResult) h.calibrationResult = *r.calibrationResult;
    const RunOutcome outcome = runOutcome(r);
    h.verdict = outcome.verdict;
    h.pixelSigma = outcome.pixelSigma;
    h.worstSeamMm = outcome.worstSeamMm;
    h.profile = r.profileName;
    const core::CalibrationState& s = session.calibration();
    for (int c = 0; c < core::kCameraCount; ++c) {
        station::CameraEntry& k = h.cameras[c];
        if (!r.survey) k.detection = r.detection[c];
        k.corrected = r.corrected[c];
        k.posed = r.applied;
        core::recordPose(k, s.cameras[c]);
        if (r.applied && r.survey) k.rmsPx = session.surveyPoses()[c].rmsPx;
        if (r.applied && r.refinement && r.refinement->ran) k.rmsPx = r.refinement->rig.after.cameras[c].rmsPx;
    }
    if (r.tolerance) core::recordTolerance(h, r.profileName, *r.tolerance, r.refused);
    h.outputFolder = r.outputFolder.empty() ? std::string() : core::recordedPath(r.outputFolder);
    const bool quad = !o.quad.empty() && r.modelCode > 200;
    for (const std::filesystem::path& p : core::pictureFiles(quad ? o.quad : o.data, quad))
        h.pictures.push_back({core::recordedPath(p), std::nullopt, 0, ""});
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
