// What calibration-cli run hands the station: the solved poses against the profile, and the run
// as its history records it.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "app/cli/run_options.h"
#include "app/cli/run_report.h"
#include "station/history_record.h"
#include "station/profile.h"

namespace mz::cli {

// What a run came to, as its record and a batch's lines say it.
struct RunOutcome {
    station::Outcome outcome = station::Outcome::kFailed;
    std::string verdict;  // "good", "poor", or empty where no refinement judged the rig
    std::optional<double> pixelSigma;
    std::optional<double> worstSeamMm;  // the largest predicted seam misalignment (95th percentile)
    std::string message;                // why it failed or was refused; empty when saved
};
RunOutcome runOutcome(const RunRecord& record);

// The run with the checksums of its Config.bin, pictures and output files (as the session read
// and wrote them). report: the run's JSON report, whose refinement figures the record keeps.
station::HistoryRecord historyRecord(const RunRecord& record, const RunOptions& options, core::Session& session,
                                     const nlohmann::json& report);

}  // namespace mz::cli
