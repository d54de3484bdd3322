// The exported entry point on small synthetic pictures.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "mz/mzpattern.h"
#include "testing/frame_picture.h"

namespace mztest {
namespace {

constexpr int kW = 720;
constexpr int kH = 480;

// Left: pointing down. Right: pointing up-left, slightly tilted. Listed in the stored order.
const std::array<Pixel, 3> kLeftTriangle = {Pixel{190.5, 410.25}, Pixel{120.25, 290.75}, Pixel{265.5, 300.5}};
const std::array<Pixel, 3> kRightTriangle = {Pixel{505.5, 400.5}, Pixel{470.25, 270.75}, Pixel{610.75, 330.25}};

void expectNear(const CameraParam& cam, int first, const std::array<Pixel, 3>& truth, double tol) {
    for (int k = 0; k < 3; ++k) {
        EXPECT_LT(distance(cam.imagePoints[first + k], truth[k]), tol)
            << "point " << first + k << " at (" << cam.imagePoints[first + k].x << ", " << cam.imagePoints[first + k].y
            << "), truth (" << truth[k].x << ", " << truth[k].y << ")";
    }
}

FramePicture bothTriangles(const CameraParam& cam) {
    FramePicture pic(cam);
    pic.drawFrame(kLeftTriangle);
    pic.drawFrame(kRightTriangle);
    return pic;
}

void expectUntouched(const Record& rec) {
    EXPECT_EQ(rec.camera.pointCount, 0);
    for (const Point2F& p : rec.image) {
        EXPECT_EQ(p.x, -7.0f);
        EXPECT_EQ(p.y, -7.0f);
    }
}

TEST(GetPatternIP, FindsBothTrianglesInOrder) {
    const CameraParam cam = makeEquidistant(kW, kH);
    FramePicture pic = bothTriangles(cam);
    const auto rects = programRectangles(kW, kH);
    for (int noisy = 0; noisy < 2; ++noisy) {
        if (noisy) pic.addNoise(11, 4.0);
        const std::vector<uint8_t> before(pic.data(), pic.data() + kW * kH * 3);
        Record rec(cam);
        ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
        EXPECT_EQ(0, std::memcmp(before.data(), pic.data(), before.size()));
        EXPECT_EQ(rec.camera.pointCount, 6);
        expectNear(rec.camera, 0, kLeftTriangle, 1.5);
        expectNear(rec.camera, 3, kRightTriangle, 1.5);
    }
}

TEST(GetPatternIP, OnlyTheFoundHalfIsWritten) {
    const CameraParam cam = makeEquidistant(kW, kH);
    FramePicture pic(cam);
    pic.drawFrame(kLeftTriangle);
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
    EXPECT_EQ(rec.camera.pointCount, 6);
    expectNear(rec.camera, 0, kLeftTriangle, 1.5);
    for (int i = 3; i < 6; ++i) EXPECT_EQ(rec.image[i].x, -7.0f);
}

TEST(GetPatternIP, FailuresLeaveTheRecordUntouched) {
    const CameraParam cam = makeEquidistant(kW, kH);
    const FramePicture blank(cam);
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    EXPECT_EQ(mzGetPatternIP(blank.data(), &rec.camera, rects.data()), -1);
    expectUntouched(rec);

    // A frame above the search rectangles is not looked at.
    FramePicture high(cam);
    high.drawFrame({Pixel{190, 110}, Pixel{130, 20}, Pixel{250, 20}});
    EXPECT_EQ(mzGetPatternIP(high.data(), &rec.camera, rects.data()), -1);
    expectUntouched(rec);

    const FramePicture pic = bothTriangles(cam);
    for (int32_t w : {0, -720}) {
        rec.camera.width = w;
        EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), -1);
        expectUntouched(rec);
    }
    rec.camera.width = kW;
    rec.camera.height = 0;
    EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), -1);
    expectUntouched(rec);
}

TEST(GetPatternIP, FramesJoinedByACableOrAShadowRimAreStillFound) {
    const CameraParam cam = makeEquidistant(kW, kH);
    FramePicture pic = bothTriangles(cam);
    // A cable across the left frame's band, running on well outside it both ways.
    for (int x = 40; x < 340; ++x) pic.fillRect(x, 330 - (x - 40) / 3, 2, 2, 40);
    // The dark side of a light step running into the right frame's lowest tip and on to the right.
    pic.fillRect(500, 396, 200, 12, 60);
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
    // A tip freed from what joined it comes out blunter: a start for the corner refinement.
    expectNear(rec.camera, 0, kLeftTriangle, 2.5);
    expectNear(rec.camera, 3, kRightTriangle, 2.5);
}

