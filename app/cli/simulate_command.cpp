#include "app/cli/simulate_command.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "app/cli/option_checks.h"
#include "format/config_model.h"

#include "sim/fixed_bay.h"
#include "sim/render.h"
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
        ->check(numberWithin(100, 5000));
    cmd->add_option("--noise", o.noise, "Standard deviation of the picture noise, grey levels")
        ->capture_default_str()
        ->check(numberWithin(0, 255));
    cmd->add_flag("--quad", o.quad, "Also write the four-quadrant picture image/quad.bmp");
    cmd->add_option("--layout", o.layout,
                    "drawn: triangles and poses drawn from the seed for the workflow's detection; fixed: a "
                    "plant's bay whose targets fall in the search rectangles of the corner and marker "
                    "detectors (layout codes 0 front, 1 rear, 2 left, 3 right; 720x480 only)")
        ->capture_default_str()
        ->check(CLI::IsMember({"drawn", "fixed"}));
    cmd->add_option("--realism", o.realism,
                    "What a plant's cameras and bay add: clean (plain pictures), mild (a good camera in a tidy "
                    "bay: soft rim, light shadow, JPEG 92), real (a plant's usual: rim blur 1.6 px, shot noise, "
                    "colour fringes 0.6 px, light +-30 %, the vehicle's shadow, worn bands, JPEG 80, a glare "
                    "spot) or harsh (all of it stronger, JPEG 65, and a cable across one band). The options "
                    "below set one effect each, over the level's value; 0 turns it off")
        ->capture_default_str()
        ->check(CLI::IsMember({"clean", "mild", "real", "harsh"}));
    const char* level = "Effects (default: as --realism has it)";
    cmd->add_option("--rim-blur", o.rimBlur,
                    "Blur sigma at the image circle's edge, px; the centre keeps the plain 0.6 px and the "
                    "softness grows with the square of the radius")
        ->check(numberWithin(0, 50))
        ->group(level);
    cmd->add_option("--noise-gain", o.noiseGain,
                    "Shot noise: variance added per grey level of signal (0.3 gives about 8 grey levels on "
                    "the bright floor), on top of --noise")
        ->check(numberWithin(0, 100))
        ->group(level);
    cmd->add_option("--chroma", o.chroma,
                    "Lateral colour at the rim, px: red shifted outwards and blue inwards by as much, green "
                    "in place")
        ->check(numberWithin(0, 50))
        ->group(level);
    cmd->add_option("--light", o.light,
                    "Uneven hall light over the floor: the fraction it swings either way (0.45 for +-45 %)")
        ->check(numberWithin(0, 0.9))
        ->group(level);
    cmd->add_option("--shadow", o.shadow,
                    "The vehicle's soft shadow reaching over the nearer triangles: the fraction of the light it takes")
        ->check(numberWithin(0, 0.9))
        ->group(level);
    cmd->add_option("--wear", o.wear,
                    "Worn and dusty bands: the fraction of the band-to-floor contrast lost (0.5 halves it)")
        ->check(numberWithin(0, 0.9))
        ->group(level);
    cmd->add_option("--jpeg", o.jpeg, "Write the pictures as image/*.jpg at this quality (1-100); 0: bitmap files")
        ->check(wholeWithin(0, 100))
        ->group(level);
    cmd->add_option("--glare", o.glare, "A glare spot in one camera: grey levels added at its heart")
        ->check(numberWithin(0, 255))
        ->group(level);
    cmd->add_option("--cable", o.cable, "A dark cable lying across one triangle's band: its width, mm")
        ->check(numberWithin(0, 200))
        ->group(level);
}

namespace {

// The largest picture the configuration takes back.
constexpr int kMaxSimulatedSide = format::kMaxCameraSide;

// The level's effects, each one the options give in its place.
sim::Realism realismOf(const SimulateOptions& o) {
    sim::Realism r = sim::realismPreset(o.realism);
    auto given = [](double& field, double value) {
        if (value >= 0) field = value;
    };
    given(r.rimBlur, o.rimBlur);
    given(r.noiseGain, o.noiseGain);
    given(r.chroma, o.chroma);
    given(r.light, o.light);
    given(r.shadow, o.shadow);
    given(r.wear, o.wear);
    given(r.glare, o.glare);
    given(r.cable, o.cable);
    if (o.jpeg >= 0) r.jpegQuality = o.jpeg;
    return r;
}

}  // namespace

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
    if (options.width < 64 || options.height < 64 || options.width > kMaxSimulatedSide ||
        options.height > kMaxSimulatedSide) {
        throw std::invalid_argument("--image-size must be WxH, each side 64.." + std::to_string(kMaxSimulatedSide) +
                                    " pixels, not \"" + o.imageSize + "\"");
    }
    options.seed = o.seed;
    options.model = o.model;
    options.markerLength = o.markerLength;
    options.noiseSigma = o.noise;
    options.quad = o.quad;
    options.realism = realismOf(o);
    const auto start = std::chrono::steady_clock::now();
    const sim::Rig rig = o.layout == "fixed" ? sim::fixedRig(options) : sim::drawRig(options);
    sim::writeScene(o.out, rig);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool plain = !options.realism.any() && options.realism.level == "clean";
    std::printf("simulate: wrote %s (seed %llu, %dx%d, %d draw%s%s%s, %.2f s)\n", o.out.c_str(),
                static_cast<unsigned long long>(o.seed), options.width, options.height, rig.attempts,
                rig.attempts == 1 ? "" : "s", plain ? "" : ", realism ", plain ? "" : options.realism.level.c_str(),
                seconds);
    return 0;
}

}  // namespace mz::cli
