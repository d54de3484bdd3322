// Top-view parameters: the nine regions into which the vehicle rectangle divides the top view,
// in display orientation and at half resolution.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "geometry/image.h"
#include "mz/mzview.h"
#include "view/vehicle_rect.h"

namespace mz {

int roundOrZero(float v) {
    int out = 0;
    return roundToInt(v, &out) ? out : 0;
}

int raiseToMultipleOf4(int v) {
    const int r = v % 4;
    return r == 0 ? v : v + (4 - r);
}

CarSize carSize(const MultiviewParam& view) {
    CarSize size;
    size.width = raiseToMultipleOf4(roundOrZero(static_cast<float>(view.vehicleWidth) / view.mmPerPixel));
    size.length = raiseToMultipleOf4(roundOrZero(static_cast<float>(view.vehicleLength) / view.mmPerPixel));
    return size;
}

VehicleRect vehicleRect(const MultiviewParam& view, int workWidth, int workHeight, float ox, float oy) {
    const CarSize car = carSize(view);
    const int left = raiseToMultipleOf4(roundOrZero(ox - static_cast<float>(car.width / 2)));
    const int top = raiseToMultipleOf4(roundOrZero(oy - static_cast<float>(car.length / 2)));
    VehicleRect r;
    r.x0 = std::max(left, 0);
    r.x1 = std::min(left + car.width, workWidth);
    r.y0 = std::max(top, 0);
    r.y1 = std::min(top + car.length, workHeight);
    return r;
}

namespace {

constexpr int kParamBytes = 72;

struct Rect {
    int x, y, w, h;
};

void writeRects(const Rect (&rects)[9], void* out) {
    auto* p = static_cast<uint8_t*>(out);
    for (const Rect& r : rects)
        for (const int v : {r.x, r.y, r.w, r.h}) {
            const uint16_t half = static_cast<uint16_t>(static_cast<uint16_t>(v) >> 1);
            *p++ = static_cast<uint8_t>(half);
            *p++ = static_cast<uint8_t>(half >> 8);
        }
}

// L, R clamped to [0, W]; T, B to [0, H].
struct Bounds {
    int l, r, t, b, w, h;
    Bounds(int left, int right, int top, int bottom, int width, int height)
        : l(std::clamp(left, 0, std::max(width, 0))), r(std::clamp(right, 0, std::max(width, 0))),
          t(std::clamp(top, 0, std::max(height, 0))), b(std::clamp(bottom, 0, std::max(height, 0))), w(width),
          h(height) {}
};

void setLength(int* length) {
    if (length != nullptr) *length = kParamBytes;
}

}  // namespace
}  // namespace mz

extern "C" {

MZ_API void mzMakeTopviewParam(MultiviewParam* view, void* out, int* length) {
    using mz::Rect;
    mz::setLength(length);
    if (out == nullptr) return;
    if (view == nullptr) {
        std::memset(out, 0, mz::kParamBytes);
        return;
    }
    const mz::CarSize car = mz::carSize(*view);
    const int left = mz::raiseToMultipleOf4(mz::roundOrZero(view->centreX - static_cast<float>(car.width / 2)));
    const int top = mz::raiseToMultipleOf4(mz::roundOrZero(view->centreY - static_cast<float>(car.length / 2)));
    const mz::Bounds k(left, left + car.width, top, top + car.length, view->width, view->height);
    const Rect rects[9] = {
        {k.l, 0, k.r - k.l, k.t},          // front
        {0, 0, k.l, k.t},                  // front-left corner
        {0, k.t, k.l, k.b - k.t},          // left side
        {0, k.b, k.l, k.h - k.b},          // rear-left corner
        {k.l, k.b, k.r - k.l, k.h - k.b},  // rear
        {k.r, k.b, k.w - k.r, k.h - k.b},  // rear-right corner
        {k.r, k.t, k.w - k.r, k.b - k.t},  // right side
        {k.r, 0, k.w - k.r, k.t},          // front-right corner
        {k.l, k.t, k.r - k.l, k.b - k.t},  // vehicle
    };
    mz::writeRects(rects, out);
}

MZ_API void mzMakeFullTopviewParam(MultiviewParam* view, void* out, int* length) {
    using mz::Rect;
    mz::setLength(length);
    if (out == nullptr) return;
    if (view == nullptr) {
        std::memset(out, 0, mz::kParamBytes);
        return;
    }
    // The vehicle lies with its front to the left: its length runs across the display.
    const mz::CarSize car = mz::carSize(*view);
    const int left = mz::raiseToMultipleOf4(mz::roundOrZero(view->centreX - static_cast<float>(car.length / 2)));
    const int bottom = mz::raiseToMultipleOf4(mz::roundOrZero(view->centreY + static_cast<float>(car.width / 2)));
    const mz::Bounds k(left, left + car.length, bottom - car.width, bottom, view->width, view->height);
    const Rect rects[9] = {
        {0, k.t, k.l, k.b - k.t},          // front
        {0, k.b, k.l, k.h - k.b},          // front-left corner
        {k.l, k.b, k.r - k.l, k.h - k.b},  // left side
        {k.r, k.b, k.w - k.r, k.h - k.b},  // rear-left corner
        {k.r, k.t, k.w - k.r, k.b - k.t},  // rear
        {k.r, 0, k.w - k.r, k.t},          // rear-right corner
        {k.l, 0, k.r - k.l, k.t},          // right side
        {0, 0, k.l, k.t},                  // front-right corner
        {k.l, k.t, k.r - k.l, k.b - k.t},  // vehicle
    };
    mz::writeRects(rects, out);
}

}  // extern "C"
