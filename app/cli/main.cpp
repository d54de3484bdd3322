// calibration-cli: the calibration workflow without a window.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "app/cli/simulate_command.h"

int main(int argc, char** argv) {
    CLI::App app{"Surround-view calibration without a window"};
    app.require_subcommand(1);
    mz::cli::SimulateOptions simulate;
    mz::cli::addSimulateCommand(app, simulate);
    CLI11_PARSE(app, argc, argv);
    try {
        if (app.got_subcommand("simulate")) return mz::cli::runSimulate(simulate);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calibration-cli: %s\n", e.what());
        return 1;
    }
    return 2;
}
