// calibration-cli batch: many bays calibrated as run calibrates one, several at once.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/run_options.h"

namespace CLI {
class App;
}

namespace mz::cli {

struct BatchOptions {
    RunOptions run;  // what every bay's run shares; its folders and vehicle are the bay's own
    std::vector<std::string> bays;
    std::string list;
    std::string outRoot;
    std::string summary;
    unsigned jobs = 0;          // the machine's cores when 0
    bool certificates = false;  // each bay's output folder gets its certificate
    // Run's options that a batch gives each bay itself, by option: refused with what it does instead.
    std::vector<std::pair<std::string, std::string>> ownOptions;
};

// One bay as batch runs it.
struct Bay {
    std::string folder;   // its data folder (image/...)
    std::string vehicle;  // the folder's name unless the list gives one
};

void addBatchCommand(CLI::App& app, BatchOptions& options);

// The bays a batch names: folders given one by one, the lines of a list file ("FOLDER" or
// "FOLDER,VEHICLE"; relative to the list's folder; # comments), or the bay folders inside one
// folder. Throws std::runtime_error naming what is wrong, a bay without its own file of a per-bay
// option among it.
std::vector<Bay> batchBays(const BatchOptions& options);

// The run of one bay: its folder, vehicle and output folder; a relative --points, --survey,
// --quad or --overlay taken in the bay folder, --snapshot in the output folder.
RunOptions bayRun(const BatchOptions& options, const Bay& bay, const std::filesystem::path& output);

// Exit status: 0 only when every bay was saved with the verdict good.
int runBatch(const BatchOptions& options);

}  // namespace mz::cli
