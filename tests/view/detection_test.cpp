// Corner and marker detection: region choice, corner order and world points, and refusal of
// unusable input without writing outside the caller's arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "mz/mzview.h"
#include "view/marker_detection.h"
#include "view/target_shapes.h"

namespace {

using mz::detect::Plane;

struct Pt {
    double x, y;
};

// A 720 x 480 light picture (blue, green, red, no padding).
struct Picture {
    int width = 720, height = 480;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(720 * 480 * 3, 200);

    // Dark equilateral-ish ring between the outer triangle and its copy shrunk toward the
    // centroid by `holeScale`, 4 x 4 samples per pixel.
    void ring(const std::array<Pt, 3>& t, double holeScale) {
        const Pt m = {(t[0].x + t[1].x + t[2].x) / 3, (t[0].y + t[1].y + t[2].y) / 3};
        std::array<Pt, 3> hole;
        for (int i = 0; i < 3; ++i) hole[i] = {m.x + (t[i].x - m.x) * holeScale, m.y + (t[i].y - m.y) * holeScale};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int dark = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx) {
                        const Pt p = {x + (sx + 0.5) / 4 - 0.5, y + (sy + 0.5) / 4 - 0.5};
                        dark += inside(t, p) && (holeScale <= 0 || !inside(hole, p));
                    }
                if (dark == 0) continue;
                const uint8_t v = static_cast<uint8_t>(200 - dark * (200 - 30) / 16);
                for (int c = 0; c < 3; ++c) bytes[(static_cast<size_t>(y) * width + x) * 3 + c] = v;
            }
    }
    static bool inside(const std::array<Pt, 3>& t, Pt p) {
        double s[3];
        for (int i = 0; i < 3; ++i) {
            const Pt a = t[i], b = t[(i + 1) % 3];
            s[i] = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        }
        return (s[0] >= 0 && s[1] >= 0 && s[2] >= 0) || (s[0] <= 0 && s[1] <= 0 && s[2] <= 0);
    }
};

struct Camera {
    std::vector<Point2F> image = std::vector<Point2F>(MZ_DETECT_POINT_CAPACITY + 1, Point2F{7, 7});
    std::vector<Point2F> world = std::vector<Point2F>(MZ_DETECT_POINT_CAPACITY + 1, Point2F{7, 7});
    CameraParam cam{};

    Camera() {
        cam.f = 300;
        cam.fx = cam.fy = 300;
        cam.cx = 360;
        cam.cy = 240;
        cam.k1 = 1;
        cam.c1 = 1;
        cam.width = 720;
        cam.height = 480;
        cam.markerLength = 800;
        cam.imagePoints = image.data();
        cam.worldPoints = world.data();
    }
};

// Ring of an outer w x h rectangle with a hole of (w - 2a) x (h - 2b), at (x, y).
Plane rectRing(int x, int y, int w, int h, int a, int b, Plane plane = Plane(80, 80, 255)) {
    for (int r = y; r < y + h; ++r)
        for (int c = x; c < x + w; ++c)
            if (r < y + b || r >= y + h - b || c < x + a || c >= x + w - a) plane.at(c, r) = 0;
    return plane;
}

TEST(MarkerDetection, DirectionValuesOfTheAxes) {
    EXPECT_FLOAT_EQ(mz::detect::directionValue(0, 0, -1, 0), 0.0f);
    EXPECT_FLOAT_EQ(mz::detect::directionValue(0, 0, 1, 0), 180.0f);
    EXPECT_FLOAT_EQ(mz::detect::directionValue(0, 0, 0, 1), 90.0f);
    EXPECT_FLOAT_EQ(mz::detect::directionValue(0, 0, 0, -1), 270.0f);
    // Counter-clockwise on screen: up and to the right of B is 45, down and to the right 315.
    EXPECT_NEAR(mz::detect::directionValue(1, -1, 0, 0), 45.0f, 1e-4f);
    EXPECT_NEAR(mz::detect::directionValue(1, 1, 0, 0), 315.0f, 1e-4f);
    EXPECT_NEAR(mz::detect::directionValue(-1, 1, 0, 0), 225.0f, 1e-4f);
}

