#include "app/cli/command_line.h"

namespace mz::cli {

void CommandLine::addTo(CLI::App& app) {
    app.require_subcommand(1);
    addRunCommand(app, run);
    addSimulateCommand(app, simulate);
    addInspectCommand(app, inspect);
    configCommand = addConfigCommand(app, config);
    addDetectCommand(app, detect);
    addParkingGuideCommand(app, guide);
    addBowlCommand(app, bowl);
    addLensCommand(app, lens);
    historyCommand = addHistoryCommand(app, history);
    addBatchCommand(app, batch);
}

int CommandLine::runChosen(const CLI::App& app) const {
    if (app.got_subcommand("run")) return runRun(run);
    if (app.got_subcommand("simulate")) return runSimulate(simulate);
    if (app.got_subcommand("inspect")) return runInspect(inspect);
    if (app.got_subcommand("lens")) return runLens(lens);
    if (app.got_subcommand("config")) return runConfig(*configCommand, config);
    if (app.got_subcommand("detect")) return runDetect(detect);
    if (app.got_subcommand("parking-guide")) return runParkingGuide(guide);
    if (app.got_subcommand("bowl")) return runBowl(bowl);
    if (app.got_subcommand("history")) return runHistory(*historyCommand, history);
    if (app.got_subcommand("batch")) return runBatch(batch);
    return 1;
}

bool CommandLine::printsData(const CLI::App& app) const {
    return app.got_subcommand("config") || app.got_subcommand("lens");
}

bool CommandLine::foldsOutput(const CLI::App& app) const { return !app.got_subcommand("batch"); }

}  // namespace mz::cli
