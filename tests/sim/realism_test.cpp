// The realism effects: each leaves the triangles' edges where the truth has them, and a realistic
// bay is as reproducible as a clean one.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "format/picture.h"
#include "sim/render.h"
#include "sim/rig.h"
#include "sim/scene.h"

namespace mz::sim {
namespace {

// Channel mean at a sub-pixel place, bilinear.
double channelMean(const Picture& pic, double x, double y) {
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const double tx = x - x0, ty = y - y0;
    auto at = [&](int px, int py) {
        const uint8_t* p = pic.row(py) + 3 * px;
        return (p[0] + p[1] + p[2]) / 3.0;
    };
    return (at(x0, y0) * (1 - tx) + at(x0 + 1, y0) * tx) * (1 - ty) +
           (at(x0, y0 + 1) * (1 - tx) + at(x0 + 1, y0 + 1) * tx) * ty;
}

// For every outer side of a camera's two triangles, where the picture crosses half way between
// the floor and the band, less where the true side lies: pixels along the side's inward normal,
// averaged over the middle of the side. Sides too thin or too oblique on screen to measure are NaN.
std::array<double, 6> sideOffsets(const Rig& rig, int camera, const Picture& pic) {
    std::array<double, 6> offsets;
    offsets.fill(std::nan(""));
    const Camera& cam = rig.cameras[camera];
    for (int half = 0; half < 2; ++half) {
        const Triangle& tri = rig.triangles[kCameraTriangles[camera][half]];
        for (int e = 0; e < 3; ++e) {
            const Vec2 a = tri.corners[e], b = tri.corners[(e + 1) % 3];
            const Vec2 n = inwardNormal(tri, e);
            const double nx = n.x, ny = n.y;
            double sum = 0;
            int count = 0;
            for (double f = 0.25; f <= 0.751; f += 0.05) {
                const Vec2 on{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
                Vec2 edge, in, out;
                if (!projectToPixel(cam, {on.x, on.y, 0}, edge) ||
                    !projectToPixel(cam, {on.x + nx * tri.band / 2, on.y + ny * tri.band / 2, 0}, in) ||
                    !projectToPixel(cam, {on.x - nx * tri.band, on.y - ny * tri.band, 0}, out)) {
                    continue;
                }
                const double inward = std::hypot(in.x - edge.x, in.y - edge.y);
                const double outward = std::hypot(out.x - edge.x, out.y - edge.y);
                // Half a band of at least 4 pixels keeps its middle dark through the rim's blur.
                if (inward < 4 || outward < 4) continue;
                const double ux = (in.x - edge.x) / inward, uy = (in.y - edge.y) / inward;
                auto inside = [&](const Vec2& p) {
                    return p.x > 3 && p.y > 3 && p.x < pic.width - 4 && p.y < pic.height - 4;
                };
                if (!inside(in) || !inside(out)) continue;
                const double floorLevel = channelMean(pic, out.x, out.y), bandLevel = channelMean(pic, in.x, in.y);
                const double half = (floorLevel + bandLevel) / 2;
                // The last step from above the half level to below it, walking in from the floor.
                double crossing = std::nan(""), before = channelMean(pic, edge.x - ux * outward, edge.y - uy * outward);
                for (double t = -outward + 0.1; t <= inward; t += 0.1) {
                    const double now = channelMean(pic, edge.x + ux * t, edge.y + uy * t);
                    if (before >= half && now < half) crossing = t - 0.1 * (half - now) / (before - now);
                    before = now;
                }
                if (std::isnan(crossing)) continue;
                sum += crossing;
                ++count;
            }
            if (count >= 5) offsets[half * 3 + e] = sum / count;
        }
    }
    return offsets;
}

// On this bay the front and rear cameras see their bands wide enough to measure (the side
// cameras' are too thin at 720x480), and the glare lands in the front camera.
constexpr int kMeasured[2] = {kFront, kRear};

Rig realisticBay(const Realism& realism) {
    RigOptions o;
    o.seed = 10;
    o.realism = realism;
    return drawRig(o);
}

// The clean pictures and their edges, measured once for every effect.
const std::array<std::array<double, 6>, 4>& cleanOffsets() {
    static const std::array<std::array<double, 6>, 4> offsets = [] {
        const Rig rig = realisticBay(Realism{});
        std::array<std::array<double, 6>, 4> all{};
        for (int c : kMeasured) all[c] = sideOffsets(rig, c, renderCamera(rig, c, 2));
        return all;
    }();
    return offsets;
}

struct EffectCase {
    const char* name;
    void (*set)(Realism&);
};

class Effect : public ::testing::TestWithParam<EffectCase> {};

// Each effect alone at the harsh level's strength (or beyond): no side of any triangle moves by
// more than a few hundredths of a pixel from where it is in the clean picture of the same bay,
// and the clean picture itself has it where the truth says.
TEST_P(Effect, LeavesEveryEdgeInPlace) {
    Realism realism;
    GetParam().set(realism);
    ASSERT_TRUE(realism.any());
    const Rig rig = realisticBay(realism);
    int measured = 0;
    for (int c : kMeasured) {
        Picture pic = renderCamera(rig, c, 2);
        if (realism.jpegQuality > 0) {
            const format::PictureRead read = format::decodeJpeg(encodeJpeg(pic, realism.jpegQuality));
            ASSERT_TRUE(read.picture.has_value()) << read.problem;
            std::copy(read.picture->pixels.begin(), read.picture->pixels.end(), pic.bytes.begin());
        }
        const std::array<double, 6> clean = cleanOffsets()[c], now = sideOffsets(rig, c, pic);
        for (int s = 0; s < 6; ++s) {
            if (std::isnan(clean[s])) continue;
            ASSERT_FALSE(std::isnan(now[s])) << kCameraNames[c] << " side " << s << " lost";
            EXPECT_NEAR(clean[s], 0.0, 0.12) << kCameraNames[c] << " side " << s << " clean";
            EXPECT_NEAR(now[s], clean[s], 0.08) << kCameraNames[c] << " side " << s;
            ++measured;
        }
    }
    EXPECT_GE(measured, 6);
}

INSTANTIATE_TEST_SUITE_P(Realism, Effect,
                         ::testing::Values(EffectCase{"rimBlur", [](Realism& r) { r.rimBlur = 2.0; }},
                                           EffectCase{"noiseGain", [](Realism& r) { r.noiseGain = 0.3; }},
                                           EffectCase{"chroma", [](Realism& r) { r.chroma = 1.0; }},
                                           EffectCase{"light", [](Realism& r) { r.light = 0.45; }},
                                           EffectCase{"shadow", [](Realism& r) { r.shadow = 0.6; }},
                                           EffectCase{"wear", [](Realism& r) { r.wear = 0.5; }},
                                           EffectCase{"glare", [](Realism& r) { r.glare = 120; }},
                                           EffectCase{"jpeg", [](Realism& r) { r.jpegQuality = 65; }}),
                         [](const ::testing::TestParamInfo<EffectCase>& info) { return std::string(info.param.name); });

std::vector<uint8_t> fileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The harshest level, every effect at once: the same files from one thread as from two, JPEG
// pictures in place of the bitmaps, and the level in the truth.
TEST(Realism, HarshBayIsTheSameWhateverTheThreadCount) {
    const auto base = std::filesystem::temp_directory_path() / ("mz_sim_realism_test_" + std::to_string(::getpid()));
    std::filesystem::remove_all(base);
    const Rig rig = realisticBay(realismPreset("harsh"));
    writeScene(base / "one", rig, 1);
    writeScene(base / "two", rig, 2);
    for (const char* f : {"truth.json", "image/front.jpg", "image/rear.jpg", "image/left.jpg", "image/right.jpg"}) {
        const std::vector<uint8_t> one = fileBytes(base / "one" / f);
        ASSERT_FALSE(one.empty()) << f;
        EXPECT_EQ(one, fileBytes(base / "two" / f)) << f;
    }
    EXPECT_FALSE(std::filesystem::exists(base / "one" / "image" / "front.bmp"));
    const nlohmann::json truth = nlohmann::json::parse(fileBytes(base / "one" / "truth.json"));
    EXPECT_EQ(truth["realism"]["level"], "harsh");
    EXPECT_EQ(truth["realism"]["jpegQuality"], 65);
    EXPECT_EQ(truth["realism"]["cable"], 20.0);
    EXPECT_THROW(realismPreset("foggy"), std::invalid_argument);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace mz::sim
