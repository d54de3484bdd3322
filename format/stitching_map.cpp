#include "format/stitching_map.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace mz::format {

namespace {

constexpr uint32_t kFullTopView = 0x8000;
constexpr double kDegPerRad = 180.0 / 3.141592653589793238462643383279502884;

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
Bgr vehiclePixel(double s, double t, Bgr body, Bgr roof) {
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
    if (t >= 0.37 && t <= 0.72 && as < 0.37) return roof;
    return body;
}

uint8_t lighter(uint8_t v, int by) { return static_cast<uint8_t>(std::min(v + by, 254)); }

}  // namespace

StitchingLayout stitchingLayout(const ConfigMultiview& view) {
    StitchingLayout l;
    l.width = view.width;
    l.height = view.height;
    l.centreX = view.centreX;
    l.centreY = view.centreY;
    l.mmPerPixel = view.mmPerPixel;
    l.rotated = (view.flags & kFullTopView) != 0;
    l.vehicleWidth = view.vehicleWidth;
    l.vehicleLength = view.vehicleLength;
    return l;
}

std::string stitchingStyleProblem(const StitchingStyle& style) {
    if (!std::isfinite(style.seamAngle) || !std::isfinite(style.blendWidth) || style.blendWidth < 0)
        return "blendWidth must be a number of degrees, 0 or more";
    const double lo = style.seamAngle - style.blendWidth / 2, hi = style.seamAngle + style.blendWidth / 2;
    if (lo < 0 || hi > 90) {
        return "the blend wedge seamAngle +- blendWidth / 2 must lie within 0 to 90 degrees off the driving axis";
    }
    for (uint8_t c : style.vehicleColour) {
        if (c < 1 || c > 254) return "vehicleColour's bytes must be 1 to 254 (0 and 255 are the cameras' key values)";
    }
    return {};
}

VehicleRect vehicleRect(const StitchingLayout& view) {
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

Bitmap drawStitchingMap(const StitchingLayout& view, const StitchingStyle& style) {
    if (const std::string problem = stitchingStyleProblem(style); !problem.empty())
        throw std::invalid_argument(problem);
    const int wk = view.rotated ? view.height : view.width;
    const int hk = view.rotated ? view.width : view.height;
    const VehicleRect v = vehicleRect(view);
    const double from = style.seamAngle - style.blendWidth / 2;
    // Share of the side camera in a corner, from the angle off the driving axis.
    auto share = [&](double across, double along) {
        const double a = std::atan2(across, along) * kDegPerRad;
        const double f = style.blendWidth > 0 ? std::clamp((a - from) / style.blendWidth, 0.0, 1.0)
                                              : (a < style.seamAngle ? 0.0 : 1.0);
        return static_cast<uint8_t>(1 + std::lround(f * 253));
    };
    const Bgr body{style.vehicleColour[2], style.vehicleColour[1], style.vehicleColour[0]};
    const Bgr roof{lighter(body.b, 20), lighter(body.g, 14), lighter(body.r, 10)};
    Bitmap working;
    working.width = wk;
    working.height = hk;
    working.bitsPerPixel = 24;
    working.pixels.assign(static_cast<size_t>(working.stride()) * hk, 0);
    for (int row = 0; row < hk; ++row) {
        uint8_t* out = working.pixels.data() + static_cast<size_t>(working.stride()) * row;
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
                code = vehiclePixel((px - v.x0) / (v.x1 - v.x0), (py - v.y0) / (v.y1 - v.y0), body, roof);
            }
            out[3 * col] = code.b;
            out[3 * col + 1] = code.g;
            out[3 * col + 2] = code.r;
        }
    }
    if (!view.rotated) return working;
    // Display orientation of a full top view: display (x, y) shows working (wk - 1 - y, x).
    Bitmap display;
    display.width = view.width;
    display.height = view.height;
    display.bitsPerPixel = 24;
    display.pixels.assign(static_cast<size_t>(display.stride()) * view.height, 0);
    for (int y = 0; y < view.height; ++y) {
        uint8_t* out = display.pixels.data() + static_cast<size_t>(display.stride()) * y;
        for (int x = 0; x < view.width; ++x) {
            const uint8_t* in = working.row(x) + 3 * (wk - 1 - y);
            std::copy(in, in + 3, out + 3 * x);
        }
    }
    return display;
}

}  // namespace mz::format
