// View-mode look-up table, view-mode point and overlay look-up table. Single precision
// throughout: the display unit replays the tables built from these numbers.
#include "geometry/view_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "geometry/angles.h"
#include "geometry/image.h"
#include "geometry/lens_model.h"
#include "geometry/map_rows.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"

namespace mz {
namespace {

// The per-call constants of the affine and keystone steps.
struct Affine {
    float cosR = 1, sinR = 0;
    float ax = 1, ay = 1;
    float kx = 0, ky = 0;
    bool keystone = false;
};

// kx and ky divide by the camera picture's size for the view map and by the view's own size for
// the overlay map; a zero size would give an infinite tilt, so it tilts nothing instead.
Affine makeAffine(const SingleviewParam& v, int tiltHeight, int tiltWidth) {
    Affine a;
    const float rot = v.rotation * kDegToRad<float>;
    a.cosR = std::cos(rot);
    a.sinR = std::sin(rot);
    a.ax = ((v.flags & MZ_SV_FLIP_H) ? -1.0f : 1.0f) / v.scaleX;
    a.ay = ((v.flags & MZ_SV_FLIP_V) ? -1.0f : 1.0f) / v.scaleY;
    a.keystone = v.tiltX != 0.0f || v.tiltY != 0.0f;
    if (tiltHeight > 0) a.kx = 2.0f * std::tan(v.tiltX * kDegToRad<float>) / static_cast<float>(tiltHeight);
    if (tiltWidth > 0) a.ky = 2.0f * std::tan(v.tiltY * kDegToRad<float>) / static_cast<float>(tiltWidth);
    return a;
}

// Steps shared by both maps: shift, rotation, scale and flips, shear, keystone.
inline void affineStep(const SingleviewParam& v, const Affine& a, int row, int col, float* X, float* Y) {
    const float m = (static_cast<float>(col) - v.centreX) - v.offsetX;
    const float n = (static_cast<float>(row) - v.centreY) - v.offsetY;
    const float xp = a.ax * (a.cosR * m + a.sinR * n);
    const float yp = a.ay * (a.cosR * n - a.sinR * m);
    float x = xp - v.shearX * yp;
    float y = yp - v.shearY * xp;
    if (a.keystone) {
        const float q = y * a.ky + x * a.kx + 1.0f;
        x = x / q;
        y = y / q;
    }
    *X = x;
    *Y = y;
}

// Where a column lies against the split band of a split view.
struct Split {
    bool band = false;    // inside the blank band
    bool beyond = false;  // outside it, where the side correction applies
    bool left = false;
};

struct SplitRule {
    bool on = false;
    int centre = 0;
    int b = 0;
    int q = 0;

    explicit SplitRule(const SingleviewParam& v) {
        on = (v.flags & MZ_SV_SPLIT) != 0;
        if (!on) return;
        int b0 = 0;
        if (!roundToInt(v.bandWidth, &b0) || !roundToInt(std::trunc(v.centreX), &centre)) {
            on = false;
            return;
        }
        b = (b0 % 2 != 0) ? b0 + 1 : b0;
        q = b - 4;
    }

