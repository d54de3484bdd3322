// View-mode map, view-mode point and overlay map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/angles.h"
#include "mz/mzgeometry.h"
#include "testing/view_rig.h"

namespace {

struct Map {
    int w, h;
    std::vector<float> data;
    std::vector<float*> rows;
    Map(int width, int height) : w(width), h(height), data(2 * width * height, 5.0f), rows(height) {
        for (int i = 0; i < h; ++i) rows[i] = data.data() + 2 * w * i;
    }
    float x(int col, int row) const { return data[2 * (row * w + col)]; }
    float y(int col, int row) const { return data[2 * (row * w + col) + 1]; }
};

SingleviewParam plainView(CameraParam* cam, int w, int h) {
    SingleviewParam v{};
    v.scaleX = 1;
    v.scaleY = 1;
    v.width = w;
    v.height = h;
    v.centreX = static_cast<float>(w) / 2;
    v.centreY = static_cast<float>(h) / 2;
    v.overlayScale = 10;
    v.camera = cam;
    v.vehicleLength = 4600;
    return v;
}

TEST(ViewModeMap, SplitBandColumns) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = plainView(&rig->cameras[1], 200, 10);
    v.flags = MZ_SV_SPLIT | MZ_SV_LENS;
    v.bandWidth = 5.0f;  // B = 6, Q = 2
    v.centreX = 100;
    Map m(200, 10);
    mzGetviewModeLUT(720, 480, m.rows.data(), &v);
    for (int col = 90; col <= 110; ++col) {
        const bool band = (col >= 102 && col <= 105) || (col >= 94 && col <= 97);
        EXPECT_EQ(band, m.x(col, 5) == -1.0f && m.y(col, 5) == -1.0f) << col;
    }
    // Without a lens or panorama step nothing splits the picture.
    v.flags = MZ_SV_SPLIT;
    mzGetviewModeLUT(720, 480, m.rows.data(), &v);
    EXPECT_NE(-1.0f, m.x(103, 5));
}

TEST(ViewModeMap, SourceEdgesAndPrincipalPoint) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = plainView(&rig->cameras[1], 10, 3);
    v.centreX = 0;
    v.centreY = 0;
    Map m(10, 3);
    // Column j reads camera x = cx + j = 360 + j: x = 365 is the source width itself.
    mzGetviewModeLUT(365, 480, m.rows.data(), &v);
    EXPECT_FLOAT_EQ(364.0f, m.x(4, 0));
    EXPECT_EQ(-1.0f, m.x(5, 0));
    EXPECT_EQ(-1.0f, m.y(5, 0));
    v.offsetX = 360;  // column 0 reads x = 0
    mzGetviewModeLUT(720, 480, m.rows.data(), &v);
    EXPECT_EQ(0.0f, m.x(0, 0));

    // With the lens model the view centre is the principal point exactly.
    v = plainView(&rig->cameras[1], 11, 11);
    v.flags = MZ_SV_LENS;
    v.tiltX = 3;
    v.centreX = 5;
    v.centreY = 5;
    Map lens(11, 11);
    mzGetviewModeLUT(720, 480, lens.rows.data(), &v);
    EXPECT_EQ(360.0f, lens.x(5, 5));
    EXPECT_EQ(240.0f, lens.y(5, 5));
}

