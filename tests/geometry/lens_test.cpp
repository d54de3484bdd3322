#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/matrix.h"
#include "mz/mzgeometry.h"
#include "testing/geometry_fixtures.h"

namespace {

using mztest::makeFisheye;
using mztest::Mat3;

TEST(Lens, PrincipalPointAndOpticalAxisMapToEachOther) {
    const CameraParam cam = makeFisheye();
    const Point2F centre = {cam.cx, cam.cy};
    Point2F ideal = {5, 5};
    mzFeatureUndistortion(&centre, &ideal, &cam);
    EXPECT_EQ(ideal.x, 0.0f);
    EXPECT_EQ(ideal.y, 0.0f);

    const Point2F axis = {0, 0};
    Point2F pixel = {0, 0};
    mzFeatureDistortion(&axis, &pixel, &cam);
    EXPECT_EQ(pixel.x, cam.cx);
    EXPECT_EQ(pixel.y, cam.cy);

    CameraParam shifted = cam;
    shifted.c0 = 0.01f;
    float angle = 0.0f;
    mzGetFOV(&shifted, cam.cx, cam.cy, &angle);
    EXPECT_EQ(angle, static_cast<float>(0.01f * 57.29578));
}

TEST(Lens, FieldOfViewFollowsTheInversePolynomial) {
    const CameraParam cam = makeFisheye();
    // A ray 80 degrees off the axis, traced forward, must read back as 80 degrees.
    const float theta = 80.0f / 57.29578f;
    const Point2F ideal = {std::tan(theta) * cam.f, 0.0f};
    Point2F pixel;
    mzFeatureDistortion(&ideal, &pixel, &cam);
    float angle = 0.0f;
    mzGetFOV(&cam, pixel.x, pixel.y, &angle);
    EXPECT_NEAR(angle, 80.0f, 0.02f);
    // Left of the centre the angle is the same: the field of view is not signed by side.
    mzGetFOV(&cam, 2 * cam.cx - pixel.x, pixel.y, &angle);
    EXPECT_NEAR(angle, 80.0f, 0.02f);
}

TEST(Lens, ForwardAndFittedInverseMappingsAgree) {
    const CameraParam cam = makeFisheye();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> angle(0.0f, 80.0f / 57.29578f), turn(-3.1416f, 3.1416f);
    double worstPixel = 0.0, worstIdeal = 0.0;
    for (int i = 0; i < 2000; ++i) {
        const float theta = angle(rng), phi = turn(rng);
        const float r = std::tan(theta) * cam.f;
        const Point2F ideal = {r * std::cos(phi), r * std::sin(phi)};
        Point2F pixel, back, again;
        mzFeatureDistortion(&ideal, &pixel, &cam);
        mzFeatureUndistortion(&pixel, &back, &cam);
        mzFeatureDistortion(&back, &again, &cam);
        worstPixel = std::max<double>(worstPixel, std::hypot(again.x - pixel.x, again.y - pixel.y));
        worstIdeal = std::max<double>(worstIdeal, std::hypot(back.x - ideal.x, back.y - ideal.y) / r);
    }
    EXPECT_LT(worstPixel, 0.02);  // pixels
    EXPECT_LT(worstIdeal, 2e-3);  // relative, on the ideal plane
}

TEST(Lens, IncidenceAngleLimitOfTheViewLibrary) {
    // This build is mzview's (limit on). A polynomial value just above 4870.1413 is replaced by
    // 4870.141 before the tangent; the value 4870.1413 itself (as a float) is kept.
    CameraParam cam = makeFisheye();
    cam.c1 = cam.c2 = cam.c3 = cam.c4 = cam.c5 = cam.c6 = cam.c7 = cam.c8 = 0.0f;
    const Point2F pixel = {cam.cx + cam.fx, cam.cy};  // u = 1, v = 0, rho = 1
    Point2F ideal;

    cam.c0 = 4870.1416f;
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    EXPECT_EQ(ideal.x, std::tan(4870.141f) * cam.f);
    EXPECT_NE(ideal.x, std::tan(4870.1416f) * cam.f);

    cam.c0 = 4870.1413f;
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    EXPECT_EQ(ideal.x, std::tan(4870.1413f) * cam.f);

    cam.c0 = 1.0f;
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    EXPECT_EQ(ideal.x, std::tan(1.0f) * cam.f);
    EXPECT_EQ(ideal.y, 0.0f);
}

TEST(Lens, PlaneMappingsUseTheOriginAndGuardAZeroThirdComponent) {
    CameraParam cam = makeFisheye();
    cam.originX = 100.0f;
    cam.originY = -50.0f;
    Mat3 h({{1, 0, 0}, {0, 1, 0}, {0, 0, 0}});  // W = 0 everywhere: treated as 1
    const Point2F pixel = {400.0f, 300.0f};
    Point2F ideal;
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    const Point3F ground = mzImageToWorld(pixel, &cam, h.get());
    EXPECT_EQ(ground.x, ideal.x + 100.0f);
    EXPECT_EQ(ground.y, ideal.y - 50.0f);
    EXPECT_EQ(ground.z, 0.0f);

    const Point2F back = mzWorldToImage(&cam, ground, h.get());
    EXPECT_NEAR(back.x, pixel.x, 0.02f);
    EXPECT_NEAR(back.y, pixel.y, 0.02f);
}

// A camera whose six point pairs come from a known ground-to-ideal homography.
struct CalibratedCamera {
    CameraParam cam = makeFisheye();
    Point2F image[6];
    Point2F world[6];
    Mat3 groundToIdeal{{{-0.30, 0.02, 10.0}, {0.01, 0.12, -160.0}, {0.00002, 0.0009, 1.0}}};

