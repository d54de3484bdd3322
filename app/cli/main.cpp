// calibration-cli: the calibration workflow without a window.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "app/cli/command_line.h"
#include "app/cli/folded_output.h"

int main(int argc, char** argv) {
    CLI::App app{"Surround-view calibration without a window"};
    mz::cli::CommandLine commands;
    commands.addTo(app);
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
    std::optional<mz::cli::FoldedStdout> folded;
    if (commands.foldsOutput(app)) folded.emplace(commands.printsData(app));
    try {
        return commands.runChosen(app);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calibration-cli: %s\n", e.what());
        return 1;
    }
}
