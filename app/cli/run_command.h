// calibration-cli run: the whole workflow on one data folder, without an operator.
#pragma once

#include "app/cli/run_options.h"

namespace mz::cli {

// Exit status: 0 when every step succeeded and the files were saved.
int runRun(const RunOptions& options);

}  // namespace mz::cli
