// calibration-cli: the calibration workflow without a window.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "app/cli/bowl_command.h"
#include "app/cli/config_command.h"
#include "app/cli/detect_command.h"
#include "app/cli/folded_output.h"
#include "app/cli/inspect_command.h"
#include "app/cli/parking_guide_command.h"
#include "app/cli/lens_command.h"
#include "app/cli/run_command.h"
#include "app/cli/simulate_command.h"

int main(int argc, char** argv) {
    CLI::App app{"Surround-view calibration without a window"};
    app.require_subcommand(1);
    mz::cli::RunOptions run;
    mz::cli::addRunCommand(app, run);
    mz::cli::SimulateOptions simulate;
    mz::cli::addSimulateCommand(app, simulate);
    mz::cli::InspectOptions inspect;
    mz::cli::addInspectCommand(app, inspect);
    mz::cli::ConfigOptions config;
    CLI::App* configCommand = mz::cli::addConfigCommand(app, config);
    mz::cli::DetectOptions detect;
    mz::cli::addDetectCommand(app, detect);
    mz::cli::ParkingGuideOptions guide;
    mz::cli::addParkingGuideCommand(app, guide);
    mz::cli::BowlOptions bowl;
    mz::cli::addBowlCommand(app, bowl);
    mz::cli::LensOptions lens;
    mz::cli::addLensCommand(app, lens);
    // Every failure exits with 1, a wrong command line included.
    bool known = false;
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
        known = known || (argc > 1 && sub->get_name() == argv[1]);
    }
    if (argc > 1 && argv[1][0] != '-' && !known) {
        std::fprintf(stderr, "calibration-cli: unknown subcommand \"%s\"; the subcommands are %s (--help)\n", argv[1],
                     names.c_str());
        return 1;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 1;
    }
    const mz::cli::FoldedStdout folded;
    try {
        if (app.got_subcommand("run")) return mz::cli::runRun(run);
        if (app.got_subcommand("simulate")) return mz::cli::runSimulate(simulate);
        if (app.got_subcommand("inspect")) return mz::cli::runInspect(inspect);
        if (app.got_subcommand("lens")) return mz::cli::runLens(lens);
        if (app.got_subcommand("config")) return mz::cli::runConfig(*configCommand, config);
        if (app.got_subcommand("detect")) return mz::cli::runDetect(detect);
        if (app.got_subcommand("parking-guide")) return mz::cli::runParkingGuide(guide);
        if (app.got_subcommand("bowl")) return mz::cli::runBowl(bowl);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calibration-cli: %s\n", e.what());
        return 1;
    }
    return 1;
}
