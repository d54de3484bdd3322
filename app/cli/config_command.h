// calibration-cli config: Config.bin shown as text or JSON, built from JSON, and a starting JSON
// for a new vehicle.
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
    // config new
    std::string lensFiles[4];  // front, rear, left, right
    std::string pictureSize;   // WxH
    int vehicleWidth = 0, vehicleLength = 0;
    double markerLength = 0;
    std::string model = "AVM 1.65";
    std::string newOut;
};

// Adds "config show", "config build" and "config new"; returns the "config" command so main can tell which ran.
CLI::App* addConfigCommand(CLI::App& app, ConfigOptions& options);

// Exit status: 0 done, 1 a file cannot be read, the JSON or the new vehicle's values are refused
// (nothing written).
int runConfig(const CLI::App& config, const ConfigOptions& options);

}  // namespace mz::cli