// The view map, one pixel at a time as it has always been defined: shift, rotation, scale and
// flips, shear, keystone, the panorama step (unsplit), the split sides' division, the forward lens
// polynomial. The library
// computes four pixels at a time; every entry must be these bits.
void onePixelLensMap(const SingleviewParam& v, int sw, int sh, std::vector<float>& out) {
    const CameraParam& c = *v.camera;
    const float rot = v.rotation * mz::kDegToRad<float>;
    const float cosR = std::cos(rot), sinR = std::sin(rot);
    const float ax = ((v.flags & MZ_SV_FLIP_H) ? -1.0f : 1.0f) / v.scaleX;
    const float ay = ((v.flags & MZ_SV_FLIP_V) ? -1.0f : 1.0f) / v.scaleY;
    const bool keystone = v.tiltX != 0.0f || v.tiltY != 0.0f;
    const float kx = 2.0f * std::tan(v.tiltX * mz::kDegToRad<float>) / static_cast<float>(c.height);
    const float ky = 2.0f * std::tan(v.tiltY * mz::kDegToRad<float>) / static_cast<float>(c.width);
    const int b0 = static_cast<int>(std::lround(v.bandWidth));
    const int b = b0 % 2 != 0 ? b0 + 1 : b0, q = b - 4, centre = static_cast<int>(std::trunc(v.centreX));
    out.assign(2 * static_cast<size_t>(v.width) * v.height, 0.0f);
    for (int i = 0; i < v.height; ++i)
        for (int j = 0; j < v.width; ++j) {
            const float m = (static_cast<float>(j) - v.centreX) - v.offsetX;
            const float n = (static_cast<float>(i) - v.centreY) - v.offsetY;
            const float xp = ax * (cosR * m + sinR * n), yp = ay * (cosR * n - sinR * m);
            float x = xp - v.shearX * yp, y = yp - v.shearY * xp;
            if (keystone) {
                const float k = y * ky + x * kx + 1.0f;
                x = x / k;
                y = y / k;
            }
            bool band = false, beyond = false;
            const bool left = j < centre;
            if (v.flags & MZ_SV_SPLIT) {
                const int u = std::abs(j - centre);
                band = left ? q < u && u <= b : q <= u && u < b;
                beyond = left ? u > b : u >= b;
            }
            if ((v.flags & MZ_SV_PANORAMA) && v.wideAngle != 0.0f) {  // never split here
                const float halfTan = std::tan(v.wideAngle / 2.0f);
                const float pr = x / c.f, pw = y / c.f, len = std::sqrt(pr * pr + pw * pw);
                const float ps = std::atan(2.0f * len * halfTan) / v.wideAngle / len;
                x = len != 0.0f ? c.f * pr * ps : 0.0f;
                y = len != 0.0f ? c.f * pw * ps : 0.0f;
            }
            if (v.flags & MZ_SV_LENS) {
                float r = x / c.f, s = y / c.f;
                if (beyond) {
                    const float d = left ? 1.0f + v.wideAngle * r : 1.0f - v.wideAngle * r;
                    r = r / d;
                    s = s / d;
                }
                const float rho = std::sqrt(r * r + s * s);
                const float t = std::atan(rho), t2 = t * t, t3 = t2 * t, t5 = t3 * t2, t7 = t5 * t2, t9 = t7 * t2;
                const float radius = c.k1 * t + c.k2 * t3 + c.k3 * t5 + c.k4 * t7 + c.k5 * t9;
                x = rho != 0.0f ? c.fx * r * radius / rho : 0.0f;
                y = rho != 0.0f ? c.fy * s * radius / rho : 0.0f;
            }
            const bool stepped = (v.flags & MZ_SV_LENS) || ((v.flags & MZ_SV_PANORAMA) && v.wideAngle != 0.0f);
            const float px = c.cx + x, py = c.cy + y;
            const bool inside = !(band && stepped) && px >= 0.0f && px < static_cast<float>(sw) && py >= 0.0f &&
                                py < static_cast<float>(sh);
            out[2 * (static_cast<size_t>(i) * v.width + j)] = inside ? px : -1.0f;
            out[2 * (static_cast<size_t>(i) * v.width + j) + 1] = inside ? py : -1.0f;
        }
}

TEST(ViewModeMap, LensAndPanoramaMapsEqualTheOnePixelSteps) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    CameraParam& cam = rig->cameras[1];
    cam.k2 = -0.03f;
    cam.k4 = 0.0007f;
    struct Case {
        uint32_t flags;
        float rotation, scaleX, scaleY, shearX, shearY, tiltX, tiltY, offsetX, wideAngle, bandWidth;
        int width;
    };
    const Case cases[] = {
        {MZ_SV_LENS, 0, 1.2f, 1.2f, 0, 0, 0, 0, 0, 0, 0, 800},
        {MZ_SV_LENS | MZ_SV_FLIP_H, 12.5f, 0.9f, 1.4f, 0.1f, -0.05f, 0, 0, 7.5f, 0, 0, 203},
        {MZ_SV_LENS | MZ_SV_FLIP_V, -30, 1.0f, 1.0f, 0, 0, 8, -5, -3, 0, 0, 161},
        {MZ_SV_LENS | MZ_SV_SPLIT, 0, 1.1f, 1.1f, 0, 0, 0, 0, 0, 0.4f, 9.0f, 322},
        {MZ_SV_LENS | MZ_SV_SPLIT, 3, 0.8f, 0.8f, 0.02f, 0, 2, 0, 0, -0.7f, 4.0f, 97},
        {MZ_SV_LENS | MZ_SV_PANORAMA, 0, 1.0f, 1.0f, 0, 0, 0, 0, 0, 2.6f, 0, 721},
        {MZ_SV_LENS | MZ_SV_PANORAMA | MZ_SV_FLIP_H, 5, 0.7f, 1.3f, 0, 0.1f, -4, 6, 2, 1.2f, 0, 150},
        {MZ_SV_PANORAMA, 0, 1.0f, 1.0f, 0, 0, 0, 0, 0, 2.0f, 0, 90},
        {MZ_SV_SPLIT, 10, 2.0f, 2.0f, 0, 0, 0, 0, 0, 0.4f, 9.0f, 98},
    };
    for (const Case& k : cases) {
        SingleviewParam v = plainView(&cam, k.width, 90);
        v.flags = k.flags;
        v.rotation = k.rotation;
        v.scaleX = k.scaleX;
        v.scaleY = k.scaleY;
        v.shearX = k.shearX;
        v.shearY = k.shearY;
        v.tiltX = k.tiltX;
        v.tiltY = k.tiltY;
        v.offsetX = k.offsetX;
        v.wideAngle = k.wideAngle;
        v.bandWidth = k.bandWidth;
        Map m(k.width, 90);
        mzGetviewModeLUT(700, 470, m.rows.data(), &v);
        std::vector<float> want;
        onePixelLensMap(v, 700, 470, want);
        int wrong = 0;
        for (size_t i = 0; i < want.size(); ++i) wrong += std::memcmp(&want[i], &m.data[i], 4) != 0;
        EXPECT_EQ(0, wrong) << "flags " << k.flags << ", width " << k.width;
    }
}

