// Corner and marker detection on the simulated fixed bay, against the truth of every corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "mz/mzview.h"
#include "sim/fixed_bay.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

double nearestTruth(const Point2F& p, const std::vector<mz::sim::Vec2>& truth) {
    double best = 1e30;
    for (const mz::sim::Vec2& t : truth) best = std::min(best, std::hypot(p.x - t.x, p.y - t.y));
    return best;
}

std::string summary(std::vector<double> d) {
    std::sort(d.begin(), d.end());
    char text[96];
    std::snprintf(text, sizeof text, "median %.2f px, worst %.2f px over %zu points", d[d.size() / 2], d.back(),
                  d.size());
    return text;
}

TEST(FixedBay, BothDetectorsFindEveryCornerOfEveryCamera) {
    const mz::sim::Rig rig = mz::sim::fixedRig(mz::sim::RigOptions{});
    ASSERT_TRUE(mz::sim::checkRig(rig).empty());
    std::vector<double> corner, hole, marker;
    const float length = static_cast<float>(rig.options.markerLength);
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(mz::sim::kCameraNames[c]);
        const std::vector<uint8_t> picture = mz::sim::packedPixels(mz::sim::renderCamera(rig, c, 2));
        const mz::sim::CameraPoints truth = mz::sim::cameraPoints(rig, c);
        CameraParam cam = mz::sim::cameraRecord(rig.cameras[c]);
        cam.markerLength = static_cast<int32_t>(length);
        std::vector<Point2F> image(MZ_DETECT_POINT_CAPACITY), world(MZ_DETECT_POINT_CAPACITY);
        cam.imagePoints = image.data();
        cam.worldPoints = world.data();

        mzDetectCorner(picture.data(), &cam, c);
        for (int side = 0; side < 2; ++side) {
            // The right camera's upper right rectangle reaches past a right angle of incidence on
            // this lens: its canvas window spans half the canvas and holds other dark regions.
            if (c == 3 && side == 1) continue;
            const std::vector<mz::sim::Vec2> outer(truth.image.begin() + 3 * side, truth.image.begin() + 3 * side + 3);
            const std::vector<mz::sim::Vec2> inner(truth.inner.begin() + 3 * side, truth.inner.begin() + 3 * side + 3);
            for (int k = 0; k < 3; ++k) {
                corner.push_back(nearestTruth(image[static_cast<size_t>(3 * side + k)], outer));
                hole.push_back(nearestTruth(image[static_cast<size_t>(6 + 3 * side + k)], inner));
            }
        }

        ASSERT_EQ(mzDetectMarker(picture.data(), &cam, c, nullptr), 1);
        EXPECT_EQ(cam.pointCount, 6);
        for (int side = 0; side < 2; ++side) {
            const std::vector<mz::sim::Vec2> outer(truth.image.begin() + 3 * side, truth.image.begin() + 3 * side + 3);
            for (int k = 0; k < 3; ++k) marker.push_back(nearestTruth(image[static_cast<size_t>(3 * side + k)], outer));
            // Each marker's world points are the equilateral triangle of the configured side.
            const Point2F* w = &world[static_cast<size_t>(3 * side)];
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(std::hypot(w[k].x - w[(k + 1) % 3].x, w[k].y - w[(k + 1) % 3].y), length, 1e-3f * length);
        }
    }
    std::printf("corner detection, outer corners: %s\n", summary(corner).c_str());
    std::printf("corner detection, hole corners: %s\n", summary(hole).c_str());
    std::printf("marker detection: %s\n", summary(marker).c_str());
    // The marker detector fits straight lines to sides the lens bends (up to 5 px from straight on
    // this bay) and intersects them at tips as sharp as 15 degrees on the side cameras, where a
    // pixel of sideways error moves the corner six or seven pixels. Holes are small slivers at such
    // angles. Both are far looser than the outer corners of the perspective canvas.
    for (const double d : corner) EXPECT_LT(d, 2.0);
    for (const double d : hole) EXPECT_LT(d, 8.0);
    for (const double d : marker) EXPECT_LT(d, 12.0);
}

}  // namespace
