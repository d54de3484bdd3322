#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "calib/camera_solver.h"
#include "calib/lens_table.h"
#include "calib/rig_assembly.h"
#include "testing/synthetic_rig.h"

namespace mz::calib {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(GroundProjection, OpticalAxisAndRaysAboveTheHorizon) {
    const Point2F ahead = groundLocal({0, 0, -1}, 1000, 45, 0);
    EXPECT_NEAR(ahead.x, 0, 1e-3);
    EXPECT_NEAR(ahead.y, 1000, 0.1);
    // Rolled by 90 degrees, the picture's right is the floor's up direction.
    const Point2F sky = groundLocal({1, 0, 0}, 1000, 30, 90);
    EXPECT_EQ(sky.x, 0);
    EXPECT_EQ(sky.y, 0);
    // A zero ray has no direction: it lands on the camera, not on NaN.
    const Point2F none = groundLocal({0, 0, 0}, 1000, 30, 0);
    EXPECT_EQ(none.x, 0);
    EXPECT_EQ(none.y, 0);

    CalibCamera cam{};
    cam.height = 1000;
    cam.rotX = 20;
    cam.posX = 15;
    cam.posY = -7;
    cam.rotY = 90;
    const Point2F above = groundPoint(cam, {0, 0.5f, -0.866f});
    EXPECT_EQ(above.x, 15);
    EXPECT_EQ(above.y, -7);
    const Point2F turned = groundPoint(cam, {0, 0, -1});  // heading 90: ahead is -x
    EXPECT_NEAR(turned.x, 15 - 1000 / std::tan(20 * M_PI / 180), 0.5);
    EXPECT_NEAR(turned.y, -7, 1e-2);
}

// The four cameras of a synthetic rig, solved, with their local views.
struct SolvedRig {
    LensRow rows[kCameraCount][kBuiltInRows];
    LensTable lens[kCameraCount];
    CalibCamera cameras[kCameraCount]{};
    LocalView views[kCameraCount];

    explicit SolvedRig(uint32_t seed) {
        mztest::SyntheticRig rig;
        mztest::makeRig(rig, {.seed = seed});
        for (int k = 0; k < kCameraCount; ++k) {
            copyLens(builtInLens(), lens[k], rows[k]);
            lensFromCamera(lens[k], rig.cameras[k]);
            CalibCamera& c = cameras[k];
            c.lens = &lens[k];
            c.cx = rig.cameras[k].cx;
            c.cy = rig.cameras[k].cy;
            c.scaleX = c.scaleY = 1;
            setKnownDistances(c.knownDistance, 0, 1000);
            for (int i = 0; i < kPointCount; ++i) c.imagePoints[i] = rig.image[k][i];
            solveCamera(c, k);
            views[k] = localView(c);
        }
    }
};

TEST(AngleSearch, EndsOnAHundredthOfADegreeMinimum) {
    SolvedRig rig(5);
    const SearchResult found = searchAngle(rig.cameras, rig.views);
    const float r = rigResidual(rig.cameras, rig.views, found.angle);
    EXPECT_EQ(r, found.residual);
    EXPECT_LE(r, rigResidual(rig.cameras, rig.views, found.angle + 0.01f));
    EXPECT_LE(r, rigResidual(rig.cameras, rig.views, found.angle - 0.01f));
    // The steps are 1, 0.1 and 0.01 degree from 90: the angle sits on that grid.
    const double hundredths = (found.angle - 90.0) * 100.0;
    EXPECT_NEAR(hundredths, std::round(hundredths), 0.05);
    EXPECT_LT(found.evaluations, 200);
}

TEST(AngleSearch, AnglesThatCannotCloseAreAvoided) {
    SolvedRig rig(1);
    LocalView views[kCameraCount];
    for (int k = 0; k < kCameraCount; ++k) views[k] = rig.views[k];
    // Front 2000 wide, right 2000, rear and left 1200: at 90 degrees the rear-left corner lies
    // out of reach; from about 106.3 degrees the quadrilateral closes.
    views[0].a = {-1000, 0};
    views[0].b = {1000, 0};
    views[0].d = 2000;
    views[3].d = 2000;
    views[1].d = views[2].d = 1200;
    EXPECT_EQ(rigResidual(rig.cameras, views, 90), kInf);
    for (const CalibCamera& c : rig.cameras) {
        EXPECT_TRUE(std::isfinite(c.posX) && std::isfinite(c.posY) && std::isfinite(c.rotY));
    }
    const SearchResult found = searchAngle(rig.cameras, views);
    EXPECT_TRUE(std::isfinite(found.residual));
    EXPECT_GT(found.angle, 106);

    // One side longer than the other three together: no angle closes.
    views[1].d = 9000;
    const SearchResult none = searchAngle(rig.cameras, views);
    EXPECT_EQ(none.residual, kInf);
    EXPECT_EQ(none.angle, 90);
}

TEST(Assemble, LevelsTheFrontAndCentresTheRig) {
    SolvedRig rig(2);
    const float residual = assemble(rig.cameras);
    EXPECT_LT(residual, 1000);
    // The front camera sees its two triangles side by side along x after levelling.
    const Point2F a = groundPoint(rig.cameras[0], rig.cameras[0].rays[0]);
    const Point2F b = groundPoint(rig.cameras[0], rig.cameras[0].rays[3]);
    EXPECT_LT(a.x, b.x);
    EXPECT_NEAR(rig.cameras[2].posX, -rig.cameras[3].posX, 1e-2);
    EXPECT_NEAR(rig.cameras[0].posY, -rig.cameras[1].posY, 1e-2);
    EXPECT_GT(rig.cameras[0].posY, 0);
    EXPECT_LT(rig.cameras[2].posX, 0);
}

TEST(TurnAndCentre, TurnsHeadingsAndPositionsThenCentres) {
    CalibCamera cams[kCameraCount]{};
    const float pos[kCameraCount][2] = {{10, 100}, {30, -300}, {-50, 20}, {150, 40}};
    for (int k = 0; k < kCameraCount; ++k) {
        cams[k].posX = pos[k][0];
        cams[k].posY = pos[k][1];
        cams[k].rotY = 10.0f * k;
    }
    turnAndCentre(cams, 90);
    EXPECT_FLOAT_EQ(cams[0].rotY, 90);
    EXPECT_FLOAT_EQ(cams[3].rotY, 120);
    // (x, y) -> (-y, x), then minus x of the side cameras' middle (-30) and y of front/rear (20).
    const float expected[kCameraCount][2] = {{-70, -10}, {330, 10}, {10, -70}, {-10, 130}};
    for (int k = 0; k < kCameraCount; ++k) {
        EXPECT_NEAR(cams[k].posX, expected[k][0], 1e-3) << k;
        EXPECT_NEAR(cams[k].posY, expected[k][1], 1e-3) << k;
    }
}

}  // namespace
}  // namespace mz::calib
