// Outline tracing, the line search and its generator, corner intersection, the triangle check and
// the corner order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

#include "pattern/corner_fitting.h"
#include "testing/frame_picture.h"

namespace mz::pattern {
namespace {

TEST(Outline, SquareTracesClockwiseFromTopLeft) {
    GreyImage mask(7, 6, 0);
    for (int y = 2; y < 5; ++y)
        for (int x = 3; x < 6; ++x) mask.at(x, y) = 255;
    const auto outline = traceOutline(mask);
    const std::vector<std::pair<int, int>> expected = {{3, 2}, {4, 2}, {5, 2}, {5, 3}, {5, 4}, {4, 4}, {3, 4}, {3, 3}};
    ASSERT_EQ(outline.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(outline[i].x, expected[i].first) << i;
        EXPECT_EQ(outline[i].y, expected[i].second) << i;
    }
}

TEST(Outline, LonePixelAndEmptyMask) {
    GreyImage mask(5, 5, 0);
    EXPECT_TRUE(traceOutline(mask).empty());
    mask.at(2, 3) = 255;
    const auto one = traceOutline(mask);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].x, 2);
    EXPECT_EQ(one[0].y, 3);
}

TEST(Generator, FollowsTheLinearCongruentialSequencePerThread) {
    const uint32_t saved = generatorState();
    setGeneratorState(1);
    EXPECT_EQ(randomDraw(), 41);
    EXPECT_EQ(randomDraw(), 18467);
    EXPECT_EQ(randomDraw(), 6334);
    uint32_t otherStart = 0;
    int otherDraw = 0;
    std::thread([&] {
        otherStart = generatorState();
        otherDraw = randomDraw();
    }).join();
    EXPECT_EQ(otherStart, 1u);
    EXPECT_EQ(otherDraw, 41);
    EXPECT_EQ(randomDraw(), 26500);  // this thread's sequence went on undisturbed
    setGeneratorState(saved);
}

std::vector<Point2F> segment(Point2F a, Point2F b, int n) {
    std::vector<Point2F> pts;
    for (int i = 0; i < n; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(n);
        pts.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
    }
    return pts;
}

TEST(ThreeSides, GivesUpWhenNoLineHasTenSupporters) {
    // Far too few points, all one point, and points too far apart for any line to gather ten:
    // each used to spin forever.
    EXPECT_FALSE(findThreeSides(segment({0, 0}, {100, 0}, 9)).has_value());
    EXPECT_FALSE(findThreeSides(std::vector<Point2F>(500, Point2F{3, 4})).has_value());
    std::vector<Point2F> scattered;
    for (int i = 0; i < 400; ++i) {
        const double a = i * 0.0157;
        scattered.push_back({static_cast<float>(5000 * std::cos(a)), static_cast<float>(5000 * std::sin(a))});
    }
    EXPECT_FALSE(findThreeSides(scattered).has_value());
    // Two good sides and then nothing left to find.
    auto two = segment({0, 0}, {100, 0}, 100);
    auto second = segment({100, 0}, {50, 80}, 95);
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_FALSE(findThreeSides(two).has_value());
}

TEST(Corners, ParallelSidesMeetNowhere) {
    const FittedLine a{10, 0, 0, 0};
    const FittedLine b{20, 0, 5, 7};
    const Point2F c = intersectSides(a, b);
    EXPECT_EQ(c.x, 0.0f);
    EXPECT_EQ(c.y, 0.0f);
}

TEST(TriangleCheck, StrictInequalityOnRoundedSides) {
    EXPECT_FALSE(isTriangle({Point2F{20, 20}, Point2F{30, 20}, Point2F{25, 20}}, 100, 100));  // 10, 5, 5
    const float cx = 4.45f, cy = std::sqrt(25.0f - cx * cx);
    EXPECT_TRUE(isTriangle({Point2F{20, 20}, Point2F{30, 20}, Point2F{20 + cx, 20 + cy}}, 100, 100));  // 10, 6, 5
    EXPECT_FALSE(isTriangle({Point2F{0, 20}, Point2F{30, 20}, Point2F{15, 40}}, 100, 100));
    EXPECT_TRUE(isTriangle({Point2F{0.5f, 20}, Point2F{30, 20}, Point2F{15, 40}}, 100, 100));
    EXPECT_FALSE(isTriangle({Point2F{10, 20}, Point2F{100, 20}, Point2F{15, 40}}, 100, 100));
    EXPECT_FALSE(isTriangle({Point2F{10, 20}, Point2F{50, 100}, Point2F{15, 40}}, 100, 100));
}

bool same(const Point2F& a, const Point2F& b) { return a.x == b.x && a.y == b.y; }

TEST(CornerOrder, ElongatedObliqueTriangleKeepsEveryCorner) {
    // Seen from the lowest corner the near corner lies 5 degrees off: outside both angle ranges,
    // so the ranges alone would drop it and store the lowest corner twice.
    const Point2F a{100, 300}, b{112, 288}, c{400, 250};
    Corners t = {c, a, b};
    orderCorners(t);
    EXPECT_TRUE(same(t[0], a));
    EXPECT_TRUE(same(t[1], b));
    EXPECT_TRUE(same(t[2], c));
}

TEST(CornerOrder, AnyTriangleComesOutAsAPermutationLowestFirstClockwise) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(0.0f, 400.0f);
    for (int i = 0; i < 5000; ++i) {
        const Corners in = {Point2F{coord(rng), coord(rng)}, Point2F{coord(rng), coord(rng)},
                            Point2F{coord(rng), coord(rng)}};
        Corners out = in;
        orderCorners(out);
        for (const Point2F& p : in)
            EXPECT_EQ(std::count_if(out.begin(), out.end(), [&](const Point2F& q) { return same(p, q); }),
                      std::count_if(in.begin(), in.end(), [&](const Point2F& q) { return same(p, q); }));
        EXPECT_GE(out[0].y, std::max(out[1].y, out[2].y));
        const float cross =
            (out[1].x - out[0].x) * (out[2].y - out[0].y) - (out[1].y - out[0].y) * (out[2].x - out[0].x);
        EXPECT_GT(cross, 0.0f) << i;
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace mz::pattern
