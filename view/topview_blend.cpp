// The top view's stitching map (BlendMap): the codes of every blend mode, the seam lines, and the
// vehicle picture that SetImage places or the predefined map that it copies in.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "mz/mzview.h"
#include "view/blend_codes.h"
#include "view/topview_engine.h"

namespace mz {
namespace {

constexpr float kDegToRadCoarse = 0.017453f;  // the blend geometry's own constant
constexpr float kInv255 = 0.003921569f;

// Corner codes: bytes 0 and 1 name the corner, byte 2 is the side camera's share.
void cornerCode(uint8_t* p, bool frontCorner, bool leftCorner, uint8_t share) {
    putCode(p, frontCorner ? 0 : 255, leftCorner ? 0 : 255, share);
}

uint8_t shareByte(float share) {
    const float r = std::floor(share + 0.5f);
    if (r > 0.0f && r < 255.0f) return static_cast<uint8_t>(r);
    return r >= 255.0f ? 254 : 1;
}

// Inside a corner's wedge: the side of the line through the (possibly moved) vehicle corner
// that makes half the FOV with the driving axis.
struct Corner {
    float x, y;
};

bool insideWedge(bool front, bool left, int col, int row, const Corner& k, float tF, float tR) {
    const float dc = static_cast<float>(col) - k.x, dr = k.y - static_cast<float>(row);
    if (front) return left ? tF * dc + dr > 0.0f : -tF * dc + dr > 0.0f;
    return left ? !(-tR * dc + dr > 0.0f) : !(tR * dc + dr > 0.0f);
}

int toInt(float v) {
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return -1;  // off the map: draws nothing
    return static_cast<int>(v);
}

}  // namespace

void TopView::setImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
    guarded([&] { changeImage(width, height, image, mode, x, y, w, h); });
}

void TopView::changeImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
    if (blend_.empty()) return;
    if (mode == MZ_MV_IMAGE_CLEAR) {
        std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
        return;
    }
    if (image == nullptr || width <= 0 || height <= 0) return;
    ImageBufferPtr picture = workingPicture(width, height, image);
    if (!picture) return;
    if (mode == MZ_MV_IMAGE_COPY) {
        if (picture->width != workWidth_ || picture->height != workHeight_) return;
        const std::size_t bytes = static_cast<std::size_t>(workWidth_) * 3;
        for (int r = 0; r < workHeight_; ++r) std::memcpy(&blend_[r * bytes], picture->rows[r], bytes);
        buildPlan();
        return;
    }
    std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
    // The placed size and corner in working orientation.
    const int pw = rotated_ ? h : w, ph = rotated_ ? w : h;
    const int px = rotated_ ? workWidth_ - y - h : x, py = rotated_ ? x : y;
    if (pw > 0 && ph > 0) {
        ImageBufferPtr placed(createImageBuffer(3, pw, ph));
        if (!placed) return;
        clearRows(placed->rows, ph, static_cast<std::size_t>(placed->stride));
        mzResizeImage(picture.get(), placed.get(), MZ_REMAP_BILINEAR);
        for (int r = kPlacedBorder; r < ph - kPlacedBorder; ++r) {
            const long long ty = static_cast<long long>(py) + r;
            if (ty < 0 || ty >= workHeight_) continue;
            for (int c = kPlacedBorder; c < pw - kPlacedBorder; ++c) {
                const long long tx = static_cast<long long>(px) + c;
                if (tx < 0 || tx >= workWidth_) continue;
                const uint8_t* s = placed->rows[r] + 3 * c;
                if (opaque(s)) std::memcpy(&vehicle_[3 * (ty * workWidth_ + tx)], s, 3);
            }
        }
    }
    mergeVehicle();
    buildPlan();
}

// Rows first..last-1 of the stitching map in the current blend mode: zero, then the mode's codes.
void TopView::blendRows(int first, int last) {
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(workWidth_);
    std::fill(blend_.begin() + rowBytes * first, blend_.begin() + rowBytes * last, uint8_t{0});
    switch (blendMode_) {
    case 0: blendAuto(first, last); break;
    case 1: blendFov(first, last); break;
    case 2:
    case 3: blendLines(blendMode_ == 3, first, last); break;
    default: break;
    }
}

