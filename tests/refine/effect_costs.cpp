// What each effect of a photographed-looking bay costs the corner refinement alone: every bay is
// rendered with one effect at a level's strength, the pattern detector finds the corners and the
// refinement moves them; the errors against the truth are printed per effect. A tool for tuning
// on some seeds and checking on others, not a test: it asserts nothing.
//   refine_effect_costs [--level real] [--seeds 1,2,3] [--size 720x480] [--only EFFECT,...] [--camera K]
//                       [--worst N]
// Effects: none, each one alone (rim-blur, noise-gain, ...), all, and all but one (all-rim-blur, ...).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "format/picture.h"
#include "mz/mzpattern.h"
#include "refine/corner_refinement.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

using namespace mz;

struct Effect {
    const char* name;
    std::function<void(sim::Realism&, const sim::Realism&)> set;  // from the level's values
};

const Effect kEffects[] = {
    {"none", [](sim::Realism&, const sim::Realism&) {}},
    {"rim-blur", [](sim::Realism& r, const sim::Realism& l) { r.rimBlur = l.rimBlur; }},
    {"noise-gain", [](sim::Realism& r, const sim::Realism& l) { r.noiseGain = l.noiseGain; }},
    {"chroma", [](sim::Realism& r, const sim::Realism& l) { r.chroma = l.chroma; }},
    {"light", [](sim::Realism& r, const sim::Realism& l) { r.light = l.light; }},
    {"shadow", [](sim::Realism& r, const sim::Realism& l) { r.shadow = l.shadow; }},
    {"wear", [](sim::Realism& r, const sim::Realism& l) { r.wear = l.wear; }},
    {"jpeg", [](sim::Realism& r, const sim::Realism& l) { r.jpegQuality = l.jpegQuality; }},
    {"glare", [](sim::Realism& r, const sim::Realism& l) { r.glare = l.glare; }},
    {"cable", [](sim::Realism& r, const sim::Realism& l) { r.cable = l.cable; }},
    {"all", [](sim::Realism& r, const sim::Realism& l) { r = l; }},
    // The level with one effect left out: what it costs in company.
    {"all-rim-blur",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.rimBlur = 0;
     }},
    {"all-noise-gain",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.noiseGain = 0;
     }},
    {"all-chroma",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.chroma = 0;
     }},
    {"all-light",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.light = 0;
     }},
    {"all-shadow",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.shadow = 0;
     }},
    {"all-wear",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.wear = 0;
     }},
    {"all-jpeg",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.jpegQuality = 0;
     }},
    {"all-glare",
     [](sim::Realism& r, const sim::Realism& l) {
         r = l;
         r.glare = 0;
     }},
};

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

struct Corner {
    double detected, refined;
    double whitened;  // the refined corner's error in units of its covariance; negative when not refined
    double sideRms;
    bool tip;  // placed by its own pixels as a sharp tip
    std::string where;
};

// The error's length in units of the covariance (xx, xy, yy).
double whitenedLength(double ex, double ey, const std::array<float, 3>& c) {
    const double det = static_cast<double>(c[0]) * c[2] - static_cast<double>(c[1]) * c[1];
    if (!(det > 0)) return -1;
    return std::sqrt((c[2] * ex * ex - 2 * c[1] * ex * ey + c[0] * ey * ey) / det);
}

}  // namespace

