// The four-lane lens steps against the one-pixel forms: the view maps are hashed, so a lane must give
// the very bits of the C library's atanf and of lens::pixelOfRay. (Every one of the 2^32 inputs was
// checked once against this machine's atanf; here a spread of them and every range edge.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "geometry/lens_lanes.h"
#include "geometry/lens_model.h"
#include "geometry/map_rows.h"
#include "mz/mztypes.h"

namespace {

using mz::lanes::F4;

uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

float fromBits(uint32_t b) {
    float v;
    std::memcpy(&v, &b, 4);
    return v;
}

// Lane results against atanf, input by input (NaN for NaN, whatever its payload).
int atanMismatches(const uint32_t* inputs, int count) {
    int bad = 0;
    for (int i = 0; i < count; i += 4) {
        F4 x;
        for (int k = 0; k < 4; ++k) x[k] = fromBits(inputs[std::min(i + k, count - 1)]);
        const F4 r = mz::lanes::atan(x);
        for (int k = 0; k < 4 && i + k < count; ++k) {
            const float want = std::atan(x[k]);
            const bool same = bitsOf(want) == bitsOf(r[k]) || (std::isnan(want) && std::isnan(r[k]));
            if (!same) {
                ADD_FAILURE() << std::hexfloat << "atan(" << x[k] << "): lanes " << r[k] << ", atanf " << want;
                if (++bad > 20) return bad;
            }
        }
    }
    return bad;
}

TEST(LensLanes, ArctangentEqualsTheLibraryOnASpreadAndAtEveryRangeEdge) {
    std::vector<uint32_t> inputs;
    // Every 65537th bit pattern (both signs, NaNs and infinities included) ...
    for (uint64_t b = 0; b < (uint64_t{1} << 32); b += 65537) inputs.push_back(static_cast<uint32_t>(b));
    // ... and 64 patterns either side of each edge of the reduction's ranges, both signs.
    for (const uint32_t edge : {0x31000000u, 0x3ee00000u, 0x3f300000u, 0x3f980000u, 0x401c0000u, 0x4c000000u,
                                0x7f800000u, 0x00800000u, 0x3f800000u})
        for (uint32_t d = 0; d < 128; ++d) {
            inputs.push_back(edge - 64 + d);
            inputs.push_back((edge - 64 + d) | 0x80000000u);
        }
    // The radii of the view maps: 0 to about 4 in small steps.
    for (float r = 0.0f; r < 4.0f; r += 0.000123f) inputs.push_back(bitsOf(r));
    EXPECT_EQ(0, atanMismatches(inputs.data(), static_cast<int>(inputs.size())));
}

TEST(LensLanes, PixelOfRayEqualsTheOnePixelForm) {
    CameraParam cam{};
    cam.f = 260.0f;
    cam.fx = 230.5f;
    cam.fy = 205.25f;
    cam.cx = 361.3f;
    cam.cy = 238.7f;
    cam.k1 = 1.0f;
    cam.k2 = -0.0412f;
    cam.k3 = 0.0031f;
    cam.k4 = -0.00052f;
    cam.k5 = 0.0000271f;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spread(-6.0f, 6.0f);
    int bad = 0;
    for (int i = 0; i < 20000 && bad < 20; ++i) {
        F4 u, v;
        for (int k = 0; k < 4; ++k) {
            u[k] = spread(random);
            v[k] = spread(random);
        }
        if (i == 0) u[0] = v[0] = 0.0f;  // the optical axis
        if (i == 1) u[1] = INFINITY;     // a ray at the horizon
        F4 x, y;
        mz::lanes::pixelOfRay(cam, u, v, x, y);
        for (int k = 0; k < 4; ++k) {
            float wx, wy;
            mz::lens::pixelOfRay(cam, u[k], v[k], wx, wy);
            const bool same = (bitsOf(wx) == bitsOf(x[k]) || (std::isnan(wx) && std::isnan(x[k]))) &&
                              (bitsOf(wy) == bitsOf(y[k]) || (std::isnan(wy) && std::isnan(y[k])));
            if (!same) {
                ADD_FAILURE() << "ray (" << u[k] << ", " << v[k] << "): lanes (" << x[k] << ", " << y[k]
                              << "), one pixel (" << wx << ", " << wy << ")";
                ++bad;
            }
        }
    }
}

// The plain form (4 pixels at a time) and the AVX2 form (8) of both maps give the same bits; the
// engines' own tests hold whichever form the processor runs against the one-pixel steps.
TEST(LensLanes, BothFormsOfTheMapsAgree) {
    if (!mz::avx2()) GTEST_SKIP() << "no AVX2 here: the plain form is the only one";
    CameraParam cam{};
    cam.f = 255.0f;
    cam.fx = 231.5f;
    cam.fy = 203.25f;
    cam.cx = 359.3f;
    cam.cy = 241.7f;
    cam.k1 = 1.0f;
    cam.k2 = -0.0412f;
    cam.k3 = 0.0031f;
    const int width = 203, height = 37;  // rows that end in a partial group of lanes
    std::vector<float> a(2 * width * height, 7.0f), b(a.size(), 7.0f);
    mz::GroundMapJob ground = {{{0.9f, -0.2f, 310.0f}, {0.05f, 1.1f, -40.0f}, {0.0001f, 0.0004f, 1.0f}},
                               &cam,
                               11.5f,
                               97.3f,
                               20.1f,
                               720.0f,
                               480.0f,
                               width,
                               a.data()};
    mz::groundMapRowsSse(ground, 0, height);
    ground.map = b.data();
    mz::groundMapRowsAvx2(ground, 0, height);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));

    std::vector<int32_t> sides(width);
    for (int j = 0; j < width; ++j) sides[j] = j < 90 ? -1 : j < 96 ? 2 : j < 100 ? 0 : 1;
    std::vector<float*> rowsA(height), rowsB(height);
    for (int i = 0; i < height; ++i) {
        rowsA[i] = a.data() + 2 * width * i;
        rowsB[i] = b.data() + 2 * width * i;
    }
    mz::LensViewJob lens = {&cam,  101.0f, 18.0f,        2.5f,   -1.0f,  0.05f,   -0.02f,      0.3f,
                            0.97f, 0.24f,  0.8f,         -0.9f,  0.001f, -0.002f, true,        false,
                            true,  0.0f,   sides.data(), 700.0f, 470.0f, width,   rowsA.data()};
    mz::lensViewRowsSse(lens, 0, height);
    lens.rows = rowsB.data();
    mz::lensViewRowsAvx2(lens, 0, height);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
    // A panorama.
    lens.columnSide = nullptr;
    lens.panorama = true;
    lens.wideAngle = 1.9f;
    lens.halfTan = std::tan(1.9f / 2.0f);
    lens.rows = rowsA.data();
    mz::lensViewRowsSse(lens, 0, height);
    lens.rows = rowsB.data();
    mz::lensViewRowsAvx2(lens, 0, height);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
    // Not all missing: the comparison saw real entries.
    EXPECT_GT(std::count_if(a.begin(), a.end(), [](float v) { return v != -1.0f; }), static_cast<long>(a.size() / 2));
}

}  // namespace