// Bands, sides and the vehicle area of rows first..last-1; corners are left to the caller's rule.
void TopView::writeBandsAndSides(int first, int last) {
    const VehicleRect& k = rect_;
    const uint8_t vb = static_cast<uint8_t>(colour_ >> 16), vg = static_cast<uint8_t>(colour_ >> 8),
                  vr = static_cast<uint8_t>(colour_);
    for (int row = first; row < last; ++row)
        for (int col = 0; col < workWidth_; ++col) {
            const bool left = col < k.x0, right = col >= k.x1;
            if (left || right) {
                if (row >= k.y0 && row < k.y1) putCode(code(col, row), left ? 255 : 0, left ? 0 : 255, 0);
            } else if (row < k.y0) {
                putCode(code(col, row), 0, 0, 0);
            } else if (row >= k.y1) {
                putCode(code(col, row), 255, 255, 0);
            } else {
                putCode(code(col, row), vb, vg, vr);
            }
        }
}

float TopView::weight(int c, int col, int row) const {
    const VehicleRect& k = rect_;
    float falloff;
    switch (c) {
    case kFront:
        if (row >= k.y0) return 0.0f;
        falloff = static_cast<float>(k.y0 - row) / static_cast<float>(k.y0);
        break;
    case kLeft:
        if (col >= k.x0) return 0.0f;
        falloff = static_cast<float>(k.x0 - col) / static_cast<float>(k.x0);
        break;
    case kRear:
        if (row < k.y1) return 0.0f;
        falloff = static_cast<float>(row - k.y1) / static_cast<float>(workHeight_ - k.y1);
        break;
    default:
        if (col < k.x1) return 0.0f;
        falloff = static_cast<float>(col - k.x1) / static_cast<float>(workWidth_ - k.x1);
        break;
    }
    const float* m = &maps_[c][2 * (static_cast<std::size_t>(row) * workWidth_ + col)];
    const float w = static_cast<float>(sourceWidth_), h = static_cast<float>(sourceHeight_);
    const float v = (1.0f - std::fabs(2.0f * m[1] / h - 1.0f)) * (1.0f - std::fabs(2.0f * m[0] / w - 1.0f));
    return v * falloff;
}

// f(col, row, front, left) for every pixel of the four corners in rows first..last-1, where two
// cameras meet.
template <class F>
void TopView::forEachCornerPixel(int first, int last, F f) const {
    const VehicleRect& k = rect_;
    for (int row = first; row < last; ++row) {
        const bool front = row < k.y0, rear = row >= k.y1;
        if (!front && !rear) continue;
        for (int col = 0; col < workWidth_; ++col) {
            const bool left = col < k.x0, right = col >= k.x1;
            if (left || right) f(col, row, front, left);
        }
    }
}

void TopView::blendAuto(int first, int last) {
    writeBandsAndSides(first, last);
    forEachCornerPixel(first, last, [&](int col, int row, bool front, bool left) {
        const float wF = weight(kFront, col, row), wL = weight(kLeft, col, row);
        const float wR = weight(kRight, col, row), wB = weight(kRear, col, row);
        const float s = wF + wL + wR + wB + kInv255;
        const float share = (left ? wL : wR) * 255.0f / s;
        cornerCode(code(col, row), front, left, shareByte(share));
    });
}

void TopView::blendFov(int first, int last) {
    writeBandsAndSides(first, last);
    const VehicleRect& k = rect_;
    const float tF = std::tan((90.0f - frontFov_ / 2.0f) * kDegToRadCoarse);
    const float tR = std::tan((90.0f - rearFov_ / 2.0f) * kDegToRadCoarse);
    forEachCornerPixel(first, last, [&](int col, int row, bool front, bool left) {
        const float halfFov = (front ? frontFov_ : rearFov_) / 2.0f;
        const Corner corner = {static_cast<float>(left ? k.x0 : k.x1), static_cast<float>(front ? k.y0 : k.y1)};
        uint8_t share = 255;
        if (insideWedge(front, left, col, row, corner, tF, tR)) {
            const float dx = static_cast<float>(col) - corner.x, dy = static_cast<float>(row) - corner.y;
            const float d = std::sqrt(dx * dx + dy * dy);
            const float alpha = std::acos(std::fabs(static_cast<float>(row) - corner.y) / (d + kInv255));
            const float s = (front && left) ? (alpha + kInv255) * 255.0f / (halfFov * kDegToRadCoarse)
                                            : alpha * 255.0f / (halfFov * kDegToRadCoarse + kInv255);
            share = s < 1.0f ? 1 : s > 254.0f ? 254 : static_cast<uint8_t>(s);
        }
        cornerCode(code(col, row), front, left, share);
    });
}

