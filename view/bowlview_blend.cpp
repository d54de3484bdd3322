// The bowl views' stitching map (BlendMap) with the top view's codes, and the vehicle picture and
// predefined map that SetImage brings.
//
// Zones: the four edges of the vehicle rectangle on the floor, each seen from the virtual camera,
// are planes through its eye; a view pixel lies beyond an edge when its ray leaves that plane on
// the side away from the vehicle. On the floor this is the division by the lines through the four
// projected vehicle corners, and it stays well defined when a corner lies behind the virtual
// camera or an edge shows vertical.
#include <algorithm>
#include <cmath>
#include <array>
#include <cstring>

#include "geometry/image.h"
#include "mz/mzview.h"
#include "view/blend_codes.h"
#include "view/bowlview.h"

namespace mz {
namespace {

using Vec3 = std::array<float, 3>;

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
float dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// One vehicle edge as seen from the eye: beyond(l, m) is true for view pixels whose ray passes the
// edge on the side away from the vehicle.
struct EdgeTest {
    float gx = 0, gy = 0, gz = 0;  // the plane's normal in camera coordinates, signed outward

    EdgeTest(const Pinhole& eye, const Vec3& p1, const Vec3& p2, const Vec3& inside) {
        const Vec3 e = {eye.px, eye.py, eye.pz};
        const Vec3 a = {p1[0] - e[0], p1[1] - e[1], p1[2] - e[2]};
        const Vec3 b = {p2[0] - e[0], p2[1] - e[1], p2[2] - e[2]};
        const Vec3 c = {inside[0] - e[0], inside[1] - e[1], inside[2] - e[2]};
        const Vec3 n = cross(a, b);
        const float side = dot(n, c);
        if (!(side != 0.0f) || !std::isfinite(side)) return;  // eye in the plane: nothing lies beyond
        const float s = side > 0.0f ? -1.0f : 1.0f;
        // A pixel's ray is R^T q with q = ((l - cx) / fx, (m - cy) / fy, 1): n . R^T q = (R n) . q.
        const Vec3 g = {dot({eye.r[0][0], eye.r[0][1], eye.r[0][2]}, n),
                        dot({eye.r[1][0], eye.r[1][1], eye.r[1][2]}, n),
                        dot({eye.r[2][0], eye.r[2][1], eye.r[2][2]}, n)};
        gx = s * g[0] / eye.fx;
        gy = s * g[1] / eye.fy;
        gz = s * (g[2] - g[0] * eye.cx / eye.fx - g[1] * eye.cy / eye.fy);
    }
    bool beyond(float l, float m) const { return gx * l + gy * m + gz > 0.0f; }
};

}  // namespace

void BowlView::rebuildBlend(const MultiviewParam& param) {
    std::fill(blend_.begin(), blend_.end(), uint8_t{0});
    const CameraParam& virt = param.cameras[kCameraCount];
    const Pinhole eye = pinholeOf(virt, 0.0f, 0.0f);
    const float hw = static_cast<float>(param.vehicleWidth) / 2.0f;
    const float hl = static_cast<float>(param.vehicleLength) / 2.0f;
    // y runs toward the rear: the front edge has the smaller y.
    const Vec3 fl = {virt.originX - hw, virt.originY - hl, 0}, fr = {virt.originX + hw, virt.originY - hl, 0};
    const Vec3 rl = {virt.originX - hw, virt.originY + hl, 0}, rr = {virt.originX + hw, virt.originY + hl, 0};
    const EdgeTest front(eye, fl, fr, rl), rear(eye, rl, rr, fl), left(eye, fl, rl, fr), right(eye, fr, rr, fl);
    const uint32_t colour = param.vehicleColour;
    const uint8_t vb = static_cast<uint8_t>(colour >> 16), vg = static_cast<uint8_t>(colour >> 8),
                  vr = static_cast<uint8_t>(colour);

    std::size_t i = 0;
    for (int m = 0; m < height_; ++m) {
        const float fm = static_cast<float>(m);
        for (int l = 0; l < width_; ++l, ++i) {
            const float fl2 = static_cast<float>(l);
            const bool f = front.beyond(fl2, fm), b = !f && rear.beyond(fl2, fm);
            const bool lf = left.beyond(fl2, fm), rt = !lf && right.beyond(fl2, fm);
            uint8_t* p = &blend_[3 * i];
            if ((f || b) && (lf || rt)) {
                const float w = weights_[f ? kFront : kRear][i];
                if (w >= 1.0f) {
                    putCode(p, f ? 0 : 255, f ? 0 : 255, 0);
                } else if (w < 0.0f) {
                    putCode(p, lf ? 255 : 0, lf ? 0 : 255, 0);
                } else {
                    const float share = std::round((1.0f - w) * 255.0f);
                    putCode(p, f ? 0 : 255, lf ? 0 : 255, static_cast<uint8_t>(std::clamp(share, 1.0f, 254.0f)));
                }
            } else if (f) {
                putCode(p, 0, 0, 0);
            } else if (b) {
                putCode(p, 255, 255, 0);
            } else if (lf) {
                putCode(p, 255, 0, 0);
            } else if (rt) {
                putCode(p, 0, 255, 0);
            } else {
                putCode(p, vb, vg, vr);
            }
        }
    }
}

void BowlView::mergeVehicle() {
    for (std::size_t i = 0; i < vehicle_.size(); i += 3)
        if (opaque(&vehicle_[i])) std::memcpy(&blend_[i], &vehicle_[i], 3);
}

void BowlView::changeImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
    if (blend_.empty()) return;
    if (mode == MZ_MV_IMAGE_COPY) {
        if (image == nullptr || width != width_ || height != height_) return;
        const std::size_t stride = rowBytes(width), bytes = static_cast<std::size_t>(width) * 3;
        for (int r = 0; r < height; ++r) std::memcpy(&blend_[r * bytes], image + r * stride, bytes);
        buildPlan();
        return;
    }
    if (kind_ == 1 && mode == MZ_MV_IMAGE_CLEAR) {
        std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
        return;
    }
    if (image == nullptr || width <= 0 || height <= 0) return;
    ImageBufferPtr picture(createImageBuffer(3, width, height));
    if (!picture) return;
    const std::size_t stride = rowBytes(width);
    for (int r = 0; r < height; ++r)
        std::memcpy(picture->rows[r], image + stride * r, static_cast<std::size_t>(width) * 3);
    std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
    if (w > 0 && h > 0) {
        ImageBufferPtr placed(createImageBuffer(3, w, h));
        if (!placed) return;
        clearRows(placed->rows, h, static_cast<std::size_t>(placed->stride));
        mzResizeImage(picture.get(), placed.get(), MZ_REMAP_BILINEAR);
        // Kind 1 leaves out the picture's outer two rows and columns and its key-coloured pixels;
        // kind 2 places every pixel, made opaque. Both keep to the layer, wherever (x, y) is.
        const int border = kind_ == 1 ? kPlacedBorder : 0;
        for (int r = border; r < h - border; ++r) {
            const long long ty = static_cast<long long>(y) + r;
            if (ty < 0 || ty >= height_) continue;
            for (int c = border; c < w - border; ++c) {
                const long long tx = static_cast<long long>(x) + c;
                if (tx < 0 || tx >= width_) continue;
                const uint8_t* s = placed->rows[r] + 3 * c;
                uint8_t* d = &vehicle_[3 * (static_cast<std::size_t>(ty) * width_ + static_cast<std::size_t>(tx))];
                if (kind_ == 1) {
                    if (opaque(s)) std::memcpy(d, s, 3);
                } else {
                    for (int ch = 0; ch < 3; ++ch) d[ch] = std::clamp<uint8_t>(s[ch], 1, 254);
                }
            }
        }
    }
    mergeVehicle();
    buildPlan();
}

}  // namespace mz
