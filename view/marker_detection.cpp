// Marker detection straight in the distorted picture: a global threshold per search rectangle and
// a shape test that prefers the ring-shaped dark region (the frame around the marker's light hole).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "geometry/angles.h"
#include "mz/mzview.h"
#include "view/detection_rects.h"
#include "view/marker_detection.h"
#include "view/target_shapes.h"

namespace mz::detect {
namespace {

constexpr int kKernel[5][5] = {
    {29, 133, 219, 133, 29},   {133, 596, 983, 596, 133}, {219, 983, 1621, 983, 219},
    {133, 596, 983, 596, 133}, {29, 133, 219, 133, 29},
};
constexpr int kKernelDivisor = 10000;
constexpr int kMinRegionPixels = 200;  // regions of this size or smaller are noise
constexpr float kOtsuMinShare = 1.1920929e-7f;
constexpr float kOtsuMaxShare = 0.9999999f;

struct Region {
    int32_t pixels = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
    int up = 0, down = 0, leftward = 0, rightward = 0;  // crossings of the middle column and row
};

Plane crop(const Plane& grey, const SearchRect& r) {
    Plane out(r.width, r.height);
    for (int y = 0; y < r.height; ++y)
        std::copy_n(&grey.px[static_cast<size_t>(r.y + y) * grey.width + r.x], r.width,
                    &out.px[static_cast<size_t>(y) * r.width]);
    return out;
}

// The outer two rows and columns keep their values; five source rows are kept at a time so the
// smoothing can run in place.
void smooth(Plane& img) {
    const int w = img.width, h = img.height;
    std::vector<uint8_t> ring(static_cast<size_t>(5) * w);
    auto src = [&](int y) { return &ring[static_cast<size_t>(y % 5) * w]; };
    for (int y = 0; y < std::min(h, 4); ++y) std::copy_n(&img.px[static_cast<size_t>(y) * w], w, src(y));
    for (int y = 2; y + 2 < h; ++y) {
        std::copy_n(&img.px[static_cast<size_t>(y + 2) * w], w, src(y + 2));
        for (int x = 2; x + 2 < w; ++x) {
            int sum = 0;
            for (int ky = 0; ky < 5; ++ky) {
                const uint8_t* row = src(y - 2 + ky);
                for (int kx = 0; kx < 5; ++kx) sum += kKernel[ky][kx] * row[x - 2 + kx];
            }
            img.at(x, y) = static_cast<uint8_t>(sum / kKernelDivisor);
        }
    }
}

int otsuLevel(const Plane& img) {
    std::array<uint32_t, 256> hist{};
    for (const uint8_t v : img.px) ++hist[v];
    const float total = static_cast<float>(img.px.size());
    float sumAll = 0.0f;
    for (int t = 0; t < 256; ++t) sumAll += static_cast<float>(t) * static_cast<float>(hist[t]);
    float count0 = 0.0f, sum0 = 0.0f, best = -1.0f;
    int level = 0;
    for (int t = 0; t < 256; ++t) {
        count0 += static_cast<float>(hist[t]);
        sum0 += static_cast<float>(t) * static_cast<float>(hist[t]);
        const float w0 = count0 / total, w1 = 1.0f - w0;
        if (w0 < kOtsuMinShare || w1 < kOtsuMinShare || w0 > kOtsuMaxShare || w1 > kOtsuMaxShare) continue;
        const float mu0 = sum0 / count0, mu1 = (sumAll - sum0) / (total - count0);
        const float variance = w0 * w1 * (mu0 - mu1) * (mu0 - mu1);
        if (variance > best) {
            best = variance;
            level = t;
        }
    }
    return level;
}

bool findMarker(const Plane& grey, const SearchRect& rect, std::array<Point2F, 3>& corners) {
    if (rect.width < 5 || rect.height < 5) return false;
    Plane img = crop(grey, rect);
    smooth(img);
    const int level = otsuLevel(img);
    for (uint8_t& v : img.px) v = v > level ? 255 : 0;
    dropEdgeRegions(img);
    if (!keepMarkerRegion(img) || !triangleCorners(outline(img), corners)) return false;
    for (Point2F& c : corners) {
        c.x += static_cast<float>(rect.x);
        c.y += static_cast<float>(rect.y);
    }
    return true;
}

// Writes the side's three image points in the order the calibration expects and the marker's
// world points in its own frame.
void orderMarker(const std::array<Point2F, 3>& corners, int layoutCode, int side, float length, Point2F* image,
                 Point2F* world) {
    const bool frontRear = layoutCode == 0 || layoutCode == 1;
    std::array<Point2F, 3> s = corners;
    std::stable_sort(s.begin(), s.end(),
                     [frontRear](const Point2F& a, const Point2F& b) { return frontRear ? a.y < b.y : a.y > b.y; });
    const Point2F m = {(s[0].x + s[1].x + s[2].x) / 3.0f, (s[0].y + s[1].y + s[2].y) / 3.0f};
    auto turn = [](float d) { return d < 0.0f ? d + 360.0f : d; };
    const float d0 = directionValue(m.x, m.y, s[0].x, s[0].y);
    const bool near2 =
        turn(directionValue(m.x, m.y, s[1].x, s[1].y) - d0) <= turn(directionValue(m.x, m.y, s[2].x, s[2].y) - d0);
    const float h = -(std::sqrt(3.0f) / 2.0f) * length;
    const Point2F a = {0.0f, 0.0f}, apex = {length / 2.0f, h}, b = {length, 0.0f};
    std::array<Point2F, 3> img, wld;
    if (!frontRear) {
        img = {s[0], near2 ? s[2] : s[1], near2 ? s[1] : s[2]};
        wld = side == 0 ? std::array<Point2F, 3>{a, apex, b} : std::array<Point2F, 3>{b, a, apex};
    } else if (side == 0) {
        img = {near2 ? s[2] : s[1], near2 ? s[1] : s[2], s[0]};
        wld = {b, a, apex};
    } else {
        img = {near2 ? s[1] : s[2], s[0], near2 ? s[2] : s[1]};
        wld = {a, apex, b};
    }
    for (int i = 0; i < 3; ++i) {
        image[i] = img[i];
        world[i] = wld[i];
    }
}

}  // namespace

bool keepMarkerRegion(Plane& binary) {
    int32_t maxLabel = 0;
    std::vector<int32_t> labels = labelDark(binary, &maxLabel);
    if (maxLabel == 0) return false;
    const int w = binary.width;
    std::vector<Region> regions(static_cast<size_t>(maxLabel) + 1);
    for (int y = 0; y < binary.height; ++y) {
        for (int x = 0; x < w; ++x) {
            const int32_t l = labels[static_cast<size_t>(y) * w + x];
            if (l == 0) continue;
            Region& r = regions[static_cast<size_t>(l)];
            if (r.pixels++ == 0) {
                r.left = r.right = x;
                r.top = r.bottom = y;
            }
            r.left = std::min(r.left, x);
            r.right = std::max(r.right, x);
            r.top = std::min(r.top, y);
            r.bottom = std::max(r.bottom, y);
        }
    }
    for (int32_t& l : labels)
        if (l != 0 && regions[static_cast<size_t>(l)].pixels <= kMinRegionPixels) l = 0;
    // Labelled pixels are never on the edge, so their four neighbours are in range.
    for (int y = 1; y + 1 < binary.height; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (labels[i] == 0) continue;
            Region& r = regions[static_cast<size_t>(labels[i])];
            if (x == (r.left + r.right) / 2) {
                if (labels[i - w] == 0) ++r.up;
                else if (labels[i + w] == 0) ++r.down;
            } else if (y == (r.top + r.bottom) / 2) {
                if (labels[i - 1] == 0) ++r.leftward;
                else if (labels[i + 1] == 0) ++r.rightward;
            }
        }
    }
    int32_t ring = 0, relaxed = 0;
    for (int32_t l = 1; l <= maxLabel; ++l) {
        const Region& r = regions[static_cast<size_t>(l)];
        if (r.pixels <= kMinRegionPixels) continue;
        const bool column = r.up == 2 && r.down == 2, row = r.leftward == 2 && r.rightward == 2;
        if (column && row && (ring == 0 || r.pixels > regions[static_cast<size_t>(ring)].pixels)) ring = l;
        if ((column || row) && (relaxed == 0 || r.pixels > regions[static_cast<size_t>(relaxed)].pixels)) relaxed = l;
    }
    const int32_t winner = ring != 0 ? ring : relaxed;
    for (size_t i = 0; i < labels.size(); ++i) binary.px[i] = (winner != 0 && labels[i] == winner) ? 0 : 255;
    return winner != 0;
}

