// calibration-cli history: the station's recorded runs listed, shown and exported.
#pragma once

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct HistoryOptions {
    std::string history;  // the default place when empty
    std::string vehicle;
    std::string since;
    std::string verdict;
    bool json = false;
    int64_t id = 0;
    std::string csv;
};

// Adds "history list", "history show" and "history export"; returns the "history" command.
CLI::App* addHistoryCommand(CLI::App& app, HistoryOptions& options);

// Exit status: 0 done, 1 no such history or run, or the history cannot be read.
int runHistory(const CLI::App& history, const HistoryOptions& options);

// The history a command names: --history, or the default place.
std::string historyLocation(const std::string& option);

}  // namespace mz::cli
