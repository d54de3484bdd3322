// The exported entry point on small synthetic pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "mz/mzpattern.h"
#include "tests/pattern/pattern_test_util.h"

namespace mz::pattern::testing {
namespace {

constexpr int kW = 720;
constexpr int kH = 480;

// Left: pointing down. Right: pointing up-left, slightly tilted. Listed in the stored order.
const std::array<Pixel, 3> kLeftTriangle = {Pixel{190.5, 410.25}, Pixel{120.25, 290.75}, Pixel{265.5, 300.5}};
const std::array<Pixel, 3> kRightTriangle = {Pixel{505.5, 400.5}, Pixel{470.25, 270.75}, Pixel{610.75, 330.25}};

void expectNear(const CameraParam& cam, int first, const std::array<Pixel, 3>& truth, double tol) {
    for (int k = 0; k < 3; ++k) {
        EXPECT_LT(distance(cam.imagePoints[first + k], truth[k]), tol)
            << "point " << first + k << " at (" << cam.imagePoints[first + k].x << ", "
            << cam.imagePoints[first + k].y << "), truth (" << truth[k].x << ", " << truth[k].y << ")";
    }
}

TEST(GetPatternIP, FindsBothTrianglesInOrder) {
    const CameraParam cam = makeCamera(kW, kH);
    Picture pic(cam);
    pic.drawFrame(kLeftTriangle);
    pic.drawFrame(kRightTriangle);
    const auto rects = programRectangles(kW, kH);
    Record rec(cam);
    ASSERT_EQ(mzGetPatternIP(pic.data(), &rec.camera, rects.data()), 0);
    EXPECT_EQ(rec.camera.pointCount, 6);
    expectNear(rec.camera, 0, kLeftTriangle, 1.5);
    expectNear(rec.camera, 3, kRightTriangle, 1.5);
}

}  // namespace
}  // namespace mz::pattern::testing
