#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "calib/camera_solver.h"
#include "calib/lens_table.h"
#include "testing/synthetic_rig.h"

namespace mz::calib {
namespace {

// A camera block as init leaves it, with its own copy of the built-in table.
struct Block {
    LensRow rows[kBuiltInRows];
    LensTable lens{};
    CalibCamera camera{};

    Block() {
        copyLens(builtInLens(), lens, rows);
        camera.lens = &lens;
        camera.cx = 360;
        camera.cy = 240;
        camera.scaleX = camera.scaleY = 1;
        setKnownDistances(camera.knownDistance, 0, 1000);
    }
};

bool finite(const Point3F& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

TEST(KnownDistances, ShapesSetTheTriangleSidesOnly) {
    float d[kPointCount][kPointCount];
    setKnownDistances(d, 1, 600);
    const float diagonal = 600 * std::sqrt(2.0f);
    for (int base : {0, 3}) {
        EXPECT_EQ(d[base][base + 1], 600);
        EXPECT_EQ(d[base + 2][base], 600);
        EXPECT_EQ(d[base + 1][base + 2], diagonal);
        EXPECT_EQ(d[base + 2][base + 1], diagonal);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(d[i][i], -1);
        for (int j = 3; j < 6; ++j) EXPECT_EQ(d[i][j], -1);
    }
    setKnownDistances(d, 0, 600);
    EXPECT_EQ(d[1][2], 600);
    EXPECT_EQ(d[4][5], 600);
}

TEST(Ray, PrincipalPointKeepsTheHalfPixel) {
    Block b;
    const Point3F ray = rayOfPoint(b.camera, {360, 240});
    const float rho = std::sqrt(std::pow(0.5f * 0.004437f, 2.0f) + std::pow(0.5f * 0.004868f, 2.0f));
    const float theta = incidenceAngle(b.lens, rho) * static_cast<float>(M_PI) / 180;
    EXPECT_GT(theta, 0);
    // u = v = 0 gives the azimuth 0, whatever the half-pixel offset.
    EXPECT_FLOAT_EQ(ray.x, std::sin(theta));
    EXPECT_EQ(ray.y, 0);
    EXPECT_FLOAT_EQ(ray.z, -std::cos(theta));
}

TEST(Ray, PointBeyondTheTableGetsTheNoRowAngle) {
    Block b;
    EXPECT_EQ(incidenceAngle(b.lens, 1.8f), kNoRowAngle);
    EXPECT_FLOAT_EQ(incidenceAngle(b.lens, 0.013991f), 1.0f);
    const Point3F ray = rayOfPoint(b.camera, {360 + 500, 240});
    const float theta = kNoRowAngle * static_cast<float>(M_PI) / 180;
    EXPECT_FLOAT_EQ(ray.x, std::sin(theta));
    EXPECT_FLOAT_EQ(ray.z, -std::cos(theta));
}

TEST(Ray, ZeroFocalScaleGivesTheZeroRayAndAFiniteSolve) {
    Block b;
    CameraParam cam{};
    cam.width = 720;
    cam.height = 480;
    cam.k1 = 0.8f;
    lensFromCamera(b.lens, cam);  // fx = fy = 0: infinite pitches
    for (int i = 0; i < kPointCount; ++i) b.camera.imagePoints[i] = {100.0f + 50 * i, 200};
    // On the vertical through the principal point the azimuth is 0 x infinity.
    const Point3F ray = rayOfPoint(b.camera, {360, 100});
    EXPECT_EQ(ray.x, 0);
    EXPECT_EQ(ray.y, 0);
    EXPECT_EQ(ray.z, 0);
    EXPECT_TRUE(finite(rayOfPoint(b.camera, {100, 100})));
    const float r = solveCamera(b.camera, 2);
    EXPECT_FALSE(std::isnan(r));
    EXPECT_TRUE(std::isfinite(b.camera.height));
    EXPECT_TRUE(std::isfinite(b.camera.rotX));
    EXPECT_TRUE(std::isfinite(b.camera.rotZ));
}

TEST(Residual, RayParallelToThePlaneIsInfiniteNotNaN) {
    Point3F rays[kPointCount] = {{0, 0, -1}, {0.1f, 0, -1}, {0, 0.1f, -1}, {0, 0, -1}, {0.1f, 0, -1}, {1, 0, 0}};
    float d[kPointCount][kPointCount];
    setKnownDistances(d, 0, 100);
    const Plane facing = {0, 0, 1, 1000};
    EXPECT_EQ(planeResidual(facing, rays, d), std::numeric_limits<float>::infinity());
    rays[5] = {0, 0, 0};  // a zero ray lands on the camera and is merely wrong
    EXPECT_TRUE(std::isfinite(planeResidual(facing, rays, d)));
}

TEST(Solve, CameraWithoutLensIsLeftAlone) {
    Block b;
    b.camera.lens = nullptr;
    b.camera.height = 123;
    EXPECT_EQ(solveCamera(b.camera, 0), -1.0f);
    EXPECT_EQ(b.camera.height, 123);
}

TEST(Solve, RecoversHeightTiltAndRollOfEveryRigCamera) {
    mztest::SyntheticRig rig;
    mztest::makeRig(rig, {.seed = 3});
    for (int k = 0; k < kCameraCount; ++k) {
        Block b;
        lensFromCamera(b.lens, rig.cameras[k]);
        for (int i = 0; i < kPointCount; ++i) b.camera.imagePoints[i] = rig.image[k][i];
        const float r = solveCamera(b.camera, k);
        EXPECT_LT(r, kRetryResidual) << k;
        for (const Point3F& ray : b.camera.rays) {
            EXPECT_TRUE(finite(ray));
            EXPECT_NEAR(ray.x * ray.x + ray.y * ray.y + ray.z * ray.z, 1.0f, 1e-5f);
        }
        const mztest::TruePose& t = rig.truth[k];
        EXPECT_NEAR(b.camera.height, t.height, 0.01 * t.height) << k;
        EXPECT_NEAR(b.camera.rotX, t.tilt, 0.5) << k;
        EXPECT_NEAR(b.camera.rotZ, t.roll, 0.5) << k;
    }
}

}  // namespace
}  // namespace mz::calib
