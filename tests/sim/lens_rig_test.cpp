#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "mz/mzgeometry.h"
#include "sim/rig.h"
#include "sim/simulated_lens.h"

namespace mz::sim {
namespace {

constexpr double kDeg = std::numbers::pi / 180;

TEST(Lens, FollowsTheWideTableAndItsPitches) {
    const Lens lens = makeLens(720, 480);
    EXPECT_NEAR(lens.fx, 1 / 0.004437, 1e-3);
    EXPECT_NEAR(lens.fy, 1 / 0.004868, 1e-3);
    EXPECT_NEAR(lensRadius(lens, 30 * kDeg), 0.438183, 2e-3);
    EXPECT_NEAR(lensRadius(lens, 90 * kDeg), 1.579721, 2e-3);
    // About 190 degrees across the width.
    EXPECT_NEAR(2 * lens.maxAngle / kDeg, 190, 1e-9);
    EXPECT_GT(lensRadius(lens, lens.maxAngle) * lens.fx, 355);
    const Lens square = makeLens(1280, 720);
    EXPECT_EQ(square.fx, square.fy);
    EXPECT_NEAR(square.fx, lens.fx * 1280 / 720, 1e-2);
}

TEST(Lens, InversePolynomialUndoesTheForwardOne) {
    for (const auto& [w, h] : {std::pair{720, 480}, {640, 480}, {1280, 720}}) {
        const Lens lens = makeLens(w, h);
        EXPECT_EQ(lens.c[0], 0.0f);
        const RadiusToAngle table(lens);
        for (double deg = 0; deg <= 95; deg += 2.5) {
            const double rho = lensRadius(lens, deg * kDeg);
            double theta = 0, p = 1;
            for (float c : lens.c) {
                theta += c * p;
                p *= rho;
            }
            EXPECT_NEAR(theta / kDeg, deg, 0.1) << w << "x" << h;
            EXPECT_NEAR(table(rho) / kDeg, deg, 1e-6);
        }
    }
}

TEST(Lens, ProjectionIsTheCameraRecordsForwardModel) {
    RigOptions options;
    const Rig rig = drawRig(options);
    for (int c = 0; c < 4; ++c) {
        const Camera& cam = rig.cameras[c];
        const CameraParam rec = cameraRecord(cam);
        for (const Triangle& tri : rig.triangles) {
            for (const Vec2& corner : tri.corners) {
                Vec2 px;
                if (!projectToPixel(cam, {corner.x, corner.y, 0}, px)) continue;
                const Mat3& r = cam.rotation;
                const double d[3] = {corner.x - cam.position.x, corner.y - cam.position.y, -cam.position.z};
                double p[3];
                for (int i = 0; i < 3; ++i) p[i] = r[i][0] * d[0] + r[i][1] * d[1] + r[i][2] * d[2];
                if (p[2] <= 0.2 * std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2])) continue;
                const Point2F ideal{static_cast<float>(rec.f * p[0] / p[2]), static_cast<float>(rec.f * p[1] / p[2])};
                Point2F out{};
                mzFeatureDistortion(&ideal, &out, &rec);
                EXPECT_NEAR(out.x, px.x, 0.02);
                EXPECT_NEAR(out.y, px.y, 0.02);
            }
        }
    }
}

TEST(Rig, RotationFollowsTheDocumentedAngles) {
    // Front camera looking straight ahead and level: camera x is floor +x, y is down, z ahead.
    Mat3 r = cameraRotation(0, 0, 0);
    EXPECT_NEAR(r[0][0], 1, 1e-12);
    EXPECT_NEAR(r[1][2], -1, 1e-12);
    EXPECT_NEAR(r[2][1], 1, 1e-12);
    // Right camera tilted 30 degrees down: its axis points to +x and below the horizon.
    r = cameraRotation(90, 30, 0);
    EXPECT_NEAR(r[2][0], std::cos(30 * kDeg), 1e-12);
    EXPECT_NEAR(r[2][2], -0.5, 1e-12);
    // Positive roll turns the camera's x axis toward its (downward) y axis.
    r = cameraRotation(0, 0, 10);
    EXPECT_NEAR(r[0][2], -std::sin(10 * kDeg), 1e-12);
}

TEST(Rig, PointOrderIsLowestFirstThenClockwiseInEveryCamera) {
    for (uint64_t seed : {1u, 2u, 17u}) {
        RigOptions options;
        options.seed = seed;
        const Rig rig = drawRig(options);
        for (int c = 0; c < 4; ++c) {
            const CameraPoints pts = cameraPoints(rig, c);
            for (int side = 0; side < 2; ++side) {
                const Vec2* p = &pts.image[side * 3];
                EXPECT_GT(p[0].y, p[1].y);
                EXPECT_GT(p[0].y, p[2].y);
                // y points down: clockwise on screen is a positive cross product.
                const double cross = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
                EXPECT_GT(cross, 0);
                for (int i = 0; i < 3; ++i) {
                    EXPECT_EQ(side == 0, p[i].x < options.width / 2) << kCameraNames[c];
                    EXPECT_GT(p[i].y, options.height / 4);
                }
                // The lowest corner is the one pointing at the vehicle.
                const Triangle& tri = rig.triangles[kCameraTriangles[c][side]];
                EXPECT_EQ(pts.floor[side * 3].x, tri.corners[0].x);
                EXPECT_EQ(pts.floor[side * 3].y, tri.corners[0].y);
            }
        }
    }
}

TEST(Rig, SameSeedSameBayAndEverySizeFindsOne) {
    RigOptions a;
    a.seed = 5;
    const Rig r1 = drawRig(a), r2 = drawRig(a);
    EXPECT_EQ(r1.cameras[2].position.x, r2.cameras[2].position.x);
    EXPECT_EQ(r1.cameras[3].tiltDeg, r2.cameras[3].tiltDeg);
    for (const auto& [w, h] : {std::pair{640, 480}, {1280, 720}}) {
        RigOptions o;
        o.width = w;
        o.height = h;
        const Rig rig = drawRig(o);
        EXPECT_TRUE(checkRig(rig).empty());
        for (const Camera& cam : rig.cameras) {
            EXPECT_GE(cam.position.z, 600);
            EXPECT_LE(cam.position.z, 1100);
            EXPECT_GE(cam.tiltDeg, 25);
            EXPECT_LE(cam.tiltDeg, 60);
        }
    }
}

TEST(Rig, TriangleLeavingItsHalfIsReported) {
    Rig rig = drawRig(RigOptions{});
    // Slide the front-right triangle toward the middle in front of the vehicle: the front camera
    // then sees it cross into the left half.
    for (Vec2& c : rig.triangles[kT2FrontRight].corners) c.x -= 1800;
    const std::vector<std::string> problems = checkRig(rig);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0].find("front camera, triangle T2 (front-right): leaves the lower three "
                               "quarters of the right half"),
              std::string::npos)
        << problems[0];
}

TEST(Rig, MarkersTooSmallToSeeCannotBeLaidOut) {
    RigOptions o;
    o.markerLength = 150;
    try {
        drawRig(o);
        FAIL() << "expected a refusal";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no calibration bay"), std::string::npos);
    }
}

}  // namespace
}  // namespace mz::sim
