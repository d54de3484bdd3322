// calibration-cli's subcommands on one command line: the program's main and the fuzz target of
// the argument parser build the same one.
#ifndef MZ_APP_CLI_COMMAND_LINE_H
#define MZ_APP_CLI_COMMAND_LINE_H

#include <CLI/CLI.hpp>

#include "app/cli/batch_command.h"
#include "app/cli/bowl_command.h"
#include "app/cli/config_command.h"
#include "app/cli/detect_command.h"
#include "app/cli/history_command.h"
#include "app/cli/inspect_command.h"
#include "app/cli/lens_command.h"
#include "app/cli/parking_guide_command.h"
#include "app/cli/run_command.h"
#include "app/cli/simulate_command.h"

namespace mz::cli {

struct CommandLine {
    RunOptions run;
    SimulateOptions simulate;
    InspectOptions inspect;
    ConfigOptions config;
    DetectOptions detect;
    ParkingGuideOptions guide;
    BowlOptions bowl;
    LensOptions lens;
    HistoryOptions history;
    BatchOptions batch;
    CLI::App* configCommand = nullptr;
    CLI::App* historyCommand = nullptr;

    // Adds every subcommand to app (one of them required), its values landing in this record.
    void addTo(CLI::App& app);
    // Runs the subcommand app parsed; 1 when none was.
    int runChosen(const CLI::App& app) const;
    // Whether the subcommand app parsed prints data others read (JSON, a configuration's text).
    bool printsData(const CLI::App& app) const;
    // Whether the libraries' repeated lines are folded in this process: batch leaves that to
    // each bay's own process, whose output goes to the bay's log.
    bool foldsOutput(const CLI::App& app) const;
};

}  // namespace mz::cli

#endif
