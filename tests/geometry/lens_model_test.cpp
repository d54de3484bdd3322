// The lens model of geometry/lens_model.h: its order of operations (the stored tables depend on
// it), its two forms of the forward polynomial, the fit, and its use with a differentiating scalar.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/angles.h"
#include "geometry/lens_fit.h"
#include "geometry/lens_model.h"
#include "testing/geometry_fixtures.h"

namespace {

using mztest::makeFisheye;
namespace lens = mz::lens;

// A forward-mode dual number shaped like a Ceres Jet: no implicit conversion from float or double,
// math functions found by argument lookup. The model must compile and differentiate with it.
struct Dual {
    double a = 0, v = 0;
    Dual() = default;
    explicit Dual(double value, double derivative = 0) : a(value), v(derivative) {}
    Dual& operator*=(const Dual& o) { return *this = *this * o; }
    Dual& operator+=(const Dual& o) { return *this = *this + o; }
    friend Dual operator+(const Dual& x, const Dual& y) { return Dual(x.a + y.a, x.v + y.v); }
    friend Dual operator-(const Dual& x, const Dual& y) { return Dual(x.a - y.a, x.v - y.v); }
    friend Dual operator*(const Dual& x, const Dual& y) { return Dual(x.a * y.a, x.v * y.a + x.a * y.v); }
    friend Dual operator/(const Dual& x, const Dual& y) {
        return Dual(x.a / y.a, (x.v * y.a - x.a * y.v) / (y.a * y.a));
    }
    friend bool operator==(const Dual& x, const Dual& y) { return x.a == y.a; }
    friend Dual sqrt(const Dual& x) {
        const double s = std::sqrt(x.a);
        return Dual(s, x.v / (2 * s));
    }
    friend Dual atan(const Dual& x) { return Dual(std::atan(x.a), x.v / (1 + x.a * x.a)); }
    friend Dual tan(const Dual& x) {
        const double t = std::tan(x.a);
        return Dual(t, x.v * (1 + t * t));
    }
};

TEST(LensModel, SinglePrecisionKeepsTheOrderOfTheTables) {
    // The forward polynomial as the view tables were first written, term by term.
    const CameraParam cam = makeFisheye();
    const auto k = lens::forwardCoefficients(cam);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> angle(0.0f, 1.7f);
    for (int i = 0; i < 2000; ++i) {
        const float t = angle(gen);
        const float t2 = t * t, t3 = t2 * t, t5 = t3 * t2, t7 = t5 * t2, t9 = t7 * t2;
        const float expected = cam.k1 * t + cam.k2 * t3 + cam.k3 * t5 + cam.k4 * t7 + cam.k5 * t9;
        ASSERT_EQ(lens::radiusOfAngle(k.data(), t), expected) << t;
    }
}

TEST(LensModel, NestedFormAgreesWithThePowerForm) {
    const CameraParam cam = makeFisheye();
    const auto k = lens::forwardCoefficients(cam);
    for (int deg = 0; deg <= 100; ++deg) {
        const double t = mz::radians(static_cast<double>(deg));
        EXPECT_NEAR(lens::radiusOfAngleNested(k.data(), t), lens::radiusOfAngle(k.data(), t), 1e-14);
    }
}

TEST(LensModel, NestedFormKeepsTheSimulatorsOrder) {
    // The simulator first wrote the nested form as a loop from k5 down; its bays are stored.
    const CameraParam cam = makeFisheye();
    const auto k = lens::forwardCoefficients(cam);
    for (int i = 0; i <= 2000; ++i) {
        const double t = 1.7 * i / 2000;
        double r = 0;
        for (int j = 4; j >= 0; --j) r = r * (t * t) + k[j];
        ASSERT_EQ(lens::radiusOfAngleNested(k.data(), t), r * t) << t;
    }
}

TEST(LensModel, ForwardThenInverseReturnsTheAngle) {
    // The fit keeps c0 = 0 and inverts the forward polynomial over its range.
    const CameraParam cam = makeFisheye();
    EXPECT_EQ(cam.c0, 0.0f);
    const auto k = lens::forwardCoefficients(cam);
    const auto c = lens::inverseCoefficients(cam);
    for (int deg = 0; deg <= 90; deg += 5) {
        const double t = mz::radians(static_cast<double>(deg));
        EXPECT_NEAR(lens::angleOfRadius(c.data(), lens::radiusOfAngle(k.data(), t)), t, 2e-3) << deg;
    }
}

TEST(LensModel, FittedForwardPolynomialFollowsTheBuiltInTable) {
    std::vector<double> thetas, radii;
    for (int deg = 0; deg <= 100; ++deg) {
        thetas.push_back(mz::radians(static_cast<double>(deg)));
        radii.push_back(lens::kBuiltInRadii[deg]);
    }
    const auto k = lens::fitForwardPolynomial(thetas, radii);
    for (size_t i = 0; i < thetas.size(); ++i)
        EXPECT_NEAR(lens::radiusOfAngle(k.data(), thetas[i]), radii[i], 1e-5) << i;
}

TEST(LensModel, DifferentiatesWithAJetLikeScalar) {
    const CameraParam cam = makeFisheye();
    const auto k = lens::forwardCoefficients(cam);
    const double t = 0.8;
    const Dual r = lens::radiusOfAngle(k.data(), Dual(t, 1.0));
    double slope = 0;
    for (int i = 0; i < 5; ++i) slope += (2 * i + 1) * double(k[i]) * std::pow(t, 2 * i);
    EXPECT_NEAR(r.a, lens::radiusOfAngle(k.data(), t), 1e-15);
    EXPECT_NEAR(r.v, slope, 1e-12);
    EXPECT_NEAR(lens::radiusOfAngleNested(k.data(), Dual(t, 1.0)).v, slope, 1e-12);

    // Pixel -> angle -> ray -> pixel through both pairs, differentiated along x: the round trip
    // is the identity as closely as the two polynomials agree.
    Dual u, v, rho;
    const Dual theta = lens::incidenceAngle(cam, Dual(500.0, 1.0), Dual(300.0), u, v, rho);
    const Dual scale = tan(theta) / rho;
    Dual x, y;
    lens::pixelOfRay(cam, u * scale, v * scale, x, y);
    EXPECT_NEAR(x.a, 500.0, 0.5);
    EXPECT_NEAR(y.a, 300.0, 0.5);
    EXPECT_NEAR(x.v, 1.0, 0.02);
    EXPECT_NEAR(y.v, 0.0, 0.02);
    EXPECT_EQ(mz::degrees(mz::radians(Dual(30.0))).a, mz::degrees(mz::radians(30.0)));
}

TEST(LensModel, BuiltInTableConvertsToTheFloatLiterals) {
    // The table is held once, as double; the calibration reads it as float.
    EXPECT_EQ(static_cast<float>(lens::kBuiltInRadii[1]), 0.013991f);
    EXPECT_EQ(static_cast<float>(lens::kBuiltInRadii[104]), 1.715635f);
    EXPECT_EQ(static_cast<float>(lens::kBuiltInPitchX), 0.004437f);
    EXPECT_EQ(static_cast<float>(lens::kBuiltInPitchY), 0.004868f);
}

TEST(Angles, FormsKeepTheirRounding) {
    EXPECT_EQ(mz::kPi<float>, 3.14159265358979f);
    EXPECT_EQ(mz::kDegToRad<float>, 3.14159265358979f / 180.0f);
    EXPECT_EQ(mz::kRadToDeg<float>, 180.0f / 3.14159265358979f);
    for (float deg : {0.1f, 1.0f, 37.5f, -89.9f, 179.0f}) {
        EXPECT_EQ(mz::radians(deg), deg * 3.14159265358979f / 180.0f);
        EXPECT_EQ(mz::degrees(deg), deg * 180.0f / 3.14159265358979f);
    }
}

}  // namespace
