#include "sim/car_mask.h"

#include <algorithm>
#include <cmath>

#include "geometry/angles.h"

namespace mz::sim {

namespace {

int roundHalfAway(float v) { return static_cast<int>(std::lround(v)); }

// Raised to a multiple of 4 the way the stitched view does it (the remainder keeps the value's sign).
int upToFour(int v) {
    const int r = v % 4;
    return r == 0 ? v : v + 4 - r;
}

struct Bgr {
    uint8_t b, g, r;
};

// The vehicle seen from above, front up; s across (0 left, 1 right), t along (0 front, 1 rear).
// Every colour keeps its bytes within 1..254 so the stitcher draws it instead of reading a
// camera code.
Bgr vehiclePixel(double s, double t) {
    const double as = std::abs(s - 0.5);
    const bool wheelRow = (t > 0.13 && t < 0.27) || (t > 0.73 && t < 0.87);
    if (wheelRow && as > 0.41 && as < 0.49) return {22, 22, 22};
    if (t > 0.27 && t < 0.31 && as > 0.45 && as < 0.5) return {120, 52, 26};  // mirrors
    const double ex = as / 0.45, ey = std::abs(t - 0.5) / 0.485;
    if (std::pow(ex, 6) + std::pow(ey, 6) >= 1) return {46, 46, 46};
    if (t < 0.075 && as > 0.14 && as < 0.36) return {190, 232, 244};                // headlights
    if (t > 0.93 && as > 0.14 && as < 0.36) return {36, 36, 196};                   // tail lights
    if (t > 0.25 && t < 0.37 && as < 0.38 - (0.37 - t) * 0.6) return {78, 58, 44};  // windscreen
    if (t > 0.72 && t < 0.81 && as < 0.34 - (t - 0.72) * 0.6) return {78, 58, 44};  // rear window
    if (t >= 0.37 && t <= 0.72 && as < 0.37) return {156, 74, 40};                  // roof
    return {136, 60, 30};                                                           // body
}

}  // namespace

VehicleRect vehicleRect(const TopViewLayout& view) {
    const int wk = view.rotated ? view.height : view.width;
    const int hk = view.rotated ? view.width : view.height;
    const float ox = view.rotated ? static_cast<float>(view.height - view.centreY) : static_cast<float>(view.centreX);
    const float oy = view.rotated ? static_cast<float>(view.centreX) : static_cast<float>(view.centreY);
    const float mm = static_cast<float>(view.mmPerPixel);
    const int carW = upToFour(roundHalfAway(static_cast<float>(view.vehicleWidth) / mm));
    const int carL = upToFour(roundHalfAway(static_cast<float>(view.vehicleLength) / mm));
    const int left = upToFour(roundHalfAway(ox - static_cast<float>(carW / 2)));
    const int top = upToFour(roundHalfAway(oy - static_cast<float>(carL / 2)));
    return {std::max(left, 0), std::max(top, 0), std::min(left + carW, wk), std::min(top + carL, hk)};
}

Picture makeCarMask(const TopViewLayout& view) {
    const int wk = view.rotated ? view.height : view.width;
    const int hk = view.rotated ? view.width : view.height;
    const VehicleRect v = vehicleRect(view);
    const double deg = kRadToDeg<double>;
    // Share of the side camera in a corner, from the angle off the driving axis.
    auto share = [&](double across, double along) {
        const double a = std::atan2(across, along) * deg;
        const double f = std::clamp((a - 35.0) / 20.0, 0.0, 1.0);
        return static_cast<uint8_t>(1 + std::lround(f * 253));
    };
    Picture working(wk, hk);
    for (int row = 0; row < hk; ++row) {
        uint8_t* out = working.row(row);
        for (int col = 0; col < wk; ++col) {
            const double px = col + 0.5, py = row + 0.5;
            Bgr code{0, 0, 0};
            const bool front = row < v.y0, rear = row >= v.y1;
            const bool left = col < v.x0, right = col >= v.x1;
            if (front || rear) {
                const uint8_t end = front ? 0 : 255;
                const double along = front ? v.y0 - py : py - v.y1;
                if (left) {
                    code = {end, 0, share(v.x0 - px, along)};
                } else if (right) {
                    code = {end, 255, share(px - v.x1, along)};
                } else {
                    code = {end, end, 0};
                }
            } else if (left) {
                code = {255, 0, 0};
            } else if (right) {
                code = {0, 255, 0};
            } else {
                code = vehiclePixel((px - v.x0) / (v.x1 - v.x0), (py - v.y0) / (v.y1 - v.y0));
            }
            out[3 * col] = code.b;
            out[3 * col + 1] = code.g;
            out[3 * col + 2] = code.r;
        }
    }
    if (!view.rotated) return working;
    // Display orientation of a full top view: display (x, y) shows working (wk - 1 - y, x).
    Picture display(view.width, view.height);
    for (int y = 0; y < view.height; ++y) {
        uint8_t* out = display.row(y);
        for (int x = 0; x < view.width; ++x) {
            const uint8_t* in = working.row(x) + 3 * (wk - 1 - y);
            std::copy(in, in + 3, out + 3 * x);
        }
    }
    return display;
}

}  // namespace mz::sim