float directionValue(float ax, float ay, float bx, float by) {
    const float dy = ay - by, dx = ax - bx;
    if (dy == 0.0f) return dx >= 0.0f ? 0.0f : 180.0f;
    if (dx == 0.0f) return dy < 0.0f ? 90.0f : 270.0f;
    const float a = std::atan(dy / dx) * kRadToDeg<float>;
    if (dy < 0.0f && dx > 0.0f) return -a;
    if (dy > 0.0f && dx > 0.0f) return 360.0f - a;
    if (dx < 0.0f) return 180.0f - a;
    return a;
}

}  // namespace mz::detect

int mzDetectMarker(const uint8_t* picture, CameraParam* cam, int layoutCode, const int32_t* rectangleList) {
    using namespace mz::detect;
    if (picture == nullptr || cam == nullptr || cam->imagePoints == nullptr || cam->worldPoints == nullptr ||
        !pictureSizeUsable(cam->width, cam->height))
        return 0;
    Plane grey;
    try {
        grey = toGrey(picture, cam->width, cam->height);
    } catch (const std::exception&) {
        return 0;
    }
    int result = 1;
    for (int side = 0; side < 2; ++side) {
        SearchRect rect{};
        if (rectangleList != nullptr) {
            const int32_t* r = rectangleList + 4 * side;
            rect = {r[0], r[1], r[2], r[3]};
        } else if (!markerSearchRect(layoutCode, side, rect)) {
            std::printf("Invalid mode\n");
            result = -1;
            continue;
        }
        Point2F* image = cam->imagePoints + 3 * side;
        Point2F* world = cam->worldPoints + 3 * side;
        std::array<Point2F, 3> corners;
        bool found = false;
        try {
            found = clipToPicture(rect, cam->width, cam->height) && findMarker(grey, rect, corners);
        } catch (const std::exception&) {
        }
        if (found) {
            orderMarker(corners, layoutCode, side, static_cast<float>(cam->markerLength), image, world);
        } else {
            for (int i = 0; i < 3; ++i) image[i] = world[i] = {-1.0f, -1.0f};
            result = -1;
        }
        cam->pointCount = 3 * (side + 1);
    }
    return result;
}
