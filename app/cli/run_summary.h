// What calibration-cli run prints when it ends: the summary of a run that saved its files, and
// the warnings of a poor calibration.
#pragma once

#include "app/cli/run_options.h"
#include "app/cli/run_report.h"
#include "app/core/session.h"

namespace mz::cli {

void printRunSummary(const RunRecord& record, const RunOptions& options, core::Session& session);
// Poor figures do not stop the files being written; they end the run with a warning on stderr.
void warnAboutQuality(const RunRecord& record);

}  // namespace mz::cli
