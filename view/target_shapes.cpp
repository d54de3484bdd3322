#include "view/target_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mz::detect {
namespace {

constexpr uint8_t kDark = 0;
constexpr uint8_t kLight = 255;
constexpr int kEdgeRounds = 20;
constexpr int kLabelRounds = 19;
constexpr double kSideBand = 3.0;  // pixels from a side that count as its outline

// Straight line a x + b y = c.
struct Line {
    double a = 0, b = 0, c = 0;
};

double distanceToLine(const PixelPoint& p, const PixelPoint& from, const PixelPoint& to) {
    const double a = to.y - from.y;
    const double b = from.x - to.x;
    const double c = static_cast<double>(from.y) * to.x - static_cast<double>(to.y) * from.x;
    const double norm = std::sqrt(a * a + b * b);
    return norm == 0.0 ? 0.0 : std::fabs(a * p.x + b * p.y + c) / norm;
}

// Index of the point strictly farthest by `measure` (the first one on equal values).
template <class Measure>
size_t farthest(const std::vector<PixelPoint>& points, Measure measure) {
    size_t best = 0;
    double bestValue = -1.0;
    for (size_t i = 0; i < points.size(); ++i) {
        const double d = measure(points[i]);
        if (d > bestValue) {
            bestValue = d;
            best = i;
        }
    }
    return best;
}

// Least-squares y = m x + k through the outline points near the side; sums in double, since
// canvas coordinates run into the thousands and the normal equations cancel. A side steeper than
// 45 degrees is fitted as x = m y + k instead: regressing y on x there follows the outline's
// one-pixel jitter rather than the side, and a vertical side would divide by zero.
bool fitSide(const std::vector<PixelPoint>& points, const PixelPoint& from, const PixelPoint& to, Line& line) {
    const bool steep = std::abs(to.y - from.y) > std::abs(to.x - from.x);
    double n = 0, su = 0, sv = 0, suu = 0, suv = 0;
    for (const PixelPoint& p : points) {
        if (distanceToLine(p, from, to) >= kSideBand) continue;
        const double u = steep ? p.y : p.x, v = steep ? p.x : p.y;
        n += 1;
        su += u;
        sv += v;
        suu += u * u;
        suv += u * v;
    }
    if (n < 2) return false;
    const double den = n * suu - su * su;
    // v = m u + k, or u constant when every point shares one u.
    double a = 1.0, b = 0.0, c = su / n;
    if (den != 0.0) {
        const double m = (n * suv - su * sv) / den;
        const double k = (suu * sv - su * suv) / den;
        a = m;
        b = -1.0;
        c = -k;
    }
    line = steep ? Line{b, a, c} : Line{a, b, c};
    return true;
}

bool intersect(const Line& p, const Line& q, Point2F& out) {
    const double det = p.a * q.b - q.a * p.b;
    if (std::fabs(det) < 1e-12) return false;
    const double x = (p.c * q.b - q.c * p.b) / det;
    const double y = (p.a * q.c - q.a * p.c) / det;
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    out = {static_cast<float>(x), static_cast<float>(y)};
    return true;
}

}  // namespace

Plane toGrey(const uint8_t* picture, int width, int height) {
    Plane grey(width, height);
    const size_t count = grey.px.size();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t b = picture[3 * i], g = picture[3 * i + 1], r = picture[3 * i + 2];
        grey.px[i] = static_cast<uint8_t>(((4207 * r + 8259 * g + 1604 * b + 8192) >> 14) + 16);
    }
    return grey;
}