    Split at(int col) const {
        Split s;
        if (!on) return s;
        const long long u = std::llabs(static_cast<long long>(col) - centre);
        s.left = col < centre;
        if (s.left) {
            s.band = q < u && u <= b;
            s.beyond = u > b;
        } else {
            s.band = q <= u && u < b;
            s.beyond = u >= b;
        }
        return s;
    }
};

// Wide panorama step; `spread` applies the horizontal stretch of a split view's outer parts.
inline void panoramaStep(const SingleviewParam& v, const CameraParam& c, bool spread, float* X, float* Y) {
    const float wa = v.wideAngle;
    const float halfTan = std::tan(wa / 2.0f);
    float r = *X / c.f;
    const float w = *Y / c.f;
    if (spread) r = std::tan(wa * r) / (2.0f * halfTan);
    const float len = std::sqrt(r * r + w * w);
    if (len != 0.0f) {
        const float s = std::atan(2.0f * len * halfTan) / wa / len;
        *X = c.f * r * s;
        *Y = c.f * w * s;
    } else {
        *X = 0.0f;
        *Y = 0.0f;
    }
}

// Lens step: the perspective point (in units of f) through the forward fisheye polynomial.
// `side` is 0 without the split-side division, -1 left of the centre, +1 right of it.
inline void lensStep(const SingleviewParam& v, const CameraParam& c, int side, float* X, float* Y) {
    float r = *X / c.f;
    float s = *Y / c.f;
    if (side != 0) {
        const float d = side < 0 ? 1.0f + v.wideAngle * r : 1.0f - v.wideAngle * r;
        r = r / d;
        s = s / d;
    }
    const float rho = lens::planeRadius(r, s);
    const float theta = std::atan(rho);
    const float radius = lens::radiusOfAngle(lens::forwardCoefficients(c).data(), theta);
    if (rho != 0.0f) {
        *X = c.fx * r * radius / rho;
        *Y = c.fy * s * radius / rho;
    } else {
        *X = 0.0f;
        *Y = 0.0f;
    }
}

inline void setMissing(float* p) {
    p[0] = -1.0f;
    p[1] = -1.0f;
}

bool usableView(const float* const* rows, const SingleviewParam& v) {
    return rows != nullptr && v.camera != nullptr && v.width > 0 && v.height > 0;
}

}  // namespace

void viewModeMap(int sourceWidth, int sourceHeight, float** rows, const SingleviewParam& view) {
    viewModeMapRows(sourceWidth, sourceHeight, rows, view, 0, view.height);
}

void viewModeMapRows(int sourceWidth, int sourceHeight, float** rows, const SingleviewParam& view, int first,
                     int last) {
    if (!usableView(rows, view)) return;
    first = std::max(first, 0);
    last = std::min(last, view.height);
    const CameraParam& cam = *view.camera;
    const Affine a = makeAffine(view, cam.height, cam.width);
    const SplitRule split(view);
    const bool panorama = (view.flags & MZ_SV_PANORAMA) && view.wideAngle != 0.0f;
    const bool lens = (view.flags & MZ_SV_LENS) != 0;
    const float sw = static_cast<float>(sourceWidth), sh = static_cast<float>(sourceHeight);
    if (!(panorama && split.on)) {
        // Every view but a split panorama (its sides' stretch takes a tangent per pixel): several
        // pixels at a time.
        std::vector<int32_t> sides;
        if (split.on) {
            sides.resize(static_cast<std::size_t>(view.width));
            for (int j = 0; j < view.width; ++j) {
                const Split s = split.at(j);
                sides[j] = s.band ? 2 : s.beyond ? (s.left ? -1 : 1) : 0;
            }
        }
        LensViewJob job{};
        job.cam = &cam;
        job.centreX = view.centreX;
        job.centreY = view.centreY;
        job.offsetX = view.offsetX;
        job.offsetY = view.offsetY;
        job.shearX = view.shearX;
        job.shearY = view.shearY;
        job.wideAngle = view.wideAngle;
        job.cosR = a.cosR;
        job.sinR = a.sinR;
        job.ax = a.ax;
        job.ay = a.ay;
        job.kx = a.kx;
        job.ky = a.ky;
        job.keystone = a.keystone;
        job.panorama = panorama;
        job.lens = lens;
        job.halfTan = std::tan(view.wideAngle / 2.0f);
        job.columnSide = split.on ? sides.data() : nullptr;
        job.sourceWidth = sw;
        job.sourceHeight = sh;
        job.width = view.width;
        job.rows = rows;
        lensViewRows(job, first, last);
        return;
    }
    for (int i = first; i < last; ++i) {
        float* out = rows[i];
        for (int j = 0; j < view.width; ++j, out += 2) {
            float X, Y;
            affineStep(view, a, i, j, &X, &Y);
            const Split s = split.at(j);
            if (panorama) panoramaStep(view, cam, s.beyond, &X, &Y);
            if (lens) lensStep(view, cam, s.beyond ? (s.left ? -1 : 1) : 0, &X, &Y);
            // The band is blank only where a panorama or lens step split the picture.
            if (s.band && (panorama || lens)) {
                setMissing(out);
                continue;
            }
            const float x = cam.cx + X;
            const float y = cam.cy + Y;
            if (x >= 0.0f && x < sw && y >= 0.0f && y < sh) {
                out[0] = x;
                out[1] = y;
            } else {
                setMissing(out);
            }
        }
    }
}

void overlayMap(int overlayWidth, int overlayHeight, float** rows, const SingleviewParam& view) {
    if (!usableView(rows, view)) return;
    const CameraParam& cam = *view.camera;
    MatrixPtr h(3, 3);
    if (!h) return;
    // A camera without four point pairs leaves the matrix as it is: all zero, so that every
    // entry falls behind the camera and is reported missing.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) h[r][c] = 0.0f;
    mzGetHomography(h.get(), &cam, 1);

    const Affine a = makeAffine(view, view.height, view.width);
    const bool panorama = (view.flags & MZ_SV_PANORAMA) && view.wideAngle != 0.0f;
    const bool lens = (view.flags & MZ_SV_LENS) != 0;
    const float ow = static_cast<float>(overlayWidth), oh = static_cast<float>(overlayHeight);
    const float halfWidth = static_cast<float>(overlayWidth / 2);
    const float rowShift = static_cast<float>(view.vehicleLength) / (2.0f * view.overlayScale);
    for (int i = 0; i < view.height; ++i) {
        float* out = rows[i];
        for (int j = 0; j < view.width; ++j, out += 2) {
            float X, Y;
            affineStep(view, a, i, j, &X, &Y);
            if (panorama) panoramaStep(view, cam, false, &X, &Y);
            if (lens) lensStep(view, cam, 0, &X, &Y);
            const Point2F pixel = {cam.cx + X, cam.cy + Y};
            Point2F p;
            mzFeatureUndistortion(&pixel, &p, &cam);
            const float w = h[2][0] * p.x + h[2][1] * p.y + h[2][2];
            if (!(w > 0.0f)) {
                setMissing(out);
                continue;
            }
            const float gx = (h[0][0] * p.x + h[0][1] * p.y + h[0][2]) / w;
            const float gy = (h[1][0] * p.x + h[1][1] * p.y + h[1][2]) / w;
            const float ox = gx / view.overlayScale + halfWidth;
            const float oy = gy / view.overlayScale - rowShift;
            if (ox >= 0.0f && ox < ow && oy >= 0.0f && oy < oh) {
                out[0] = ox;
                out[1] = oy;
            } else {
                setMissing(out);
            }
        }
    }
}

}  // namespace mz

