#include "app/cli/simulate_command.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "sim/fixed_bay.h"
#include "sim/rig.h"
#include "sim/scene.h"

namespace mz::cli {

void addSimulateCommand(CLI::App& app, SimulateOptions& o) {
    CLI::App* cmd = app.add_subcommand("simulate", "Render a synthetic calibration bay with known truth");
    cmd->add_option("--out", o.out, "Folder for Config.bin, image/ and truth.json")->required();
    cmd->add_option("--seed", o.seed, "Seed of the random parts of the bay")->capture_default_str();
    cmd->add_option("--image-size", o.imageSize, "Picture size WxH (720x480, 640x480, 1280x720)")
        ->capture_default_str();
    cmd->add_option("--model", o.model, "Model name written into Config.bin")->capture_default_str();
    cmd->add_option("--marker-length", o.markerLength, "Outer side of the triangles, mm")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    cmd->add_option("--noise", o.noise, "Standard deviation of the picture noise, grey levels")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    cmd->add_flag("--quad", o.quad, "Also write the four-quadrant picture image/quad.bmp");
    cmd->add_option("--layout", o.layout,
                    "drawn: triangles and poses drawn from the seed for the workflow's detection; fixed: a "
                    "plant's bay whose targets fall in the search rectangles of the corner and marker "
                    "detectors (layout codes 0 front, 1 rear, 2 left, 3 right; 720x480 only)")
        ->capture_default_str()
        ->check(CLI::IsMember({"drawn", "fixed"}));
}

bool parseImageSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    const std::string w = text.substr(0, x), h = text.substr(x + 1);
    for (const std::string* part : {&w, &h}) {
        if (part->size() > 5 || part->find_first_not_of("0123456789") != std::string::npos) return false;
    }
    width = std::stoi(w);
    height = std::stoi(h);
    return width > 0 && height > 0;
}

int runSimulate(const SimulateOptions& o) {
    sim::RigOptions options;
    if (!parseImageSize(o.imageSize, options.width, options.height)) {
        throw std::invalid_argument("--image-size must be WxH, e.g. 720x480, not \"" + o.imageSize + "\"");
    }
    if (options.width < 64 || options.height < 64) {
        throw std::invalid_argument("--image-size " + o.imageSize + " is too small for a calibration picture");
    }
    options.seed = o.seed;
    options.model = o.model;
    options.markerLength = o.markerLength;
    options.noiseSigma = o.noise;
    options.quad = o.quad;
    const auto start = std::chrono::steady_clock::now();
    const sim::Rig rig = o.layout == "fixed" ? sim::fixedRig(options) : sim::drawRig(options);
    sim::writeScene(o.out, rig);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("simulate: wrote %s (seed %llu, %dx%d, %d draw%s, %.2f s)\n", o.out.c_str(),
                static_cast<unsigned long long>(o.seed), options.width, options.height, rig.attempts,
                rig.attempts == 1 ? "" : "s", seconds);
    return 0;
}

}  // namespace mz::cli