TEST(ViewModePoint, InvertsTheMapWithoutShear) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    for (const uint32_t flags : {0u, MZ_SV_FLIP_H | MZ_SV_FLIP_V, unsigned(MZ_SV_LENS)}) {
        SCOPED_TRACE(flags);
        SingleviewParam v = plainView(&rig->cameras[1], 64, 48);
        v.flags = flags;
        v.rotation = 30;
        v.scaleX = flags & MZ_SV_LENS ? 1.0f : 2.0f;
        v.scaleY = flags & MZ_SV_LENS ? 1.0f : 0.5f;
        v.offsetX = 3;
        v.offsetY = -2;
        Map m(64, 48);
        mzGetviewModeLUT(720, 480, m.rows.data(), &v);
        for (const auto& p : {std::pair{10, 7}, std::pair{40, 30}, std::pair{63, 0}}) {
            const float cam[2] = {m.x(p.first, p.second), m.y(p.first, p.second)};
            ASSERT_NE(-1.0f, cam[0]);
            float view[2] = {0, 0};
            mzGetViewModePoint(cam, view, &v);
            EXPECT_NEAR(p.first, view[0], 0.01f);
            EXPECT_NEAR(p.second, view[1], 0.01f);
        }
    }
    // The principal point itself stays on the axis with the lens model.
    SingleviewParam v = plainView(&rig->cameras[1], 64, 48);
    v.flags = MZ_SV_LENS;
    const float centre[2] = {360, 240};
    float view[2] = {0, 0};
    mzGetViewModePoint(centre, view, &v);
    EXPECT_FLOAT_EQ(32.0f, view[0]);
    EXPECT_FLOAT_EQ(24.0f, view[1]);
}

TEST(OverlayMap, GroundUnderTheViewAndNothingBehindTheCamera) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    // The rear camera's whole picture: its top rows look over the horizon.
    SingleviewParam v = plainView(&rig->cameras[1], 720, 480);
    Map m(720, 480);
    mzGetOverlayLUT(4000, 4000, m.rows.data(), &v);
    EXPECT_EQ(-1.0f, m.x(360, 0));
    EXPECT_EQ(-1.0f, m.y(360, 0));
    // A floor point seen by the camera lands where its ground position says: x / 10 + 2000 and
    // y / 10 - 230.
    const Point2F floor = rig->world[1][0];
    const Point2F pixel = rig->image[1][0];
    const int col = static_cast<int>(std::lround(pixel.x)), row = static_cast<int>(std::lround(pixel.y));
    // One camera pixel spans a few centimetres of floor there.
    EXPECT_NEAR(floor.x / 10 + 2000, m.x(col, row), 8.0f);
    EXPECT_NEAR(floor.y / 10 - 230, m.y(col, row), 8.0f);

    // A camera without four point pairs has no ground plane.
    rig->cameras[1].pointCount = 3;
    mzGetOverlayLUT(4000, 4000, m.rows.data(), &v);
    for (size_t i = 0; i < m.data.size(); ++i) ASSERT_EQ(-1.0f, m.data[i]);
}

}  // namespace
