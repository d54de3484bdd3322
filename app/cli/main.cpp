// calibration-cli: the calibration workflow without a window.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "app/cli/bowl_command.h"
#include "app/cli/config_command.h"
#include "app/cli/detect_command.h"
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
    CLI11_PARSE(app, argc, argv);
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
    return 2;
}
