#include "app/cli/run_station.h"

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/core/station_records.h"
#include "station/history_text.h"

namespace mz::cli {

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
    // Only files the save put in place are named: a failed save claims none.
    core::recordFiles(h, session, o.config, r.savedAll ? r.saved.written : std::vector<core::WrittenFile>{},
                      r.outputFolder);
    h.outcome = outcome.outcome;
    h.message = outcome.message;
    if (report.contains("refinement")) h.details = report["refinement"].dump();
    return h;
}

}  // namespace mz::cli
