// Corner detection: each target's search rectangle is undistorted onto a perspective canvas,
// where the triangle's sides are straight and can be fitted as lines; the corners go back into
// the distorted picture through the forward lens polynomial.
#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "geometry/lens_model.h"
#include "mz/mzview.h"
#include "view/detection_rects.h"
#include "view/target_shapes.h"

namespace mz::detect {
namespace {

constexpr int kCanvasWidth = 3000;
constexpr int kCanvasHeight = 1800;
constexpr float kCanvasCentreX = 1500.0f;
constexpr float kCanvasCentreY = 900.0f;
constexpr Point2F kMissing = {-1.0f, -1.0f};

struct Window {
    int x0 = 0, y0 = 0, width = 0, height = 0;
};

// Distorted pixel of a canvas point (whole canvas coordinates).
Point2F canvasToPicture(const CameraParam& cam, float canvasX, float canvasY) {
    Point2F pixel;
    lens::pixelOfRay(cam, (canvasX - kCanvasCentreX) / cam.fx, (canvasY - kCanvasCentreY) / cam.fy, pixel.x, pixel.y);
    return pixel;
}

// Rounds half away from zero and clamps to 0..limit - 1; false only for a value that is not a
// number.
bool canvasIndex(float v, int limit, int& out) {
    if (std::isnan(v)) return false;
    const float r = std::round(v);
    out = r <= 0.0f ? 0 : r >= static_cast<float>(limit - 1) ? limit - 1 : static_cast<int>(r);
    return true;
}

bool canvasWindow(const CameraParam& cam, const SearchRect& rect, Window& window) {
    int x0 = kCanvasWidth, y0 = kCanvasHeight, x1 = -1, y1 = -1;
    for (const int col : {rect.x, rect.x + rect.width - 1}) {
        for (const int row : {rect.y, rect.y + rect.height - 1}) {
            float u, v, rho;
            const float theta = lens::incidenceAngle(cam, static_cast<float>(col), static_cast<float>(row), u, v, rho);
            float cx = kCanvasCentreX, cy = kCanvasCentreY;
            if (rho != 0.0f) {
                const float t = std::tan(theta);
                cx = cam.fx * t * u / rho + kCanvasCentreX;
                cy = cam.fy * t * v / rho + kCanvasCentreY;
            }
            int X, Y;
            if (!canvasIndex(cx, kCanvasWidth, X) || !canvasIndex(cy, kCanvasHeight, Y)) return false;
            x0 = std::min(x0, X);
            x1 = std::max(x1, X);
            y0 = std::min(y0, Y);
            y1 = std::max(y1, Y);
        }
    }
    window = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    return true;
}

// The window's pixels sampled from the grey picture; 0 where the source falls outside it.
Plane undistortWindow(const CameraParam& cam, const Plane& grey, const Window& win) {
    Plane out(win.width, win.height);
    const float maxX = static_cast<float>(grey.width - 1), maxY = static_cast<float>(grey.height - 1);
    for (int row = 0; row < win.height; ++row) {
        for (int col = 0; col < win.width; ++col) {
            const Point2F s = canvasToPicture(cam, static_cast<float>(win.x0 + col), static_cast<float>(win.y0 + row));
            if (!(s.x >= 0.0f && s.y >= 0.0f && s.x <= maxX && s.y <= maxY)) continue;
            const int ix = static_cast<int>(std::round(s.x)), iy = static_cast<int>(std::round(s.y));
            const float ex = s.x - static_cast<float>(ix), ey = s.y - static_cast<float>(iy);
            // The neighbour right of and below the last column and row repeats the edge pixel.
            const int ix1 = std::min(ix + 1, grey.width - 1), iy1 = std::min(iy + 1, grey.height - 1);
            const float v = (1.0f - ey) * ((1.0f - ex) * grey.at(ix, iy) + ex * grey.at(ix1, iy)) +
                            ey * ((1.0f - ex) * grey.at(ix, iy1) + ex * grey.at(ix1, iy1));
            // The offsets may be negative, so v can leave 0..255 slightly; a byte must not wrap.
            const float level = std::floor(v) + 1.0f;
            out.at(col, row) = static_cast<uint8_t>(level < 0.0f ? 0.0f : level > 255.0f ? 255.0f : level);
        }
    }
    return out;
}

// Light where a pixel is bright outright, or moderately bright and above its neighbourhood's
// mean (a square of about 0.6 of the window's shorter side, clipped to the window).
void binarise(Plane& win) {
    const int w = win.width, h = win.height;
    std::vector<uint64_t> sum(static_cast<size_t>(w + 1) * (h + 1), 0);
    auto s = [&](int x, int y) -> uint64_t& { return sum[static_cast<size_t>(y) * (w + 1) + x]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s(x + 1, y + 1) = win.at(x, y) + s(x, y + 1) + s(x + 1, y) - s(x, y);
    const int b = static_cast<int>(0.3f * static_cast<float>(std::min(w, h)));
    for (int y = 0; y < h; ++y) {
        const int ya = std::max(0, y - b), yb = std::min(h - 1, y + b);
        for (int x = 0; x < w; ++x) {
            const int xa = std::max(0, x - b), xb = std::min(w - 1, x + b);
            const uint64_t total = s(xb + 1, yb + 1) - s(xa, yb + 1) - s(xb + 1, ya) + s(xa, ya);
            const float mean = static_cast<float>(total) / static_cast<float>((xb - xa + 1) * (yb - ya + 1));
            const uint8_t v = win.at(x, y);
            win.at(x, y) = (v > 140 || (v >= 70 && static_cast<float>(v) > mean)) ? 255 : 0;
        }
    }
}

// The largest dark region (the first in scan order among equals) dark, everything else light.
bool keepLargest(Plane& binary) {
    int32_t maxLabel = 0;
    const std::vector<int32_t> labels = labelDark(binary, &maxLabel);
    if (maxLabel == 0) return false;
    std::vector<int32_t> count(static_cast<size_t>(maxLabel) + 1, 0);
    for (const int32_t l : labels)
        if (l != 0) ++count[static_cast<size_t>(l)];
    int32_t winner = 1;
    for (int32_t l = 2; l <= maxLabel; ++l)
        if (count[static_cast<size_t>(l)] > count[static_cast<size_t>(winner)]) winner = l;
    for (size_t i = 0; i < labels.size(); ++i) binary.px[i] = labels[i] == winner ? 0 : 255;
    return true;
}

bool cornersInPicture(const CameraParam& cam, const Window& win, const Plane& binary, Point2F* out) {
    std::array<Point2F, 3> corners;
    if (!triangleCorners(outline(binary), corners)) return false;
    for (int i = 0; i < 3; ++i) {
        out[i] =
            canvasToPicture(cam, static_cast<float>(win.x0) + corners[i].x, static_cast<float>(win.y0) + corners[i].y);
        if (!std::isfinite(out[i].x) || !std::isfinite(out[i].y)) return false;
    }
    return true;
}

// Outer corners into outer[0..2] and the hole's corners into inner[0..2]; false (and both left
// missing) when the target is not found.
bool detectTarget(const CameraParam& cam, const Plane& grey, const SearchRect& rect, Point2F* outer, Point2F* inner) {
    for (int i = 0; i < 3; ++i) outer[i] = inner[i] = kMissing;
    Window win;
    if (!canvasWindow(cam, rect, win)) return false;
    Plane region = undistortWindow(cam, grey, win);
    binarise(region);
    dropEdgeRegions(region);
    if (!keepLargest(region)) return false;
    Point2F found[3];
    if (!cornersInPicture(cam, win, region, found)) return false;
    Plane hole(region.width, region.height);
    for (size_t i = 0; i < hole.px.size(); ++i) hole.px[i] = region.px[i] == 0 ? 255 : 0;
    dropEdgeRegions(hole);
    // Light specks enclosed by the band (dirt, a glint, a pixel of floor pinched off where the
    // outer boundary is jagged) stay dark here too; one of them taken for a corner would throw
    // the hole's lines off by many pixels. The hole is the largest of what stays.
    if (!keepLargest(hole)) return false;
    Point2F holeCorners[3];
    if (!cornersInPicture(cam, win, hole, holeCorners)) return false;
    for (int i = 0; i < 3; ++i) {
        outer[i] = found[i];
        inner[i] = holeCorners[i];
    }
    return true;
}

bool lensUsable(const CameraParam& cam) {
    const float values[] = {cam.fx, cam.fy, cam.cx, cam.cy, cam.k1, cam.k2, cam.k3, cam.k4, cam.k5,
                            cam.c0, cam.c1, cam.c2, cam.c3, cam.c4, cam.c5, cam.c6, cam.c7, cam.c8};
    for (const float v : values)
        if (!std::isfinite(v)) return false;
    return cam.fx != 0.0f && cam.fy != 0.0f;
}

}  // namespace
}  // namespace mz::detect

int mzDetectCorner(const uint8_t* picture, CameraParam* cam, int layoutCode) {
    using namespace mz::detect;
    if (picture == nullptr || cam == nullptr || cam->imagePoints == nullptr || cam->worldPoints == nullptr) return -5;
    if (!pictureSizeUsable(cam->width, cam->height) || !lensUsable(*cam)) return -1;
    try {
        const Plane grey = toGrey(picture, cam->width, cam->height);
        for (int i = 0; i < MZ_DETECT_POINT_CAPACITY; ++i) cam->imagePoints[i] = cam->worldPoints[i] = {0.0f, 0.0f};
        cam->pointCount = 0;
        int result = 0;
        for (int side = 0; side < 2; ++side) {
            SearchRect rect{};
            if (!cornerSearchRect(layoutCode, side, rect)) {
                std::printf("Invalid mode\n");
                result = -1;
            }
            Point2F* outer = cam->imagePoints + 3 * side;
            Point2F* inner = cam->imagePoints + 6 + 3 * side;
            if (!clipToPicture(rect, cam->width, cam->height) || !detectTarget(*cam, grey, rect, outer, inner)) {
                for (int i = 0; i < 3; ++i) outer[i] = inner[i] = {-1.0f, -1.0f};
                result = -1;
            }
        }
        cam->pointCount = 12;
        return result;
    } catch (const std::exception&) {
        return -1;
    }
}
