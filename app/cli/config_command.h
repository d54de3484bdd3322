// calibration-cli config: Config.bin shown as text or JSON, and built from JSON.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct ConfigOptions {
    std::string showFile;
    bool json = false;
    std::string showOut;  // JSON file (car images go beside it); stdout when empty
    std::string buildFile;
    std::string buildOut;
};

// Adds "config show" and "config build"; returns the "config" command so main can tell which ran.
CLI::App* addConfigCommand(CLI::App& app, ConfigOptions& options);

// Exit status: 0 done, 1 the file cannot be read or the JSON is refused (nothing written).
int runConfig(const CLI::App& config, const ConfigOptions& options);

}  // namespace mz::cli