void dropEdgeRegions(Plane& binary) {
    const int w = binary.width, h = binary.height;
    std::vector<uint8_t> mark(binary.px.size(), 0);
    auto idx = [w](int x, int y) { return static_cast<size_t>(y) * w + x; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (binary.onEdge(x, y) && binary.at(x, y) == kDark) mark[idx(x, y)] = 1;
    auto spread = [&](int x, int y) {
        const size_t i = idx(x, y);
        if (mark[i] || binary.px[i] != kDark) return false;
        const bool near = (x > 0 && mark[i - 1]) || (x + 1 < w && mark[i + 1]) || (y > 0 && mark[i - w]) ||
                          (y + 1 < h && mark[i + w]);
        if (near) mark[i] = 1;
        return near;
    };
    for (int round = 0; round < kEdgeRounds; ++round) {
        bool changed = false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) changed |= spread(x, y);
        for (int y = h - 1; y >= 0; --y)
            for (int x = w - 1; x >= 0; --x) changed |= spread(x, y);
        if (!changed) break;
    }
    for (size_t i = 0; i < mark.size(); ++i)
        if (mark[i]) binary.px[i] = kLight;
}

std::vector<int32_t> labelDark(const Plane& binary, int32_t* maxLabel) {
    const int w = binary.width, h = binary.height;
    std::vector<int32_t> labels(binary.px.size(), 0);
    int32_t next = 0;
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x)
            if (binary.at(x, y) == kDark) labels[static_cast<size_t>(y) * w + x] = ++next;
    *maxLabel = next;
    // Edge pixels are never labelled, so interior pixels have all four neighbours in range.
    auto settle = [&](int x, int y) {
        const size_t i = static_cast<size_t>(y) * w + x;
        int32_t best = labels[i];
        if (best == 0) return false;
        for (const size_t j : {i - 1, i + 1, i - w, i + w})
            if (labels[j] != 0 && labels[j] < best) best = labels[j];
        if (best == labels[i]) return false;
        labels[i] = best;
        return true;
    };
    for (int round = 0; round < kLabelRounds; ++round) {
        bool changed = false;
        for (int y = 1; y + 1 < h; ++y)
            for (int x = 1; x + 1 < w; ++x) changed |= settle(x, y);
        for (int y = h - 2; y >= 1; --y)
            for (int x = w - 2; x >= 1; --x) changed |= settle(x, y);
        if (!changed) break;
    }
    return labels;
}

std::vector<PixelPoint> outline(const Plane& binary) {
    std::vector<PixelPoint> points;
    for (int y = 1; y + 1 < binary.height; ++y) {
        for (int x = 1; x + 1 < binary.width; ++x) {
            const uint8_t v = binary.at(x, y);
            if (v != kDark) continue;
            bool differs = false;
            for (int dy = -1; dy <= 1 && !differs; ++dy)
                for (int dx = -1; dx <= 1 && !differs; ++dx) differs = binary.at(x + dx, y + dy) != v;
            if (differs) points.push_back({x, y});
        }
    }
    return points;
}

bool triangleCorners(const std::vector<PixelPoint>& points, std::array<Point2F, 3>& corners) {
    if (points.size() < 3) return false;
    auto squaredFrom = [](const PixelPoint& o) {
        return [o](const PixelPoint& p) {
            const double dx = p.x - o.x, dy = p.y - o.y;
            return dx * dx + dy * dy;
        };
    };
    auto fromLine = [](const PixelPoint& from, const PixelPoint& to) {
        return [from, to](const PixelPoint& p) { return distanceToLine(p, from, to); };
    };
    PixelPoint a = points[farthest(points, squaredFrom(points[0]))];
    PixelPoint b = points[farthest(points, squaredFrom(a))];
    const PixelPoint c = points[farthest(points, fromLine(a, b))];
    a = points[farthest(points, fromLine(b, c))];
    b = points[farthest(points, fromLine(c, a))];
    Line ab, bc, ca;
    if (!fitSide(points, a, b, ab) || !fitSide(points, b, c, bc) || !fitSide(points, c, a, ca)) return false;
    return intersect(ab, bc, corners[0]) && intersect(bc, ca, corners[1]) && intersect(ca, ab, corners[2]);
}

bool pictureSizeUsable(int width, int height) {
    return width > 0 && height > 0 && static_cast<long long>(width) * height <= 0x7FFFFFFF / 3;
}

}  // namespace mz::detect
