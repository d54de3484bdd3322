// calibration-cli simulate: renders a synthetic calibration bay into a folder.
#pragma once

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct SimulateOptions {
    std::string out;
    uint64_t seed = 1;
    std::string imageSize = "720x480";
    std::string model = "AVM 1.65";
    double markerLength = 800;
    double noise = 2.0;
    bool quad = false;
    std::string layout = "drawn";   // or "fixed": the plant's bay of the corner and marker detectors
    std::string realism = "clean";  // the level of the effects below; each given one overrides it
    // Negative: as the level has it.
    double rimBlur = -1;
    double noiseGain = -1;
    double chroma = -1;
    double light = -1;
    double shadow = -1;
    double wear = -1;
    int jpeg = -1;
    double glare = -1;
    double cable = -1;
};

void addSimulateCommand(CLI::App& app, SimulateOptions& options);

// Exit status: 0 when the scene was written. Throws on a refused or unwritable scene.
int runSimulate(const SimulateOptions& options);

// "WxH" into its two numbers; false for anything else or a non-positive size.
bool parseImageSize(const std::string& text, int& width, int& height);

}  // namespace mz::cli
