#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/matrix.h"
#include "mz/mzgeometry.h"
#include "testing/geometry_fixtures.h"

namespace {

using mztest::makeFisheye;
using mztest::Mat3;
using mztest::projectiveDistance;

// A ground-to-picture-like homography with a real perspective part.
const double kKnown[3][3] = {{1.2, 0.15, -40.0}, {-0.08, 0.9, 25.0}, {0.0004, -0.0002, 1.0}};

std::vector<Point2F> grid(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-300.0f, 300.0f);
    std::vector<Point2F> p(n);
    for (Point2F& q : p) q = {d(rng), d(rng)};
    return p;
}

std::vector<Point2F> through(const std::vector<Point2F>& src, Matrix* h) {
    std::vector<Point2F> dst(src.size());
    for (size_t i = 0; i < src.size(); ++i) mzHomographyTransform(&src[i], &dst[i], h);
    return dst;
}

TEST(Homography, FourExactPairsReproduceAKnownHomography) {
    Mat3 known(kKnown), h;
    const std::vector<Point2F> src = {{-200, -150}, {220, -170}, {240, 180}, {-190, 160}};
    const std::vector<Point2F> dst = through(src, known.get());
    mzGetHomography2D(src.data(), dst.data(), 4, h.get());
    EXPECT_LT(projectiveDistance(h.get(), known.get()), 1e-3);
}

TEST(Homography, TwentyNoisyPairsReproduceAKnownHomography) {
    Mat3 known(kKnown), h;
    const std::vector<Point2F> src = grid(20, 5);
    std::vector<Point2F> dst = through(src, known.get());
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    for (Point2F& p : dst) p = {p.x + noise(rng), p.y + noise(rng)};
    mzGetHomography2D(src.data(), dst.data(), 20, h.get());
    // Compare where it matters: the mapped points, well within the noise.
    double worst = 0.0;
    for (const Point2F& s : grid(50, 6)) {
        Point2F a, b;
        mzHomographyTransform(&s, &a, h.get());
        mzHomographyTransform(&s, &b, known.get());
        worst = std::max<double>(worst, std::hypot(a.x - b.x, a.y - b.y));
    }
    EXPECT_LT(worst, 0.5);
}

TEST(Homography, AffineEstimateReproducesAnAffineMapWithAnExactBottomRow) {
    Mat3 known({{0.8, -0.3, 12.0}, {0.25, 1.1, -7.0}, {0.0, 0.0, 1.0}}), a;
    const std::vector<Point2F> src = {{10, 20}, {300, -40}, {-120, 250}};
    const std::vector<Point2F> dst = through(src, known.get());
    mzGetHomography2D3P(src.data(), dst.data(), 3, a.get());
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(a.v[i][j], known.v[i][j], 1e-3f * (j == 2 ? 20.0f : 1.0f));
    EXPECT_EQ(a.v[2][0], 0.0f);
    EXPECT_EQ(a.v[2][1], 0.0f);
    EXPECT_EQ(a.v[2][2], 1.0f);
}

TEST(Homography, TransformOfAPointAtInfinityIsNotFinite) {
    Mat3 h({{1, 0, 0}, {0, 1, 0}, {1, 0, 0}});
    const Point2F p = {0.0f, 5.0f};
    Point2F q;
    mzHomographyTransform(&p, &q, h.get());
    EXPECT_FALSE(std::isfinite(q.x) && std::isfinite(q.y));
}

TEST(Homography, BadCountsLeaveTheResultUntouched) {
    Mat3 h({{7, 7, 7}, {7, 7, 7}, {7, 7, 7}});
    const Point2F p[1] = {{1, 2}};
    mzGetHomography2D(p, p, 0, h.get());
    mzGetHomography2D(p, p, -3, h.get());
    mzGetHomography2D(nullptr, p, 4, h.get());
    for (const auto& row : h.v)
        for (float x : row) EXPECT_EQ(x, 7.0f);
}

struct SixPointCamera {
    CameraParam cam = makeFisheye();
    std::vector<Point2F> image, world;

    explicit SixPointCamera(int count) {
        Mat3 groundToIdeal({{-0.30, 0.02, 10.0}, {0.01, 0.12, -160.0}, {0.00002, 0.0009, 1.0}});
        std::mt19937 rng(17);
        std::uniform_real_distribution<float> x(-1800.0f, 1800.0f), y(700.0f, 1800.0f);
        for (int i = 0; i < count; ++i) {
            const Point2F g = {x(rng), y(rng)};
            Point2F ideal, pixel;
            mzHomographyTransform(&g, &ideal, groundToIdeal.get());
            mzFeatureDistortion(&ideal, &pixel, &cam);
            world.push_back(g);
            image.push_back(pixel);
        }
        cam.pointCount = count;
        cam.imagePoints = image.data();
        cam.worldPoints = world.data();
    }
};

TEST(CameraHomography, BothDirectionsAreInverseUpToScale) {
    SixPointCamera rig(6);
    rig.cam.originX = 250.0f;
    rig.cam.originY = -80.0f;
    MatrixPtr toIdeal(3, 3), toGround(3, 3), product(3, 3);
    mzGetHomography(toIdeal.get(), &rig.cam, 0);
    mzGetHomography(toGround.get(), &rig.cam, 7);  // any non-zero direction
    mzMultiplyMat(toIdeal.get(), product.get(), toGround.get());
    const float s = product[0][0];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(product[i][j] / s, i == j ? 1.0f : 0.0f, 2e-3f);
}

TEST(CameraHomography, UsesAtMostFiftyPairsAndNeedsFour) {
    SixPointCamera many(60);
    MatrixPtr h60(3, 3), h50(3, 3);
    mzGetHomography(h60.get(), &many.cam, 0);
    many.cam.pointCount = 50;
    mzGetHomography(h50.get(), &many.cam, 0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(h60[i][j], h50[i][j]);

    Mat3 untouched({{3, 3, 3}, {3, 3, 3}, {3, 3, 3}});
    many.cam.pointCount = 3;
    mzGetHomography(untouched.get(), &many.cam, 0);
    many.cam.pointCount = -2;
    mzGetHomography(untouched.get(), &many.cam, 1);
    for (const auto& row : untouched.v)
        for (float x : row) EXPECT_EQ(x, 3.0f);
}

}  // namespace
