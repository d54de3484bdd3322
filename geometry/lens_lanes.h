// The per-pixel lens steps of the view maps, several pixels at a time (GCC vector extensions of 4
// or 8 floats).
//
// Every lane runs exactly the float operations of the one-pixel forms in lens_model.h, in the same
// order, so a lane's result equals the one-pixel result bit for bit: additions, multiplications,
// divisions and square roots are correctly rounded per lane, and the build turns off contraction
// (-ffp-contract=off) so that nothing is fused. The arctangent is the C library's single-precision
// one (glibc's, which the stored tables were made with), step by step: its range reduction, its
// constants and its polynomial; tests/geometry/lens_lanes_test.cpp holds it against atanf.
//
// Everything here has internal linkage (static): map_rows_avx2.cpp compiles it for AVX2, and no
// copy of it may stand in for the plain one elsewhere.
//
// Internal to the view library.
#pragma once

#include <cstdint>

#if defined(__SSE__)
#include <immintrin.h>
#endif

namespace mz::lanes {

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef int32_t I8 __attribute__((vector_size(32)));

template <class V>
struct IntLanes;
template <>
struct IntLanes<F4> {
    using type = I4;
};
template <>
struct IntLanes<F8> {
    using type = I8;
};
// The comparison result and bit pattern type of V.
template <class V>
using Int = typename IntLanes<V>::type;
template <class V>
inline constexpr int kCount = static_cast<int>(sizeof(V) / sizeof(float));

template <class V>
static inline V splat(float v) {
    return V{} + v;
}

// Lane i = first + i.
template <class V>
static inline V ramp(float first) {
    V v{};
    for (int k = 0; k < kCount<V>; ++k) v[k] = static_cast<float>(k);
    return first + v;
}

template <class V>
static inline V sqrt(V v) {
#if defined(__AVX__)
    if constexpr (sizeof(V) == 32) return reinterpret_cast<V>(_mm256_sqrt_ps(reinterpret_cast<__m256>(v)));
#endif
#if defined(__SSE__)
    if constexpr (sizeof(V) == 16) {
        return reinterpret_cast<V>(_mm_sqrt_ps(reinterpret_cast<__m128>(v)));
    } else {
        V r;
        for (int k = 0; k < kCount<V>; k += 4) {
            const __m128 q = _mm_sqrt_ps(_mm_set_ps(v[k + 3], v[k + 2], v[k + 1], v[k]));
            for (int j = 0; j < 4; ++j) r[k + j] = q[j];
        }
        return r;
    }
#else
    V r;
    for (int k = 0; k < kCount<V>; ++k) r[k] = __builtin_sqrtf(v[k]);
    return r;
#endif
}

// atanf of every lane: |x| < 7/16 directly, else reduced against atan(1/2), atan(1), atan(3/2) or
// atan(inf) by ranges 7/16, 11/16, 19/16, 39/16; below 2^-29 the argument itself, from 2^25 on
// pi/2. The reduced argument's quotient is made with one division for all four ranges.
template <class V>
static inline V atan(V x) {
    using I = Int<V>;
    const I bits = reinterpret_cast<I>(x);
    const I ix = bits & 0x7fffffff;
    const V ax = reinterpret_cast<V>(ix);
    const I id0 = ix >= 0x3ee00000, id1 = ix >= 0x3f300000, id2 = ix >= 0x3f980000, id3 = ix >= 0x401c0000;
    V num = ax, den = splat<V>(1.0f);
    num = id0 ? (ax + ax) - 1.0f : num;
    den = id0 ? ax + 2.0f : den;
    num = id1 ? ax - 1.0f : num;
    den = id1 ? ax + 1.0f : den;
    num = id2 ? ax - 1.5f : num;
    den = id2 ? ax * 1.5f + 1.0f : den;
    num = id3 ? splat<V>(-1.0f) : num;
    den = id3 ? ax : den;
    const V xr = num / den;
    const V z = xr * xr;
    const V w = z * z;
    const V s1 = z * (0x1.555556p-2f +
                      w * (0x1.24924ap-3f +
                           w * (0x1.745cdcp-4f + w * (0x1.10d66ap-4f + w * (0x1.97b4b2p-5f + w * 0x1.0ad3aep-6f)))));
    const V s2 = w * (-0x1.99999ap-3f +
                      w * (-0x1.c71c70p-4f + w * (-0x1.3b0f2ap-4f + w * (-0x1.dde2d6p-5f + w * -0x1.2b4442p-5f))));
    const V t = xr * (s1 + s2);
    // atan of the reduction point, high and low parts.
    V hi = splat<V>(0x1.dac670p-2f), lo = splat<V>(0x1.586ed2p-28f);
    hi = id1 ? splat<V>(0x1.921fb4p-1f) : hi;
    lo = id1 ? splat<V>(0x1.4442d0p-25f) : lo;
    hi = id2 ? splat<V>(0x1.f730bcp-1f) : hi;
    lo = id2 ? splat<V>(0x1.281f68p-25f) : lo;
    hi = id3 ? splat<V>(0x1.921fb4p+0f) : hi;
    lo = id3 ? splat<V>(0x1.4442d0p-24f) : lo;
    V r = id0 ? hi - ((t - lo) - xr) : ax - t;
    r = ix < 0x31000000 ? ax : r;
    r = ix >= 0x4c000000 ? splat<V>(0x1.921fb4p+0f + 0x1.4442d0p-24f) : r;
    r = reinterpret_cast<V>(reinterpret_cast<I>(r) | (bits & static_cast<int32_t>(0x80000000u)));
    return ix > 0x7f800000 ? x + x : r;
}

// lens::radiusOfAngle: k1 t + k2 t^3 + ... + k5 t^9, summed from k1.
template <class V, typename Cam>
static inline V radiusOfAngle(const Cam& cam, V theta) {
    const V t2 = theta * theta;
    const V t3 = t2 * theta;
    const V t5 = t3 * t2;
    const V t7 = t5 * t2;
    const V t9 = t7 * t2;
    return cam.k1 * theta + cam.k2 * t3 + cam.k3 * t5 + cam.k4 * t7 + cam.k5 * t9;
}

// lens::pixelOfRay: the ray (u, v, 1) to the distorted pixel (x, y); the optical axis maps to
// the principal point.
template <class V, typename Cam>
static inline void pixelOfRay(const Cam& cam, V u, V v, V& x, V& y) {
    const V r = sqrt(u * u + v * v);
    const V rho = radiusOfAngle(cam, atan(r));
    const V s = rho / r;
    const Int<V> axis = r == 0.0f;
    x = axis ? splat<V>(cam.cx) : s * u * cam.fx + cam.cx;
    y = axis ? splat<V>(cam.cy) : s * v * cam.fy + cam.cy;
}

}  // namespace mz::lanes