    CalibratedCamera() {
        const Point2F floor[6] = {{-1500, 900}, {-900, 1300}, {-1700, 1500}, {1500, 900}, {1700, 1500}, {900, 1300}};
        for (int i = 0; i < 6; ++i) {
            world[i] = floor[i];
            Point2F ideal;
            mzHomographyTransform(&floor[i], &ideal, groundToIdeal.get());
            mzFeatureDistortion(&ideal, &image[i], &cam);
        }
        cam.pointCount = 6;
        cam.imagePoints = image;
        cam.worldPoints = world;
    }
};

TEST(Lens, WorldToImage2DProjectsAndPassesMissingPoints) {
    CalibratedCamera rig;
    const Point2F world[4] = {{-1, -1}, {-1, 0}, {0, -1}, {-1500, 900}};
    Point2F pixels[4];
    mzWorldToImage2D(&rig.cam, world, pixels, 4);
    EXPECT_EQ(pixels[0].x, -1.0f);
    EXPECT_EQ(pixels[0].y, -1.0f);
    EXPECT_NE(pixels[1].x, -1.0f);  // only the exact pair (-1, -1) is missing
    EXPECT_NE(pixels[2].x, -1.0f);
    EXPECT_NEAR(pixels[3].x, rig.image[0].x, 0.05f);
    EXPECT_NEAR(pixels[3].y, rig.image[0].y, 0.05f);
}

TEST(Lens, WorldToImage2DWithoutAHomographyReportsMissingPixels) {
    CalibratedCamera rig;
    rig.cam.pointCount = 3;
    Point2F pixels[2] = {{5, 5}, {5, 5}};
    const Point2F world[2] = {{0, 0}, {100, 100}};
    mzWorldToImage2D(&rig.cam, world, pixels, 2);
    for (const Point2F& p : pixels) {
        EXPECT_EQ(p.x, -1.0f);
        EXPECT_EQ(p.y, -1.0f);
    }
}

TEST(Lens, GroundAndPixelMappingsUndoEachOther) {
    CalibratedCamera rig;
    MatrixPtr toIdeal(3, 3), toGround(3, 3);
    mzGetHomography(toIdeal.get(), &rig.cam, 0);
    mzGetHomography(toGround.get(), &rig.cam, 1);
    for (float x = -2000; x <= 2000; x += 500) {
        const Point3F world = {x, 1200.0f, 0.0f};
        const Point2F pixel = mzWorldToImage(&rig.cam, world, toIdeal.get());
        const Point3F back = mzImageToWorld(pixel, &rig.cam, toGround.get());
        EXPECT_NEAR(back.x, x, 2.0f);
        EXPECT_NEAR(back.y, 1200.0f, 2.0f);
    }
}

}  // namespace
