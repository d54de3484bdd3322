// Degrees and radians, once for every room: float in the libraries, double in the simulator,
// automatic-differentiation scalars in the refinement. Each form fixes its order of operations,
// because tables and stored outputs were made with exactly that order: deg * pi / 180 is not
// deg * (pi / 180) in floating point, so both forms exist and callers keep the one they had.
// Scalars are built with an explicit T(...), never from a float literal, so types without an
// implicit conversion from double (Jets) work; sqrt, tan and the like come by argument lookup.
#pragma once

#include <numbers>

namespace mz {

// pi rounded to T: for float the same value as the literal 3.14159265358979f.
template <typename T>
inline constexpr T kPi = std::numbers::pi_v<T>;

// The multiply-by-one-constant forms: pi / 180 and 180 / pi, each rounded once in T.
template <typename T>
inline constexpr T kDegToRad = kPi<T> / T(180);
template <typename T>
inline constexpr T kRadToDeg = T(180) / kPi<T>;

// deg * pi / 180, multiplied first.
template <typename T>
constexpr T radians(const T& deg) {
    return deg * T(std::numbers::pi) / T(180);
}

// rad * 180 / pi, multiplied first.
template <typename T>
constexpr T degrees(const T& rad) {
    return rad * T(180) / T(std::numbers::pi);
}

}  // namespace mz
