// calibration-cli run: the whole workflow on one data folder, without an operator.
#pragma once

#include "app/cli/run_options.h"
#include "app/cli/run_station.h"

namespace mz::cli {

// Exit status: 0 when every step succeeded and the files were saved (and recorded, with a
// history). outcome, when given, receives what the run came to (batch's line per vehicle).
int runRun(const RunOptions& options, RunOutcome* outcome = nullptr);

}  // namespace mz::cli