TEST(MarkerDetection, SmallRingsAreNoiseAndRingsBeatSolidShapes) {
    Plane small = rectRing(10, 10, 15, 16, 3, 3);  // 150 dark pixels
    EXPECT_FALSE(mz::detect::keepMarkerRegion(small));
    Plane big = rectRing(10, 10, 17, 18, 5, 5);  // 250 dark pixels
    EXPECT_TRUE(mz::detect::keepMarkerRegion(big));
    EXPECT_EQ(big.at(10, 10), 0);

    // A solid triangle is crossed once by its middle row and column: neither test takes it, even
    // as the only region. Next to it a smaller ring wins.
    Plane solid(80, 80, 255);
    for (int y = 10; y < 40; ++y)
        for (int x = 40 - (y - 10); x <= 40 + (y - 10); ++x) solid.at(x, y) = 0;
    Plane alone = solid;
    EXPECT_FALSE(mz::detect::keepMarkerRegion(alone));
    Plane both = rectRing(5, 50, 17, 18, 5, 5, solid);
    ASSERT_TRUE(mz::detect::keepMarkerRegion(both));
    EXPECT_EQ(both.at(40, 30), 255);
    EXPECT_EQ(both.at(5, 50), 0);

    // A ring whose middle row runs through its thick top band is taken by the relaxed test.
    Plane relaxed = rectRing(10, 10, 30, 30, 4, 4);
    for (int y = 10; y < 27; ++y)
        for (int x = 10; x < 40; ++x) relaxed.at(x, y) = 0;
    EXPECT_TRUE(mz::detect::keepMarkerRegion(relaxed));
}