// The wedges of the seam-line modes; the seams themselves are drawn over them afterwards.
void TopView::blendLines(bool pure, int first, int last) {
    writeBandsAndSides(first, last);
    const VehicleRect& k = rect_;
    const float tF = std::tan((90.0f - frontFov_ / 2.0f) * kDegToRadCoarse);
    const float tR = std::tan((90.0f - rearFov_ / 2.0f) * kDegToRadCoarse);
    const int x0m = k.x0 - lineWidth_ + 1, y1m = k.y1 - lineWidth_ + 1;
    forEachCornerPixel(first, last, [&](int col, int row, bool front, bool left) {
        const Corner corner = {static_cast<float>(left ? x0m : k.x1), static_cast<float>(front ? k.y0 : y1m)};
        const bool inside = insideWedge(front, left, col, row, corner, tF, tR);
        uint8_t* p = code(col, row);
        if (!pure) {
            cornerCode(p, front, left, inside ? 1 : 255);
        } else if (inside) {
            putCode(p, front ? 0 : 255, front ? 0 : 255, 0);  // the front or rear camera
        } else {
            putCode(p, left ? 255 : 0, left ? 0 : 255, 0);  // the side camera
        }
    });
}

void TopView::drawSeams(bool pure) {
    const VehicleRect& k = rect_;
    const float tF = std::tan((90.0f - frontFov_ / 2.0f) * kDegToRadCoarse);
    const float tR = std::tan((90.0f - rearFov_ / 2.0f) * kDegToRadCoarse);
    const int x0m = k.x0 - lineWidth_ + 1, y1m = k.y1 - lineWidth_ + 1;
    const int W = workWidth_, H = workHeight_;
    const int xr = pure ? k.x1 : k.x1 - 1;
    std::vector<uint8_t*> rows(H);
    for (int r = 0; r < H; ++r) rows[r] = code(0, r);
    ImageBuffer image = {32, 3, 0, W, H, W * 3, W * 3 * H, rows.data()};
    auto line = [&](int xa, int ya, float xb, float yb) {
        mzDrawLineBresenham(&image, xa, ya, toInt(xb), toInt(yb), colour_, lineWidth_);
    };
    const float fx0 = static_cast<float>(x0m), fy0 = static_cast<float>(k.y0);
    const float fx1 = static_cast<float>(k.x1), fy1 = static_cast<float>(y1m);
    const float fW = static_cast<float>(W - 1), fH = static_cast<float>(H - 1);

    float yEnd = fy0 - fx0 * tF;
    if (yEnd < 0.0f) line(x0m, k.y0, (fx0 * tF - fy0) / tF, 0.0f);
    else line(x0m, k.y0, 0.0f, yEnd);

    yEnd = fy0 - tF * (fW - fx1);
    if (yEnd < 0.0f) line(xr, k.y0, fx1 + fy0 / tF, 0.0f);
    else line(xr, k.y0, fW, yEnd);

    yEnd = fy1 + tR * (fW - fx1);
    if (yEnd >= static_cast<float>(H)) line(xr, y1m, (fH - fy1 + fx1 * tR) / tR, fH);
    else line(xr, y1m, fW, yEnd);

    yEnd = fy1 + fx0 * tR;
    if (yEnd >= static_cast<float>(H)) line(x0m, y1m, fx0 - (fH - fy1) / tR, fH);
    else line(x0m, y1m, 0.0f, yEnd);
}

void TopView::mergeVehicle() {
    for (std::size_t i = 0; i < vehicle_.size(); i += 3)
        if (opaque(&vehicle_[i])) std::memcpy(&blend_[i], &vehicle_[i], 3);
}

// A display-orientation picture (padded BGR rows) turned into working orientation.
ImageBufferPtr TopView::workingPicture(int width, int height, const uint8_t* image) const {
    const int ww = rotated_ ? height : width, wh = rotated_ ? width : height;
    ImageBufferPtr picture(createImageBuffer(3, ww, wh));
    if (!picture) return nullptr;
    const std::size_t stride = rowBytes(width);
    for (int b = 0; b < wh; ++b) {
        uint8_t* d = picture->rows[b];
        if (!rotated_) {
            std::memcpy(d, image + stride * b, static_cast<std::size_t>(width) * 3);
            continue;
        }
        // working(a, b) = display(column b, row height - 1 - a)
        for (int a = 0; a < ww; ++a) std::memcpy(d + 3 * a, image + stride * (height - 1 - a) + 3 * b, 3);
    }
    return picture;
}

}  // namespace mz