TEST(GetPatternIP, NullArguments) {
    const CameraParam cam = makeEquidistant(kW, kH);
    const FramePicture pic = bothTriangles(cam);
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    EXPECT_EQ(mzGetPatternIP(nullptr, &rec.camera, rects.data()), -5);
    EXPECT_EQ(mzGetPatternIP(pic.data(), nullptr, rects.data()), -5);
    EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, nullptr), -5);
    rec.camera.imagePoints = nullptr;
    EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), -5);
    rec.camera.imagePoints = rec.image.data();
    expectUntouched(rec);
}

TEST(GetPatternIP, RectanglesOutsideThePictureAreClipped) {
    const CameraParam cam = makeEquidistant(kW, kH);
    const FramePicture pic = bothTriangles(cam);
    {
        const std::array<int32_t, 8> rects = {-40, kH / 4, kW / 2 + 40, kH, kW / 2, kH / 4, kW, 2 * kH};
        Record rec(cam);
        ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
        expectNear(rec.camera, 0, kLeftTriangle, 1.5);
        expectNear(rec.camera, 3, kRightTriangle, 1.5);
    }
    {
        const std::array<int32_t, 8> rects = {INT_MIN, INT_MIN, INT_MAX, INT_MAX, kW, 0, INT_MAX, INT_MAX};
        Record rec(cam);
        EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), -1);
        expectUntouched(rec);
    }
}

TEST(GetPatternIP, StoredCornersKeepTheMargin) {
    const CameraParam cam = makeEquidistant(kW, kH, 400.0f);  // the picture's corners stay below 90 degrees
    FramePicture pic(cam);
    // Outer corners 3 pixels from the bottom edge and 5 from the left one, clear of the border.
    const std::array<Pixel, 3> low = {Pixel{40.5, 473.5}, Pixel{5.5, 380.5}, Pixel{120.5, 400.5}};
    pic.drawFrame(low, 0.55);
    const std::array<int32_t, 8> rects = {-10, kH / 4, kW / 2 + 10, kH, kW / 2, kH / 4, kW / 2, kH};
    Record rec(cam);
    ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
    EXPECT_FLOAT_EQ(rec.image[0].y, static_cast<float>(kH - 10));
    EXPECT_FLOAT_EQ(rec.image[1].x, 10.0f);
}

TEST(GetPatternIP, GivesUpOnOutlinesWithoutStraightSides) {
    // With a huge ideal-plane focal length neighbouring outline points lie far apart there, so no
    // line gathers ten supporters: the side search must end and report the half as not found.
    CameraParam cam = makeEquidistant(kW, kH);
    const FramePicture pic = bothTriangles(cam);
    cam.f = 250000.0f;
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    EXPECT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), -1);
    expectUntouched(rec);
}

TEST(GetPatternIP, RandomStateCarriesOverPerThread) {
    const CameraParam cam = makeEquidistant(kW, kH);
    FramePicture pic = bothTriangles(cam);
    pic.addNoise(5, 6.0);
    const auto rects = programRectangles(kW, kH);
    // Two calls on one thread draw different samples; a fresh thread starts the sequence again.
    const auto run = [&](std::array<Point2F, 6>& first, std::array<Point2F, 6>& second) {
        Record a(cam), b(cam);
        EXPECT_EQ(mzGetPatternIP(pic.data(), &a.camera, rects.data()), 0);
        EXPECT_EQ(mzGetPatternIP(pic.data(), &b.camera, rects.data()), 0);
        first = a.image;
        second = b.image;
    };
    std::array<Point2F, 6> t1a, t1b, t2a, t2b;
    std::thread([&] { run(t1a, t1b); }).join();
    std::thread([&] { run(t2a, t2b); }).join();
    bool sameAsFirst = true, sequenceMoved = false;
    for (int i = 0; i < 6; ++i) {
        sameAsFirst &= t1a[i].x == t2a[i].x && t1a[i].y == t2a[i].y && t1b[i].x == t2b[i].x && t1b[i].y == t2b[i].y;
        sequenceMoved |= t1a[i].x != t1b[i].x || t1a[i].y != t1b[i].y;
    }
    EXPECT_TRUE(sameAsFirst);
    EXPECT_TRUE(sequenceMoved);
}

}  // namespace
}  // namespace mztest
