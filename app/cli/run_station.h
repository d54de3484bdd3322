// What calibration-cli run hands the station: the solved poses against the profile, and the run
// as its history records it.
#pragma once

#include <array>

#include <nlohmann/json_fwd.hpp>

#include "app/cli/run_options.h"
#include "app/cli/run_report.h"
#include "station/history_record.h"
#include "station/profile.h"

namespace mz::cli {

std::array<station::ToleranceCheck, core::kCameraCount> checkAgainstProfile(const station::StationProfile& profile,
                                                                            const core::CalibrationState& state);

// The run with the checksums of its Config.bin, pictures and output files (read back from the
// output folder). report: the run's JSON report, whose refinement figures the record keeps.
station::HistoryRecord historyRecord(const RunRecord& record, const RunOptions& options, core::Session& session,
                                     const nlohmann::json& report);

}  // namespace mz::cli
