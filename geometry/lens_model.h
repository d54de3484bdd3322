// The fisheye lens model of the camera record, written once: the forward odd
// polynomial (incidence angle -> normalised distorted radius, k1..k5), the inverse polynomial
// (radius -> angle, c0..c8), the two mappings built on them, and the built-in lens table.
//
// Templated on the scalar: float in the libraries, double in the simulator, Jets in the
// refinement. The order of every floating-point operation is the one the stored tables were made
// with; do not reassociate anything here (tests/core/stored_output_test.cpp checks the bytes).
// Scalars are made with an explicit T(...) so that types without an implicit conversion from
// float or double work, and the math functions are found by argument lookup.
//
// Internal: compiled into mzview and mzpattern (and read by mzcalib and the simulator); nothing
// here is exported.
#pragma once

#include <array>
#include <cmath>

namespace mz::lens {

// k1..k5 and c0..c8 of a camera record (any type with those fields) as arrays.
template <typename Cam>
inline auto forwardCoefficients(const Cam& cam) {
    return std::array{cam.k1, cam.k2, cam.k3, cam.k4, cam.k5};
}
template <typename Cam>
inline auto inverseCoefficients(const Cam& cam) {
    return std::array{cam.c0, cam.c1, cam.c2, cam.c3, cam.c4, cam.c5, cam.c6, cam.c7, cam.c8};
}

// Length of the offset (u, v) on a normalised plane.
template <typename T>
inline T planeRadius(const T& u, const T& v) {
    using std::sqrt;
    return sqrt(u * u + v * v);
}

// Forward polynomial: normalised distorted radius of the incidence angle theta (radians),
// k1 t + k2 t^3 + k3 t^5 + k4 t^7 + k5 t^9, powers by repeated multiplication, summed from k1.
// Every table of the libraries is made with this form.
template <typename T, typename C>
inline T radiusOfAngle(const C* k, const T& theta) {
    const T t2 = theta * theta;
    const T t3 = t2 * theta;
    const T t5 = t3 * t2;
    const T t7 = t5 * t2;
    const T t9 = t7 * t2;
    return T(k[0]) * theta + T(k[1]) * t3 + T(k[2]) * t5 + T(k[3]) * t7 + T(k[4]) * t9;
}

// The same polynomial in nested form, t (k1 + t^2 (k2 + t^2 (k3 + t^2 (k4 + t^2 k5)))). The
// simulator's truth (the rendered pictures, the fitted c0..c8 of its Config.bin, truth.json) and
// the refinement are made with this form; the two forms differ in the last bits only.
template <typename T, typename C>
inline T radiusOfAngleNested(const C* k, const T& theta) {
    const T t2 = theta * theta;
    return theta * (T(k[0]) + t2 * (T(k[1]) + t2 * (T(k[2]) + t2 * (T(k[3]) + t2 * T(k[4])))));
}

// Inverse polynomial: incidence angle (radians) of the normalised distorted radius rho,
// c0 + c1 rho + ... + c8 rho^8, powers by repeated multiplication, summed from c0.
template <typename T, typename C>
inline T angleOfRadius(const C* c, const T& rho) {
    T theta = T(c[0]);
    T power = T(1);
    for (int i = 1; i < 9; ++i) {
        power *= rho;
        theta += T(c[i]) * power;
    }
    return theta;
}

// Distorted pixel (x, y) -> offsets u, v from the principal point on the normalised plane.
template <typename T, typename Cam>
inline void normalisedOffset(const Cam& cam, const T& x, const T& y, T& u, T& v) {
    u = (x - T(cam.cx)) / T(cam.fx);
    v = (y - T(cam.cy)) / T(cam.fy);
}

// Inverse pair: distorted pixel (x, y) -> normalised offsets u, v -> radius rho -> incidence
// angle (radians, returned). Neither clamped nor made absolute.
template <typename T, typename Cam>
inline T incidenceAngle(const Cam& cam, const T& x, const T& y, T& u, T& v, T& rho) {
    normalisedOffset(cam, x, y, u, v);
    rho = planeRadius(u, v);
    return angleOfRadius(inverseCoefficients(cam).data(), rho);
}

// Forward pair: a point of the ideal plane in units of f, (u, v) = (x / f, y / f), is the ray
// (u, v, 1); its incidence angle atan(r) -> radius -> distorted pixel (x, y). The optical axis
// has no direction and maps to the principal point.
template <typename T, typename Cam>
inline void pixelOfRay(const Cam& cam, const T& u, const T& v, T& x, T& y) {
    using std::atan;
    const T r = planeRadius(u, v);
    if (r == T(0)) {
        x = T(cam.cx);
        y = T(cam.cy);
        return;
    }
    const T rho = radiusOfAngle(forwardCoefficients(cam).data(), atan(r));
    const T s = rho / r;
    x = s * u * T(cam.fx) + T(cam.cx);
    y = s * v * T(cam.fy) + T(cam.cy);
}

// The built-in wide-angle lens table ("WIDE20" of the calibration): 720 x 480 analogue pictures
// with non-square pixels (normalised-plane length per pixel across and down), and the normalised
// radius at every whole degree 0..112. Past 104 degrees the radius falls again. Held as double;
// every value converts to the same float as its literal would.
inline constexpr int kBuiltInWidth = 720;
inline constexpr int kBuiltInHeight = 480;
inline constexpr double kBuiltInPitchX = 0.004437;
inline constexpr double kBuiltInPitchY = 0.004868;
inline constexpr double kBuiltInRadii[] = {
    0,        0.013991, 0.027987, 0.041991, 0.056007, 0.070039, 0.084092, 0.09817,  0.112276, 0.126416, 0.140592,
    0.154809, 0.169072, 0.183384, 0.197749, 0.212172, 0.226657, 0.241208, 0.255828, 0.270522, 0.285294, 0.300149,
    0.315089, 0.330119, 0.345244, 0.360466, 0.375791, 0.391221, 0.40676,  0.422413, 0.438183, 0.454074, 0.470089,
    0.486231, 0.502504, 0.518912, 0.535457, 0.552142, 0.56897,  0.585944, 0.603066, 0.62034,  0.637765, 0.655346,
    0.673083, 0.690978, 0.709031, 0.727244, 0.745618, 0.764152, 0.782846, 0.8017,   0.820713, 0.839883, 0.859209,
    0.878687, 0.898316, 0.918091, 0.938009, 0.958066, 0.978254, 0.99857,  1.019005, 1.039552, 1.060204, 1.08095,
    1.101781, 1.122685, 1.143651, 1.164665, 1.185713, 1.20678,  1.22785,  1.248903, 1.269922, 1.290885, 1.311771,
    1.332556, 1.353215, 1.373722, 1.394048, 1.414162, 1.434033, 1.453627, 1.472907, 1.491837, 1.510374, 1.528478,
    1.546102, 1.563199, 1.579721, 1.595613, 1.610822, 1.625288, 1.63895,  1.651746, 1.663606, 1.674462, 1.684238,
    1.692857, 1.700239, 1.706299, 1.710947, 1.714092, 1.715635, 1.715477, 1.713511, 1.709627, 1.70371,  1.695641,
    1.685294, 1.67254,  1.657243,
};
inline constexpr int kBuiltInRowCount = static_cast<int>(std::size(kBuiltInRadii));
static_assert(kBuiltInRowCount == 113);

}  // namespace mz::lens
