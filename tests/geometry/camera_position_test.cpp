#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/angles.h"
#include "mz/mzgeometry.h"
#include "testing/geometry_fixtures.h"

namespace {

using mztest::Mat3;

constexpr double kDeg = mz::kDegToRad<double>;

struct Pose {
    double x, y, z;     // camera centre; z < 0 (the camera looks along +z at the floor z = 0)
    double ax, ay, az;  // angles about X, Y, Z in degrees
};

// Ground-to-ideal homography of a camera: world-to-camera rotation R = Rx(-ax) Ry(-ay) Rz(-az),
// translation t = -R C, H = diag(f, f, 1) [r1 r2 t].
void homographyOf(const Pose& p, double f, double scale, Mat3& h) {
    const double a = -p.ax * kDeg, b = -p.ay * kDeg, c = -p.az * kDeg;
    const double rx[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
    const double ry[3][3] = {{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
    const double rz[3][3] = {{std::cos(c), -std::sin(c), 0}, {std::sin(c), std::cos(c), 0}, {0, 0, 1}};
    double ryz[3][3] = {}, r[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) ryz[i][j] += ry[i][k] * rz[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += rx[i][k] * ryz[k][j];
    const double centre[3] = {p.x, p.y, p.z};
    for (int i = 0; i < 3; ++i) {
        const double t = -(r[i][0] * centre[0] + r[i][1] * centre[1] + r[i][2] * centre[2]);
        const double k = i < 2 ? f : 1.0;
        h.v[i][0] = static_cast<float>(scale * k * r[i][0]);
        h.v[i][1] = static_cast<float>(scale * k * r[i][1]);
        h.v[i][2] = static_cast<float>(scale * k * t);
    }
}

struct Result {
    float x, y, z, ax, ay, az;
};

Result solve(Mat3& h, float f) {
    Result r{};
    mzGetCameraPosition(h.get(), f, &r.x, &r.y, &r.z, &r.ax, &r.ay, &r.az);
    return r;
}

TEST(CameraPosition, CameraStraightAboveTheOrigin) {
    Mat3 h({{300, 0, 0}, {0, 300, 0}, {0, 0, 1200}});
    const Result r = solve(h, 300.0f);
    EXPECT_NEAR(r.x, 0.0f, 1e-3f);
    EXPECT_NEAR(r.y, 0.0f, 1e-3f);
    EXPECT_NEAR(r.z, -1200.0f, 1e-2f);
    EXPECT_NEAR(r.ax, 0.0f, 1e-4f);
    EXPECT_NEAR(r.ay, 0.0f, 1e-4f);
    EXPECT_NEAR(r.az, 0.0f, 1e-4f);
}

TEST(CameraPosition, RecoversRandomPoses) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> pos(-3000, 3000), height(500, 2500), tilt(-55, 55), turn(-179, 179),
        focal(150, 600);
    for (int trial = 0; trial < 300; ++trial) {
        const Pose p = {pos(rng), pos(rng), -height(rng), tilt(rng), tilt(rng), turn(rng)};
        const double f = focal(rng);
        Mat3 h;
        homographyOf(p, f, 1.0, h);
        const Result r = solve(h, static_cast<float>(f));
        EXPECT_NEAR(r.x, p.x, 2.0) << trial;
        EXPECT_NEAR(r.y, p.y, 2.0) << trial;
        EXPECT_NEAR(r.z, p.z, 2.0) << trial;
        EXPECT_NEAR(r.ax, p.ax, 0.05) << trial;
        EXPECT_NEAR(r.ay, p.ay, 0.05) << trial;
        EXPECT_NEAR(r.az, p.az, 0.05) << trial;
    }
}

TEST(CameraPosition, ScaleAndSignOfTheHomographyDoNotMatter) {
    const Pose p = {400, -900, -1100, 35, -12, 70};
    Mat3 h1, h2, h3;
    homographyOf(p, 320, 1.0, h1);
    homographyOf(p, 320, 0.004, h2);
    homographyOf(p, 320, -7.5, h3);
    const Result a = solve(h1, 320), b = solve(h2, 320), c = solve(h3, 320);
    for (const Result& r : {b, c}) {
        EXPECT_NEAR(r.x, a.x, 0.05f);
        EXPECT_NEAR(r.y, a.y, 0.05f);
        EXPECT_NEAR(r.z, a.z, 0.05f);
        EXPECT_NEAR(r.ax, a.ax, 1e-3f);
        EXPECT_NEAR(r.ay, a.ay, 1e-3f);
        EXPECT_NEAR(r.az, a.az, 1e-3f);
    }
}

TEST(CameraPosition, CameraBelowTheFloorIsTurnedHalfAround) {
    // The mirror solution (centre at z > 0) keeps x, y and the angles about X and Y; z changes
    // sign and the angle about Z moves by half a turn.
    const Pose above = {300, 200, -1000, 20, 10, 30};
    const Pose below = {300, 200, 1000, 20, 10, 30};
    Mat3 ha, hb;
    homographyOf(above, 300, 1.0, ha);
    homographyOf(below, 300, 1.0, hb);
    const Result a = solve(ha, 300), b = solve(hb, 300);
    EXPECT_NEAR(a.az, 30.0f, 0.01f);
    EXPECT_NEAR(b.x, 300.0f, 0.5f);
    EXPECT_NEAR(b.y, 200.0f, 0.5f);
    EXPECT_NEAR(b.z, -1000.0f, 0.5f);
    EXPECT_NEAR(b.ax, 20.0f, 0.01f);
    EXPECT_NEAR(b.ay, 10.0f, 0.01f);
    EXPECT_NEAR(b.az, -150.0f, 0.01f);
}

TEST(CameraPosition, NullOutputsAreSkipped) {
    const Pose p = {100, 200, -900, 10, 5, -20};
    Mat3 h;
    homographyOf(p, 300, 1.0, h);
    const Result all = solve(h, 300);
    float z = 0, ay = 0;
    mzGetCameraPosition(h.get(), 300, nullptr, nullptr, &z, nullptr, &ay, nullptr);
    EXPECT_EQ(z, all.z);
    EXPECT_EQ(ay, all.ay);
    mzGetCameraPosition(nullptr, 300, &z, &z, &z, &z, &z, &z);
    EXPECT_EQ(z, all.z);
}

}  // namespace
