// The bodies of map_rows.h, for V = 4 or 8 float lanes; included by map_rows.cpp and
// map_rows_avx2.cpp only. Internal linkage throughout (see lens_lanes.h).
#pragma once

#include "geometry/lens_lanes.h"
#include "geometry/map_rows.h"

namespace mz::lanes {

template <class V>
static inline void storePairs(V x, V y, int count, float* out) {
    for (int k = 0; k < count; ++k) {
        out[2 * k] = x[k];
        out[2 * k + 1] = y[k];
    }
}

template <class V>
static void groundRows(const GroundMapJob& job, int first, int last) {
    constexpr int n = kCount<V>;
    const auto& h = job.h;
    const CameraParam& cam = *job.cam;
    for (int row = first; row < last; ++row) {
        const float Y = (static_cast<float>(row) - job.oy) * job.mmPerPixel;
        const float aY = h[0][1] * Y, bY = h[1][1] * Y, wY = h[2][1] * Y;
        float* out = job.map + 2 * static_cast<long>(job.width) * row;
        for (int col = 0; col < job.width; col += n) {
            const V X = (ramp<V>(static_cast<float>(col)) - job.ox) * job.mmPerPixel;
            const V a = h[0][0] * X + aY + h[0][2];
            const V b = h[1][0] * X + bY + h[1][2];
            const V w = h[2][0] * X + wY + h[2][2];
            const V u = a / w / cam.f;
            const V v = b / w / cam.f;
            V x, y;
            pixelOfRay(cam, u, v, x, y);
            const Int<V> inside = (x >= 0.0f) & (x < job.sourceWidth) & (y >= 0.0f) & (y < job.sourceHeight);
            x = inside ? x : splat<V>(-1.0f);
            y = inside ? y : splat<V>(-1.0f);
            storePairs(x, y, job.width - col < n ? job.width - col : n, out + 2 * col);
        }
    }
}

template <class V>
static void lensRows(const LensViewJob& job, int first, int last) {
    using I = Int<V>;
    constexpr int n = kCount<V>;
    const CameraParam& cam = *job.cam;
    for (int row = first; row < last; ++row) {
        const float nRow = (static_cast<float>(row) - job.centreY) - job.offsetY;
        for (int col = 0; col < job.width; col += n) {
            const int count = job.width - col < n ? job.width - col : n;
            // The affine step.
            const V m = (ramp<V>(static_cast<float>(col)) - job.centreX) - job.offsetX;
            const V xp = job.ax * (job.cosR * m + job.sinR * nRow);
            const V yp = job.ay * (job.cosR * nRow - job.sinR * m);
            V X = xp - job.shearX * yp;
            V Y = yp - job.shearY * xp;
            if (job.keystone) {
                const V q = Y * job.ky + X * job.kx + 1.0f;
                X = X / q;
                Y = Y / q;
            }
            I side{};
            if (job.columnSide != nullptr)
                for (int k = 0; k < count; ++k) side[k] = job.columnSide[col + k];
            if (job.panorama) {
                const V r = X / cam.f;
                const V w = Y / cam.f;
                const V len = sqrt(r * r + w * w);
                const V s = atan(2.0f * len * job.halfTan) / job.wideAngle / len;
                const I axis = len == 0.0f;
                X = axis ? splat<V>(0.0f) : cam.f * r * s;
                Y = axis ? splat<V>(0.0f) : cam.f * w * s;
            }
            if (job.lens) {
                // The lens step, divided on the split's sides.
                V r = X / cam.f;
                V s = Y / cam.f;
                if (job.columnSide != nullptr) {
                    const I left = side == -1, right = side == 1;
                    const V d = left ? 1.0f + job.wideAngle * r : (right ? 1.0f - job.wideAngle * r : splat<V>(1.0f));
                    const I divided = left | right;
                    r = divided ? r / d : r;
                    s = divided ? s / d : s;
                }
                const V rho = sqrt(r * r + s * s);
                const V radius = radiusOfAngle(cam, atan(rho));
                const I axis = rho == 0.0f;
                X = axis ? splat<V>(0.0f) : cam.fx * r * radius / rho;
                Y = axis ? splat<V>(0.0f) : cam.fy * s * radius / rho;
            }
            // The band is blank only where a panorama or lens step split the picture.
            const I band = (job.panorama || job.lens) ? I(side == 2) : I{};
            V x = cam.cx + X;
            V y = cam.cy + Y;
            const I keep = ~band & (x >= 0.0f) & (x < job.sourceWidth) & (y >= 0.0f) & (y < job.sourceHeight);
            x = keep ? x : splat<V>(-1.0f);
            y = keep ? y : splat<V>(-1.0f);
            storePairs(x, y, count, job.rows[row] + 2 * col);
        }
    }
}

}  // namespace mz::lanes
