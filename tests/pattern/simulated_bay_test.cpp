// Detection on simulated calibration bays with known truth, with the program's search rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "mz/mzpattern.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace mz::pattern {
namespace {

struct Tally {
    std::vector<double> distance;
    std::vector<double> outward;       // along the centroid-to-corner direction; positive outward
    std::vector<double> acuteOutward;  // the same for corners sharper than kAcuteDeg on screen
    double maxError = 0.0;
    double maxAcuteError = 0.0;
    int halves = 0;
    std::vector<std::string> missed;
};

double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

// Far out in the field (past 70 degrees or so) the ideal plane stretches a one-pixel step of a
// frame's edge beyond the line search's 2.5-unit limit. A long side then splits into two lines,
// the triangle check rejects the result and the half is not found; whether that happens depends
// on the random draws. The sweeps allow a few such halves and list them.
constexpr double kMissedShare = 0.02;

// The same limit takes in the rounded tip of a sharp corner, more of it the further out the frame
// lies: such corners land outward of the truth by a few pixels.
constexpr double kAcuteDeg = 35.0;
constexpr double kAcuteBound = 5.0;

double cornerAngleDeg(const sim::Vec2& p, const sim::Vec2& a, const sim::Vec2& b) {
    const double ax = a.x - p.x, ay = a.y - p.y, bx = b.x - p.x, by = b.y - p.y;
    return std::acos((ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by))) * 57.29577951308232;
}

void detectBay(const sim::RigOptions& options, Tally& tally) {
    const sim::Rig rig = sim::drawRig(options);
    for (int c = 0; c < 4; ++c) {
        const std::string where = std::string(sim::kCameraNames[c]) + " seed " + std::to_string(options.seed) + " " +
                                  std::to_string(options.width) + "x" + std::to_string(options.height) + " noise " +
                                  std::to_string(options.noiseSigma);
        SCOPED_TRACE(where);
        const std::vector<uint8_t> picture = sim::packedPixels(sim::renderCamera(rig, c, 2));
        const sim::CameraPoints truth = sim::cameraPoints(rig, c);
        CameraParam cam = sim::cameraRecord(rig.cameras[c]);
        Point2F points[6];
        std::fill(std::begin(points), std::end(points), Point2F{-1.0f, -1.0f});
        cam.imagePoints = points;
        const int32_t w = cam.width, h = cam.height;
        const int32_t rects[8] = {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
        const int32_t result = mzGetPatternIP(picture.data(), &cam, rects);
        for (int t = 0; t < 2; ++t) {
            ++tally.halves;
            const sim::Vec2* tri = &truth.image[static_cast<size_t>(3 * t)];
            if (result != 0 || points[3 * t].x == -1.0f) {
                float maxAngle = 0.0f;
                for (int k = 0; k < 3; ++k) {
                    float angle = 0.0f;
                    mzGetFOV(&cam, static_cast<float>(tri[k].x), static_cast<float>(tri[k].y), &angle);
                    maxAngle = std::max(maxAngle, angle);
                }
                tally.missed.push_back(where + (t == 0 ? " left" : " right") + ", frame out to " +
                                       std::to_string(maxAngle) + " deg");
                continue;
            }
            const double gx = (tri[0].x + tri[1].x + tri[2].x) / 3, gy = (tri[0].y + tri[1].y + tri[2].y) / 3;
            for (int k = 0; k < 3; ++k) {
                const Point2F& got = points[3 * t + k];
                const double dx = got.x - tri[k].x, dy = got.y - tri[k].y, d = std::hypot(dx, dy);
                const double ox = tri[k].x - gx, oy = tri[k].y - gy;
                const double out = (dx * ox + dy * oy) / std::hypot(ox, oy);
                const double corner = cornerAngleDeg(tri[k], tri[(k + 1) % 3], tri[(k + 2) % 3]);
                const bool acute = corner < kAcuteDeg;
                EXPECT_LT(d, acute ? kAcuteBound : 3.0)
                    << "point " << 3 * t + k << " at (" << got.x << ", " << got.y << "), truth (" << tri[k].x << ", "
                    << tri[k].y << "), corner of " << corner << " deg";
                tally.distance.push_back(d);
                (acute ? tally.acuteOutward : tally.outward).push_back(out);
                (acute ? tally.maxAcuteError : tally.maxError) =
                    std::max(acute ? tally.maxAcuteError : tally.maxError, d);
            }
        }
    }
}

void report(const char* name, const Tally& tally) {
    std::printf(
        "%s: %d halves, %zu not found; %zu corners: median %.3f px, p95 %.3f px, max %.3f px "
        "(acute: %.3f px); outward offset of ordinary corners: median %.3f px, mean %.3f px; "
        "of %zu acute corners: median %.3f px\n",
        name, tally.halves, tally.missed.size(), tally.distance.size(), percentile(tally.distance, 0.5),
        percentile(tally.distance, 0.95), tally.maxError, tally.maxAcuteError, percentile(tally.outward, 0.5),
        std::accumulate(tally.outward.begin(), tally.outward.end(), 0.0) / static_cast<double>(tally.outward.size()),
        tally.acuteOutward.size(), tally.acuteOutward.empty() ? 0.0 : percentile(tally.acuteOutward, 0.5));
    for (const std::string& m : tally.missed) std::printf("  not found: %s\n", m.c_str());
}

TEST(SimulatedBay, OneBayAllCameras) {
    Tally tally;
    detectBay(sim::RigOptions{}, tally);
    report("720x480 seed 1", tally);
    EXPECT_TRUE(tally.missed.empty());
    EXPECT_LE(percentile(tally.distance, 0.5), 0.6);
}

class SimulatedBays : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SimulatedBays, AllCornersInOrderNearTheTruth) {
    Tally tally;
    for (double noise : {0.0, 2.0}) {
        for (uint64_t seed = 1; seed <= 12; ++seed) {
            sim::RigOptions options;
            options.seed = seed;
            options.width = GetParam().first;
            options.height = GetParam().second;
            options.noiseSigma = noise;
            detectBay(options, tally);
        }
    }
    ASSERT_FALSE(tally.distance.empty());
    EXPECT_LE(static_cast<double>(tally.missed.size()), kMissedShare * tally.halves);
    const std::string name = std::to_string(GetParam().first) + "x" + std::to_string(GetParam().second);
    report(name.c_str(), tally);
    EXPECT_LE(percentile(tally.distance, 0.5), 0.6);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SimulatedBays,
                         ::testing::Values(std::pair{1280, 720}, std::pair{720, 480}, std::pair{640, 480}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

}  // namespace
}  // namespace mz::pattern
