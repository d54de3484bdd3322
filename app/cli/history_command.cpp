#include "app/cli/history_command.h"

#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "format/atomic_file.h"
#include "station/history.h"
#include "station/history_text.h"

namespace mz::cli {

namespace {

void addHistoryLocation(CLI::App* cmd, HistoryOptions& o) {
    cmd->add_option("--history", o.history,
                    "History file (default: $XDG_DATA_HOME/avm-calibration/history.sqlite, or "
                    "~/.local/share/avm-calibration/history.sqlite), or a PostgreSQL server's "
                    "postgresql://user@host/database address");
}

void addHistoryFilters(CLI::App* cmd, HistoryOptions& o) {
    cmd->add_option("--vehicle", o.vehicle, "Only the runs of this vehicle identifier");
    cmd->add_option("--since", o.since, "Only the runs recorded at or after this UTC date (YYYY-MM-DD[THH:MM[:SS]])");
    cmd->add_option("--verdict", o.verdict, "Only the runs of this verdict")->check(CLI::IsMember({"good", "poor"}));
}

station::HistoryFilter historyFilter(const HistoryOptions& o) {
    if (!o.since.empty()) {
        if (const auto why = station::checkSince(o.since)) throw std::runtime_error(*why);
    }
    return {o.vehicle, o.since, o.verdict};
}

int listRuns(station::History& history, const HistoryOptions& o) {
    const std::vector<station::HistoryRecord> runs = history.list(historyFilter(o));
    if (o.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const station::HistoryRecord& r : runs) out.push_back(station::recordJson(r, false));
        std::printf("%s\n", out.dump(2).c_str());
        return 0;
    }
    std::printf("%6s  %-20s  %-20s  %-12s  %-12s  %-7s  %s\n", "run", "recorded (UTC)", "vehicle", "station",
                "operator", "verdict", "outcome");
    for (const station::HistoryRecord& r : runs) {
        std::printf("%6lld  %-20s  %-20s  %-12s  %-12s  %-7s  %s%s%s\n", static_cast<long long>(r.id),
                    r.recordedAt.c_str(), r.vehicle.c_str(), r.station.c_str(), r.operatorName.c_str(),
                    r.verdict.empty() ? "-" : r.verdict.c_str(), station::outcomeName(r.outcome),
                    r.message.empty() ? "" : ": ", r.message.c_str());
    }
    std::printf("%zu run%s in %s\n", runs.size(), runs.size() == 1 ? "" : "s", history.location().c_str());
    return 0;
}

int showRun(station::History& history, const HistoryOptions& o) {
    const std::optional<station::HistoryRecord> r = history.find(o.id);
    if (!r) {
        std::fprintf(stderr, "calibration-cli history: no run %lld in %s\n", static_cast<long long>(o.id),
                     history.location().c_str());
        return 1;
    }
    if (o.json) {
        std::printf("%s\n", station::recordJson(*r, true).dump(2).c_str());
    } else {
        std::printf("%s", station::recordText(*r).c_str());
    }
    return 0;
}

int exportRuns(station::History& history, const HistoryOptions& o) {
    std::vector<station::HistoryRecord> runs;
    for (const station::HistoryRecord& r : history.list(historyFilter(o))) {
        if (std::optional<station::HistoryRecord> whole = history.find(r.id)) runs.push_back(std::move(*whole));
    }
    format::writeFileAtomically(o.csv, station::recordsCsv(runs));
    std::printf("%zu run%s written to %s\n", runs.size(), runs.size() == 1 ? "" : "s", o.csv.c_str());
    return 0;
}

}  // namespace

std::string historyLocation(const std::string& option) {
    return option.empty() ? station::defaultHistoryPath().string() : option;
}

CLI::App* addHistoryCommand(CLI::App& app, HistoryOptions& o) {
    CLI::App* cmd = app.add_subcommand("history", "The station's recorded runs: list, show one, export as CSV");
    cmd->require_subcommand(1);
    CLI::App* listCmd = cmd->add_subcommand("list", "One line a recorded run, oldest first");
    addHistoryLocation(listCmd, o);
    addHistoryFilters(listCmd, o);
    listCmd->add_flag("--json", o.json, "The runs as a JSON array");
    CLI::App* showCmd = cmd->add_subcommand("show", "Everything recorded of one run");
    addHistoryLocation(showCmd, o);
    showCmd->add_option("ID", o.id, "The run's number, as history list shows it")->required();
    showCmd->add_flag("--json", o.json, "The run as JSON");
    CLI::App* exportCmd = cmd->add_subcommand("export", "The runs as CSV, one line a run with each camera's pose");
    addHistoryLocation(exportCmd, o);
    addHistoryFilters(exportCmd, o);
    exportCmd->add_option("--csv", o.csv, "The CSV file to write")->required();
    return cmd;
}

int runHistory(const CLI::App& command, const HistoryOptions& o) {
    try {
        const std::unique_ptr<station::History> history = station::openHistory(historyLocation(o.history), false);
        if (command.got_subcommand("list")) return listRuns(*history, o);
        if (command.got_subcommand("show")) return showRun(*history, o);
        if (command.got_subcommand("export")) return exportRuns(*history, o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calibration-cli history: %s\n", e.what());
    }
    return 1;
}

}  // namespace mz::cli
