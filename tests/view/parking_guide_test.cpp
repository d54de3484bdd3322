// Parking-guide points: the segment budget, the geometry of straight and turning lines, refusal
// of records that would divide by zero or overrun the caller's list, and the camera projection.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mz/mzview.h"

namespace {

PgsParam guide(int steer, int maxPoints) {
    PgsParam g{};
    g.lineSpacing = 1800;
    g.wheelBase = 2700;
    g.steerAngle = steer;
    g.vehicleLength = 4600;
    g.startOffset = 100;
    g.lineShift = 50;
    g.maxPoints = maxPoints;
    g.distance1 = 1000;
    g.distance2 = 2000;
    g.distance3 = 3000;
    return g;
}

// Room for maxPoints points plus one guard point that must stay untouched.
struct Points {
    std::vector<Point2F> p;
    explicit Points(int n) : p(static_cast<size_t>(n > 0 ? n : 0) + 1, Point2F{123, 456}) {}
    float* data() { return &p[0].x; }
    bool guardIntact() const { return p.back().x == 123 && p.back().y == 456; }
};

bool isSeparator(const Point2F& p) { return p.x == -1.0f && p.y == -1.0f; }

TEST(ParkingGuide, FortyTwoPointsSplitIntoThreeSegmentsOfStraightLines) {
    PgsParam g = guide(0, 42);
    Points pts(42);
    ASSERT_EQ(mzGetPGSWorldPoints(&g, pts.data()), 0);
    EXPECT_EQ(g.points1, 17);
    EXPECT_EQ(g.points2, 11);
    EXPECT_EQ(g.points3, 14);
    EXPECT_EQ(g.maxPoints, 42);
    EXPECT_EQ(g.segmentCount, 3);
    EXPECT_EQ(g.turnRadius, 0.0f);  // straight: no finite turning radius to report
    EXPECT_TRUE(pts.guardIntact());
    EXPECT_TRUE(isSeparator(pts.p[16]));
    EXPECT_TRUE(isSeparator(pts.p[27]));
    // Segment 1: right line from the first point back along the vehicle, left line in reverse.
    const float first = -(50 + 1350 + 100 + (4600 / 2.0f - 2700 / 2.0f));
    EXPECT_FLOAT_EQ(pts.p[0].x, 900);
    EXPECT_FLOAT_EQ(pts.p[0].y, first);
    EXPECT_FLOAT_EQ(pts.p[7].y, first - 1000);
    EXPECT_FLOAT_EQ(pts.p[8].x, -900);
    EXPECT_FLOAT_EQ(pts.p[8].y, first - 1000);
    EXPECT_FLOAT_EQ(pts.p[15].y, first);
    EXPECT_FLOAT_EQ(pts.p[28].y, first - 2000);
    EXPECT_FLOAT_EQ(pts.p[41].x, -900);
}

TEST(ParkingGuide, TurningLinesFollowCirclesAboutTheTurningCentre) {
    for (const int steer : {-35, 5, 30}) {
        PgsParam g = guide(steer, 60);
        Points pts(60);
        ASSERT_EQ(mzGetPGSWorldPoints(&g, pts.data()), 0);
        const float r = g.turnRadius;
        EXPECT_NEAR(r, 2700 / std::tan(-steer * 0.017453292519943295), 0.05);
        const float cy = -(50 + 2700 / 2.0f);
        for (int i = 0; i < g.maxPoints; ++i) {
            const Point2F& p = pts.p[static_cast<size_t>(i)];
            if (isSeparator(p)) continue;
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
            const double d = std::hypot(p.x - r, p.y - cy);
            const double right = std::fabs(900 - r), left = std::fabs(-900 - r);
            EXPECT_LT(std::min(std::fabs(d - right), std::fabs(d - left)), 0.01 * std::fabs(r)) << steer << " " << i;
        }
        EXPECT_TRUE(pts.guardIntact());
    }
}

TEST(ParkingGuide, RefusesRecordsWithoutUsableLinesAndNeverOverrunsTheList) {
    Points pts(42);
    EXPECT_EQ(mzGetPGSWorldPoints(nullptr, pts.data()), -5);
    PgsParam g = guide(10, 42);
    EXPECT_EQ(mzGetPGSWorldPoints(&g, nullptr), -5);
    for (const int maxPoints : {-4, 0, 1}) {
        g = guide(10, maxPoints);
        EXPECT_EQ(mzGetPGSWorldPoints(&g, pts.data()), -1) << maxPoints;
    }
    for (const int steer : {90, -90, 135}) {
        g = guide(steer, 42);
        EXPECT_EQ(mzGetPGSWorldPoints(&g, pts.data()), -1) << steer;
    }
    g = guide(20, 42);
    g.wheelBase = 0;
    EXPECT_EQ(mzGetPGSWorldPoints(&g, pts.data()), -1);
    g = guide(20, 42);
    g.lineSpacing = NAN;
    EXPECT_EQ(mzGetPGSWorldPoints(&g, pts.data()), -1);
    EXPECT_FLOAT_EQ(pts.p[0].x, 123);  // nothing written by any refusal

    // Budgets too small for two points per line: single points sit at their segment's start.
    for (const int maxPoints : {2, 3, 4, 5, 7}) {
        for (const int steer : {0, 25}) {
            g = guide(steer, maxPoints);
            Points small(maxPoints);
            ASSERT_EQ(mzGetPGSWorldPoints(&g, small.data()), 0);
            EXPECT_LE(g.maxPoints, maxPoints);
            EXPECT_TRUE(small.guardIntact()) << maxPoints;
            for (int i = 0; i < g.maxPoints; ++i) EXPECT_TRUE(std::isfinite(small.p[static_cast<size_t>(i)].y));
        }
    }
}

TEST(ParkingGuide, ProjectsIntoTheCameraWithTheFloorsYTurned) {
    std::vector<Point2F> image = {{200, 300}, {520, 300}, {560, 420}, {160, 420}, {360, 300}, {360, 420}};
    std::vector<Point2F> world = {{-1000, -1000}, {1000, -1000}, {1000, -2500}, {-1000, -2500}, {0, -1000}, {0, -2500}};
    CameraParam cam{};
    cam.f = cam.fx = cam.fy = 300;
    cam.cx = 360;
    cam.cy = 240;
    cam.k1 = cam.c1 = 1;
    cam.width = 720;
    cam.height = 480;
    const std::vector<float> floor = {100, 1200, -1, -1, -300, 2000, NAN, 5};
    std::vector<float> pixels(8, 0);
    EXPECT_EQ(mzGetPGSWorldToImage(&cam, floor.data(), pixels.data(), 4), -1);  // no pose yet
    cam.pointCount = 6;
    cam.imagePoints = image.data();
    cam.worldPoints = world.data();
    ASSERT_EQ(mzGetPGSWorldToImage(&cam, floor.data(), pixels.data(), 4), 0);
    const std::vector<Point2F> turned = {{100, -1200}, {-300, -2000}};
    std::vector<Point2F> expected(2);
    mzWorldToImage2D(&cam, turned.data(), expected.data(), 2);
    EXPECT_FLOAT_EQ(pixels[0], expected[0].x);
    EXPECT_FLOAT_EQ(pixels[1], expected[0].y);
    EXPECT_FLOAT_EQ(pixels[2], -1);
    EXPECT_FLOAT_EQ(pixels[3], -1);
    EXPECT_FLOAT_EQ(pixels[4], expected[1].x);
    EXPECT_FLOAT_EQ(pixels[7], -1);  // not a number in, missing point out
    EXPECT_EQ(mzGetPGSWorldToImage(nullptr, floor.data(), pixels.data(), 4), -5);
}

}  // namespace