extern "C" {

MZ_API void mzGetviewModeLUT(int sourceWidth, int sourceHeight, float** rows, SingleviewParam* view) {
    if (view == nullptr) return;
    mz::viewModeMap(sourceWidth, sourceHeight, rows, *view);
}

MZ_API void mzGetOverlayLUT(int overlayWidth, int overlayHeight, float** rows, SingleviewParam* view) {
    if (view == nullptr) return;
    mz::overlayMap(overlayWidth, overlayHeight, rows, *view);
}

MZ_API void mzGetViewModePoint(const float* cameraPoint, float* viewPoint, SingleviewParam* view) {
    if (cameraPoint == nullptr || viewPoint == nullptr || view == nullptr || view->camera == nullptr) return;
    const SingleviewParam& v = *view;
    const CameraParam& c = *v.camera;
    float n = cameraPoint[0] - c.cx;
    float m = cameraPoint[1] - c.cy;
    if (v.flags & MZ_SV_LENS) {
        const float q = n / c.fx;
        const float r = m / c.fy;
        const float rho = mz::lens::planeRadius(q, r);
        const float theta = mz::lens::angleOfRadius(mz::lens::inverseCoefficients(c).data(), rho);
        const float t = c.f * std::tan(theta);
        // The principal point has no direction; it stays on the optical axis.
        if (rho != 0.0f) {
            m = t * r / rho;
            n = t * q / rho;
        } else {
            m = 0.0f;
            n = 0.0f;
        }
    }
    if ((v.flags & MZ_SV_PANORAMA) && v.wideAngle != 0.0f) {
        const float j = c.f * c.fy / c.fx;
        const float q = n / c.f;
        const float r = m / j;
        const float s = std::sqrt(q * q + r * r);
        const float u = std::tan(s * v.wideAngle) / (2.0f * std::tan(v.wideAngle / 2.0f));
        if (u != 0.0f) {
            m = j * r * u / s;
            n = c.f * q * u / s;
        }
    }
    if (v.tiltX != 0.0f || v.tiltY != 0.0f) {
        const float o =
            c.width > 0 ? 2.0f * std::tan(v.tiltY * mz::kDegToRad<float>) / static_cast<float>(c.width) : 0.0f;
        const float p =
            c.height > 0 ? 2.0f * std::tan(v.tiltX * mz::kDegToRad<float>) / static_cast<float>(c.height) : 0.0f;
        const float d = (m * o - 1.0f) * (n * p - 1.0f) - m * p * n * o;
        n = n / d;
        m = m / d;
    }
    const float u = n + m * v.shearX;
    const float w = m + n * v.shearY;
    const float sx = ((v.flags & MZ_SV_FLIP_H) ? -1.0f : 1.0f) * v.scaleX;
    const float sy = ((v.flags & MZ_SV_FLIP_V) ? -1.0f : 1.0f) * v.scaleY;
    const float rot = v.rotation * mz::kDegToRad<float>;
    const float cosR = std::cos(rot), sinR = std::sin(rot);
    viewPoint[0] = sx * cosR * u - sy * sinR * w + v.offsetX + v.centreX;
    viewPoint[1] = sy * cosR * w + sx * sinR * u + v.offsetY + v.centreY;
}

}  // extern "C"
