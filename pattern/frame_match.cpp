#include "pattern/frame_match.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "mz/mzgeometry.h"

namespace mz::pattern {

namespace {

// Points per side: enough that the chords stay within a tenth of a pixel of the curved band on
// the largest frames near the rim.
constexpr int kSideSteps = 16;

}  // namespace

std::vector<Point2F> curvedTriangle(const std::array<Point2F, 3>& corners, int xo, const CameraParam& camera) {
    std::array<Point2F, 3> ideal;
    for (size_t i = 0; i < 3; ++i) mzFeatureUndistortion(&corners[i], &ideal[i], &camera);
    std::vector<Point2F> polygon;
    polygon.reserve(3 * kSideSteps);
    for (size_t i = 0; i < 3; ++i) {
        const Point2F& a = ideal[i];
        const Point2F& b = ideal[(i + 1) % 3];
        for (int k = 0; k < kSideSteps; ++k) {
            const float t = static_cast<float>(k) / kSideSteps;
            const Point2F onSide{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
            Point2F pixel;
            mzFeatureDistortion(&onSide, &pixel, &camera);
            pixel.x -= static_cast<float>(xo);
            polygon.push_back(pixel);
        }
    }
    return polygon;
}

FrameMatch matchFrame(const GreyImage& frame, const ComponentBox& box, const std::vector<Point2F>& polygon) {
    FrameMatch m{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity()};
    if (polygon.size() < 3 || frame.width == 0) return m;
    float minX = static_cast<float>(box.x), maxX = static_cast<float>(box.x + box.width);
    float minY = static_cast<float>(box.y), maxY = static_cast<float>(box.y + box.height);
    float perimeter = 0.0f;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Point2F& p = polygon[i];
        const Point2F& q = polygon[(i + 1) % polygon.size()];
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        perimeter += std::hypot(q.x - p.x, q.y - p.y);
    }
    const int x0 = std::clamp(static_cast<int>(std::floor(minX)) - 1, 0, frame.width - 1);
    const int x1 = std::clamp(static_cast<int>(std::ceil(maxX)) + 1, 0, frame.width - 1);
    const int y0 = std::clamp(static_cast<int>(std::floor(minY)) - 1, 0, frame.height - 1);
    const int y1 = std::clamp(static_cast<int>(std::ceil(maxY)) + 1, 0, frame.height - 1);
    int64_t inside = 0, shape = 0, covered = 0;
    std::vector<float> crossings;
    for (int y = y0; y <= y1; ++y) {
        // Where the row's line crosses the polygon's edges; between the first and second crossing,
        // the third and fourth, ... lies the inside.
        const float fy = static_cast<float>(y);
        crossings.clear();
        for (size_t i = 0; i < polygon.size(); ++i) {
            const Point2F& p = polygon[i];
            const Point2F& q = polygon[(i + 1) % polygon.size()];
            if ((p.y <= fy) == (q.y <= fy)) continue;
            crossings.push_back(p.x + (fy - p.y) * (q.x - p.x) / (q.y - p.y));
        }
        std::sort(crossings.begin(), crossings.end());
        const uint8_t* row = frame.row(y);
        size_t next = 0;
        bool in = false;
        for (int x = x0; x <= x1; ++x) {
            const float fx = static_cast<float>(x);
            while (next < crossings.size() && crossings[next] <= fx) {
                in = !in;
                ++next;
            }
            const bool part = row[x] != 0;
            inside += in;
            shape += part;
            covered += in && part;
        }
    }
    if (covered == 0) return m;
    const float length = std::max(perimeter, 1.0f);
    m.gap = static_cast<float>(inside + shape - 2 * covered) / length;
    m.overreach = static_cast<float>(inside - covered) / length;
    return m;
}

bool matches(const FrameMatch& m) { return m.gap <= kMaxEdgeGap && m.overreach <= kMaxOverreach; }

}  // namespace mz::pattern