TEST(MarkerDetection, FindsBothRingsInTheirOrderWithTheMarkerTriangle) {
    // Front camera (code 0): each triangle with one corner pointing down toward the vehicle.
    const std::array<Pt, 3> left = {{{120.4, 380.2}, {70.3, 290.6}, {175.8, 300.1}}};
    const std::array<Pt, 3> right = {{{600.5, 370.3}, {545.1, 285.7}, {650.2, 280.4}}};
    Picture pic;
    pic.ring(left, 0.55);
    pic.ring(right, 0.55);
    Camera c;
    ASSERT_EQ(mzDetectMarker(pic.bytes.data(), &c.cam, 0, nullptr), 1);
    EXPECT_EQ(c.cam.pointCount, 6);
    // Code 0 sorts each marker's corners topmost first; the order and the world points follow the
    // turn from the topmost corner to the others about the centroid. The outline runs through the
    // centres of the boundary's dark pixels, half a pixel inside the edge, which moves a 60 degree
    // corner about a pixel toward the centroid; the smoothing rounds the corners a little more.
    const std::array<Pt, 6> order = {left[2], left[0], left[1], right[1], right[2], right[0]};
    for (int i = 0; i < 6; ++i) EXPECT_LT(std::hypot(c.image[i].x - order[i].x, c.image[i].y - order[i].y), 2.0) << i;
    const float h = -std::sqrt(3.0f) / 2 * 800;
    const std::array<Point2F, 6> world = {{{800, 0}, {0, 0}, {400, h}, {0, 0}, {400, h}, {800, 0}}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(c.world[i].x, world[i].x) << i;
        EXPECT_FLOAT_EQ(c.world[i].y, world[i].y) << i;
    }
    EXPECT_FLOAT_EQ(c.image[6].x, 7.0f);  // nothing past the six points

    // Caller rectangles replace the table, so even an unknown code runs without a message.
    const int32_t rects[8] = {32, 189, 203, 235, 474, 191, 223, 199};
    testing::internal::CaptureStdout();
    EXPECT_EQ(mzDetectMarker(pic.bytes.data(), &c.cam, 9, rects), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(MarkerDetection, RefusesUnusableInputAndMarksMissingMarkers) {
    Picture pic;
    Camera c;
    EXPECT_EQ(mzDetectMarker(nullptr, &c.cam, 0, nullptr), 0);
    c.cam.width = 0;
    EXPECT_EQ(mzDetectMarker(pic.bytes.data(), &c.cam, 0, nullptr), 0);
    EXPECT_FLOAT_EQ(c.image[0].x, 7.0f);
    c.cam.width = 720;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mzDetectMarker(pic.bytes.data(), &c.cam, 4, nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid mode\nInvalid mode\n");
    EXPECT_FLOAT_EQ(c.image[0].x, 7.0f);
    // An empty picture: both markers missing, nothing non-finite.
    EXPECT_EQ(mzDetectMarker(pic.bytes.data(), &c.cam, 2, nullptr), -1);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(c.image[i].x, -1.0f);
    // A picture smaller than the rectangles: they are clipped, nothing is read beyond it (the
    // sanitizer build checks), and a rectangle wholly outside is a missing marker.
    std::vector<uint8_t> tiny(200 * 100 * 3, 200);
    c.cam.width = 200;
    c.cam.height = 100;
    EXPECT_EQ(mzDetectMarker(tiny.data(), &c.cam, 1, nullptr), -1);
    const int32_t outside[8] = {-50, -50, 40, 40, 2147483600, 10, 2147483600, 10};
    EXPECT_EQ(mzDetectMarker(tiny.data(), &c.cam, 1, outside), -1);
    EXPECT_FLOAT_EQ(c.image[3].x, -1.0f);
}

TEST(CornerDetection, RefusesUnusableInputAndClearsTheFiftyPoints) {
    Picture pic;
    Camera c;
    EXPECT_EQ(mzDetectCorner(nullptr, &c.cam, 0), -5);
    EXPECT_EQ(mzDetectCorner(pic.bytes.data(), nullptr, 0), -5);
    c.cam.fx = 0;
    EXPECT_EQ(mzDetectCorner(pic.bytes.data(), &c.cam, 0), -1);
    EXPECT_FLOAT_EQ(c.image[0].x, 7.0f);
    c.cam.fx = 300;

    testing::internal::CaptureStdout();
    EXPECT_EQ(mzDetectCorner(pic.bytes.data(), &c.cam, 5), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid mode\nInvalid mode\n");
    EXPECT_EQ(c.cam.pointCount, 12);
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(c.image[i].x, -1.0f) << i;
    for (int i = 12; i < MZ_DETECT_POINT_CAPACITY; ++i) {
        EXPECT_FLOAT_EQ(c.image[i].x, 0.0f);
        EXPECT_FLOAT_EQ(c.world[i].y, 0.0f);
    }
    EXPECT_FLOAT_EQ(c.image[MZ_DETECT_POINT_CAPACITY].x, 7.0f);

    // A picture smaller than the search rectangles is never read beyond its end.
    std::vector<uint8_t> tiny(100 * 300 * 3, 200);
    c.cam.width = 100;
    c.cam.height = 300;
    EXPECT_EQ(mzDetectCorner(tiny.data(), &c.cam, 0), -1);
    for (int i = 0; i < 12; ++i) EXPECT_TRUE(std::isfinite(c.image[i].x) && std::isfinite(c.image[i].y));
}

// A light speck in the dark band (dirt, a glint) also stays enclosed when the region is inverted;
// the hole's corners must still be those of the hole. (The speck lies beyond the hole's lower left
// corner, where it would be taken for that corner.)
TEST(CornerDetection, ASpeckInTheBandDoesNotMoveTheHoleCorners) {
    Picture pic;
    const std::array<Pt, 3> outer = {{{50, 345}, {85, 285}, {125, 340}}};
    constexpr double kHoleScale = 0.45;
    pic.ring(outer, kHoleScale);
    for (int y = 338; y <= 339; ++y)
        for (int x = 57; x <= 58; ++x)
            for (int c = 0; c < 3; ++c) pic.bytes[(static_cast<size_t>(y) * pic.width + x) * 3 + c] = 200;
    Camera c;
    ASSERT_EQ(mzDetectCorner(pic.bytes.data(), &c.cam, 0), -1) << "only the left rectangle holds a target";
    const Pt m = {(outer[0].x + outer[1].x + outer[2].x) / 3, (outer[0].y + outer[1].y + outer[2].y) / 3};
    for (int i = 0; i < 3; ++i) {
        double nearest = 1e9, nearestOuter = 1e9;
        for (const Pt& t : outer) {
            const Pt h = {m.x + (t.x - m.x) * kHoleScale, m.y + (t.y - m.y) * kHoleScale};
            nearest = std::min(nearest, std::hypot(c.image[6 + i].x - h.x, c.image[6 + i].y - h.y));
            nearestOuter = std::min(nearestOuter, std::hypot(c.image[i].x - t.x, c.image[i].y - t.y));
        }
        // Straight on the picture, the sides bend on the detector's canvas: about a pixel.
        EXPECT_LT(nearestOuter, 2.0) << "outer corner " << i;
        EXPECT_LT(nearest, 2.0) << "hole corner " << i;
    }
}

}  // namespace
