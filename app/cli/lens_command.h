// calibration-cli lens import: a camera's lens fields for the configuration's JSON from an
// OpenCV fisheye calibration.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct LensOptions {
    std::string opencvFisheye;
    std::string name;
};

void addLensCommand(CLI::App& app, LensOptions& options);

// Exit status: 0 when the fitted inverse is within 0.5 px over the whole picture, 1 otherwise.
int runLens(const LensOptions& options);

}  // namespace mz::cli
