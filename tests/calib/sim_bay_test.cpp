// mzcalib on the simulator's bays: accuracy against the simulator's truth, and how the
// solver's pose fields map onto the simulator's conventions.
//
// The mapping, established below:
//   rotX = tilt (both positive looking down)
//   rotZ = -roll (the simulator's positive roll turns the camera's x axis toward its picture-down
//          y axis; the solver's positive roll turns it the other way)
//   rotY = -heading + c (the simulator counts headings clockwise from the vehicle's front, the
//          solver counter-clockwise; c is the same for all four cameras: the solver's frame is
//          levelled on the front camera's two triangles rather than on the vehicle)
//   posZ = position.z (height, positive)
//   (posX, posY) = the simulator's (x, y) turned counter-clockwise by c, then shifted so that the
//          side cameras' mean x and the front and rear cameras' mean y are 0; both frames have x
//          to the vehicle's right and y to its front
//   worldPoints = (X, -Y) of the same turned and shifted floor frame.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "mz/mzcalib.h"
#include "sim/rig.h"
#include "tests/calib/rig_metrics.h"

namespace mz::calib::test {
namespace {

struct SimBay {
    sim::Rig rig;
    std::array<CameraParam, 4> cameras{};
    std::array<std::array<Point2F, 6>, 4> image{};
    std::array<std::array<Point2F, 6>, 4> world{};
    std::array<std::array<sim::Vec2, 6>, 4> floor{};

    SimBay(uint64_t seed, int width, int height) {
        sim::RigOptions options;
        options.seed = seed;
        options.width = width;
        options.height = height;
        rig = sim::drawRig(options);
        for (int k = 0; k < 4; ++k) {
            CameraParam& c = cameras[k];
            c = sim::cameraRecord(rig.cameras[k]);
            c.markerLength = static_cast<int32_t>(options.markerLength);
            c.pointCount = 6;
            c.imagePoints = image[k].data();
            c.worldPoints = world[k].data();
            const sim::CameraPoints points = sim::cameraPoints(rig, k);
            for (int i = 0; i < 6; ++i) {
                image[k][i] = {static_cast<float>(points.image[i].x), static_cast<float>(points.image[i].y)};
                floor[k][i] = points.floor[i];
            }
        }
    }

    int apply() {
        CalibHandle* h = mzMultiCalibCreate(0);
        mzMultiCalibInit(h, 0, static_cast<int32_t>(rig.options.markerLength), 0);
        const int result = mzMultiCalibApply(h, cameras.data(), nullptr);
        mzMultiCalibRelease(&h);
        return result;
    }

    // The simulator's truth in the solver's sign conventions.
    std::array<PoseTruth, 4> truth() const {
        std::array<PoseTruth, 4> t{};
        for (int k = 0; k < 4; ++k) {
            const sim::Camera& c = rig.cameras[k];
            t[k] = {c.position.x, c.position.y, c.position.z, c.tiltDeg, -c.rollDeg, -c.headingDeg};
        }
        return t;
    }
};

constexpr int kSizes[3][2] = {{720, 480}, {640, 480}, {1280, 720}};

TEST(SimBay, TrueCornersGiveTheBayAtEverySize) {
    ErrorLog log;
    for (const auto& size : kSizes) {
        for (uint64_t seed = 1; seed <= 12; ++seed) {
            SimBay bay(seed, size[0], size[1]);
            SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1] << " seed " << seed);
            ASSERT_EQ(bay.apply(), 0);
            const RigErrors e = rigErrors(bay.cameras.data(), bay.truth());
            log.add(e);
            EXPECT_LT(e.height, 0.02);
            EXPECT_LT(e.tilt, 1.0);
            EXPECT_LT(e.roll, 1.0);
            EXPECT_LT(e.spacing, 0.02);
            EXPECT_LT(e.heading, 1.0);
            EXPECT_LT(e.shared, 50.0);
        }
    }
    log.print("simulated bays, true corners");
}

TEST(SimBay, HalfPixelCornerErrorStillSucceeds) {
    ErrorLog log;
    for (const auto& size : kSizes) {
        for (uint64_t seed = 1; seed <= 12; ++seed) {
            SimBay bay(seed, size[0], size[1]);
            std::mt19937 gen(static_cast<uint32_t>(seed));
            std::uniform_real_distribution<double> angle(0, 2 * M_PI);
            for (auto& points : bay.image) {
                for (Point2F& p : points) {
                    const double a = angle(gen);
                    p.x += static_cast<float>(0.5 * std::cos(a));
                    p.y += static_cast<float>(0.5 * std::sin(a));
                }
            }
            EXPECT_EQ(bay.apply(), 0) << size[0] << "x" << size[1] << " seed " << seed;
            log.add(rigErrors(bay.cameras.data(), bay.truth()));
        }
    }
    log.print("simulated bays, corners off by 0.5 pixel");
}

TEST(SimBay, PoseFieldsMapOntoTheSimulatorsFrame) {
    SimBay bay(5, 720, 480);
    ASSERT_EQ(bay.apply(), 0);
    const auto& cams = bay.cameras;
    const auto& simCams = bay.rig.cameras;

    // The frame turn c from the headings: the same for every camera.
    const double c = cams[0].rotY + simCams[0].headingDeg;
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(wrapDegrees(cams[k].rotY + simCams[k].headingDeg - c), 0, 1.0) << k;
        EXPECT_NEAR(cams[k].rotX, simCams[k].tiltDeg, 1.0) << k;
        EXPECT_NEAR(cams[k].rotZ, -simCams[k].rollDeg, 1.0) << k;
        EXPECT_NEAR(cams[k].posZ, simCams[k].position.z, 0.02 * simCams[k].position.z) << k;
    }
    // The left camera looks toward -x in both frames, the front camera toward +y.
    EXPECT_NEAR(wrapDegrees(cams[2].rotY - c), 90, 5);
    EXPECT_NEAR(wrapDegrees(simCams[2].headingDeg), -90, 5);

    // Positions: turn the simulator's by c, then centre as the solver does.
    const double rad = c * M_PI / 180;
    auto turn = [&](double x, double y) {
        return sim::Vec2{x * std::cos(rad) - y * std::sin(rad), x * std::sin(rad) + y * std::cos(rad)};
    };
    std::array<sim::Vec2, 4> turned;
    for (int k = 0; k < 4; ++k) turned[k] = turn(simCams[k].position.x, simCams[k].position.y);
    const sim::Vec2 centre = {(turned[2].x + turned[3].x) / 2, (turned[0].y + turned[1].y) / 2};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(cams[k].posX, turned[k].x - centre.x, 40) << k;
        EXPECT_NEAR(cams[k].posY, turned[k].y - centre.y, 40) << k;
        // World points: the same frame with y negated.
        for (int i = 0; i < 6; ++i) {
            const sim::Vec2 f = turn(bay.floor[k][i].x, bay.floor[k][i].y);
            EXPECT_NEAR(bay.world[k][i].x, f.x - centre.x, 60) << k << " " << i;
            EXPECT_NEAR(-bay.world[k][i].y, f.y - centre.y, 60) << k << " " << i;
        }
    }
}

}  // namespace
}  // namespace mz::calib::test