int main(int argc, char** argv) {
    std::string level = "real", only, size = "720x480";
    std::vector<uint64_t> seeds = {1, 2, 3};
    int worst = 3, camera = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--level") level = value;
        if (key == "--only") only = "," + value + ",";
        if (key == "--size") size = value;
        if (key == "--worst") worst = std::atoi(value.c_str());
        if (key == "--camera") camera = std::atoi(value.c_str());
        if (key == "--seeds") {
            seeds.clear();
            for (const char* p = value.c_str(); *p;) {
                char* end;
                seeds.push_back(std::strtoull(p, &end, 10));
                p = *end ? end + 1 : end;
            }
        }
    }
    const sim::Realism strength = sim::realismPreset(level);
    int width = 720, height = 480;
    std::sscanf(size.c_str(), "%dx%d", &width, &height);
    for (const Effect& effect : kEffects) {
        if (!only.empty() && only.find(std::string(",") + effect.name + ",") == std::string::npos) continue;
        sim::Realism realism;
        effect.set(realism, strength);
        if (effect.name != std::string("none") && !realism.any()) continue;  // the level has none of it
        std::vector<Corner> corners;
        int lost = 0;
        for (uint64_t seed : seeds) {
            sim::RigOptions options;
            options.seed = seed;
            options.width = width;
            options.height = height;
            options.realism = realism;
            const sim::Rig rig = sim::drawRig(options);
            for (int k = 0; k < 4; ++k) {
                if (camera >= 0 && k != camera) continue;
                sim::Picture picture = sim::renderCamera(rig, k, 2);
                std::vector<uint8_t> rows = picture.bytes;
                if (realism.jpegQuality > 0) {
                    const format::PictureRead read = format::decodeJpeg(format::encodeJpeg(
                        picture.width, picture.height, picture.stride, picture.bytes, realism.jpegQuality));
                    rows = read.picture->pixels;
                }
                const refine::GreyFloatImage grey = refine::greyFromBgr(rows, width, height);
                const sim::CameraPoints truth = sim::cameraPoints(rig, k);
                CameraParam cam = sim::cameraRecord(rig.cameras[k]);
                std::vector<Point2F> points(64, Point2F{-1, -1});
                cam.imagePoints = points.data();
                const int32_t regions[8] = {0,         height / 4, width / 2,         height - height / 4,
                                            width / 2, height / 4, width - width / 2, height - height / 4};
                std::vector<uint8_t> packed(static_cast<size_t>(width) * height * 3);
                const size_t stride = MZ_ROW_STRIDE24(static_cast<size_t>(width));
                for (int y = 0; y < height; ++y)
                    std::memcpy(packed.data() + static_cast<size_t>(y) * width * 3, rows.data() + stride * y,
                                static_cast<size_t>(width) * 3);
                mzGetPatternIP(packed.data(), &cam, regions);
                for (int half = 0; half < 2; ++half) {
                    std::array<Point2F, 3> given;
                    for (int v = 0; v < 3; ++v) given[v] = points[3 * half + v];
                    if (given[0].x == -1 && given[0].y == -1) {
                        ++lost;
                        continue;
                    }
                    if (std::getenv("MZ_DEBUG_MODEL")) std::printf("  camera %d half %d\n", k, half);
                    const auto refined = refine::refineTriangle(grey, cam, given);
                    for (int v = 0; v < 3; ++v) {
                        const sim::Vec2 t = truth.image[3 * half + v];
                        char where[160];
                        std::snprintf(where, sizeof where, "seed %llu %s corner %d %s",
                                      static_cast<unsigned long long>(seed), sim::kCameraNames[k], 3 * half + v + 1,
                                      refine::verdictName(refined[v].verdict));
                        const bool fitted = refined[v].verdict == refine::CornerVerdict::kRefined;
                        corners.push_back({std::hypot(given[v].x - t.x, given[v].y - t.y),
                                           std::hypot(refined[v].refined.x - t.x, refined[v].refined.y - t.y),
                                           fitted ? whitenedLength(refined[v].refined.x - t.x,
                                                                   refined[v].refined.y - t.y, refined[v].covariance)
                                                  : -1.0,
                                           refined[v].sideRms, refined[v].ownTip, where});
                    }
                }
            }
        }
        std::vector<double> detected, refined, whitened, squared[2];
        for (const Corner& c : corners) {
            detected.push_back(c.detected);
            refined.push_back(c.refined);
            if (c.whitened >= 0) {
                whitened.push_back(c.whitened);
                squared[c.tip ? 1 : 0].push_back(c.whitened * c.whitened);
            }
        }
        std::printf("%-10s detected median %.2f p95 %.2f max %.2f | refined median %.3f p95 %.3f max %.2f | %d lost\n",
                    effect.name, quantile(detected, 0.5), quantile(detected, 0.95), quantile(detected, 1),
                    quantile(refined, 0.5), quantile(refined, 0.95), quantile(refined, 1), lost);
        // A covariance that tells the truth gives about 1.18 and 2.45 here.
        std::printf("%-10s refined in units of their covariance: median %.2f p95 %.2f max %.2f (%zu corners)\n", "",
                    quantile(whitened, 0.5), quantile(whitened, 0.95), quantile(whitened, 1), whitened.size());
        // Squared (error' C^-1 error), sharp tips placed by their own pixels apart: a covariance that
        // tells the truth gives 1.39 and 5.99 here (chi-square with two degrees of freedom).
        for (int tip = 1; tip >= 0; --tip)
            std::printf("%-10s %-6s squared: median %.2f p95 %.2f max %.1f (%zu corners)\n", "",
                        tip ? "tips" : "others", quantile(squared[tip], 0.5), quantile(squared[tip], 0.95),
                        quantile(squared[tip], 1), squared[tip].size());
        std::sort(corners.begin(), corners.end(),
                  [](const Corner& a, const Corner& b) { return a.refined > b.refined; });
        for (int i = 0; i < worst && i < static_cast<int>(corners.size()); ++i)
            std::printf("    %.2f px (detector %.2f, %.1f of its covariance, sides %.2f px) %s\n", corners[i].refined,
                        corners[i].detected, corners[i].whitened, corners[i].sideRms, corners[i].where.c_str());
        std::fflush(stdout);
    }
}
