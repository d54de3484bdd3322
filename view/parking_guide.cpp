// Parking-guide lines on the floor for one steering angle: two lines lineSpacing apart, straight
// or following the turning circle, in three distance segments separated by (-1, -1).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "geometry/angles.h"
#include "mz/mzview.h"

namespace mz::guide {
namespace {

constexpr Point2F kSeparator = {-1.0f, -1.0f};

struct Segment {
    int points = 0;   // per line
    float start = 0;  // distance along the path where the segment starts
    float end = 0;
    float offset = 0;  // distance of the segment's first point from the rear axle's reach
};

// One line's point i of a segment. The single point of a one-point segment sits at its start
// (a step over k - 1 = 0 intervals would divide by zero).
Point2F linePoint(const PgsParam& g, const Segment& s, float x, float overhang, int i) {
    const float c = static_cast<float>(g.lineShift) + g.wheelBase / 2.0f;
    const float steps = s.points > 1 ? static_cast<float>(s.points - 1) : 1.0f;
    if (g.steerAngle == 0) {
        const float step = (s.end - s.start) / steps;
        return {x, -(c + s.offset + step * static_cast<float>(i))};
    }
    const float r = g.turnRadius, t = g.turnOffset;
    const float endAngle = (s.end + overhang) / r;
    const float startAngle = s.start == 0.0f ? s.offset / (r - x) : s.offset / r;
    const float phi = startAngle + static_cast<float>(i) * (endAngle - startAngle) / steps;
    const float px = r + (x - r) * std::cos(phi) + t * std::sin(phi);
    const float py = c + t - (t * std::cos(phi) + (x - r) * std::sin(phi));
    return {px, -py};
}

bool finite(float v) { return std::isfinite(v); }

}  // namespace
}  // namespace mz::guide

int mzGetPGSWorldPoints(PgsParam* guide, float* points) {
    using namespace mz::guide;
    if (guide == nullptr || points == nullptr) return -5;
    PgsParam& g = *guide;
    // Steering at or beyond a right angle has no turning circle in front of the axle, and lines
    // that cannot hold their two separators have nowhere to go: refused, nothing written.
    if (g.maxPoints < 2 || std::abs(static_cast<long long>(g.steerAngle)) >= 90 || !finite(g.lineSpacing) ||
        !finite(g.wheelBase))
        return -1;
    float radius = 0.0f;
    if (g.steerAngle != 0) {
        radius = static_cast<float>(g.wheelBase / std::tan(-g.steerAngle * mz::kDegToRad<double>));
        // A zero wheel base turns on the spot: no radius the curves could follow.
        if (radius == 0.0f || !finite(radius)) return -1;
    }
    const int n = (g.maxPoints - 2) / 2;
    const float overhang = static_cast<float>(g.vehicleLength) / 2.0f - g.wheelBase / 2.0f;
    // 0 stands for the straight lines' infinite radius, which a caller could not store.
    g.turnRadius = radius;
    g.turnOffset = 0.0f;
    g.segmentCount = 3;
    const float xl = -g.lineSpacing / 2.0f, xr = g.lineSpacing / 2.0f;

    float budget = static_cast<float>(n);
    Segment seg[3];
    const float ends[3] = {static_cast<float>(static_cast<uint32_t>(g.distance1)), static_cast<float>(g.distance2),
                           static_cast<float>(g.distance3)};
    const int starts[3] = {0, g.distance1, g.distance2};
    int assigned = 0;
    for (int k = 0; k < 3; ++k) {
        int count;
        if (k < 2) {
            count = static_cast<int>(std::round(0.4f * budget));
            budget -= static_cast<float>(count);
        } else {
            // The float budget drifts for very long lists; never hand out more than n in total.
            count = static_cast<int>(budget);
            if (count > n - assigned) count = n - assigned;
        }
        assigned += count;
        seg[k].points = count;
        seg[k].start = static_cast<float>(starts[k]);
        seg[k].end = ends[k];
        seg[k].offset = static_cast<float>(g.startOffset) + overhang + static_cast<float>(starts[k]);
    }

    Point2F* out = reinterpret_cast<Point2F*>(points);
    int written = 0;
    int* const counters[3] = {&g.points1, &g.points2, &g.points3};
    for (int k = 0; k < 3; ++k) {
        const Segment& s = seg[k];
        g.segmentStart = starts[k];
        g.segmentEnd = s.end;
        for (int i = 0; i < s.points; ++i) out[written++] = linePoint(g, s, xr, overhang, i);
        for (int i = s.points - 1; i >= 0; --i) out[written++] = linePoint(g, s, xl, overhang, i);
        if (k < 2) out[written++] = kSeparator;
        *counters[k] = 2 * s.points + (k < 2 ? 1 : 0);
    }
    g.maxPoints = written;
    return 0;
}

int mzGetPGSWorldToImage(CameraParam* camera, const float* world, float* image, int count) {
    if (camera == nullptr || world == nullptr || image == nullptr) return -5;
    if (count <= 0) return 0;
    // Without four point pairs the camera has no floor homography: every pixel would be missing.
    if (camera->pointCount < 4 || camera->imagePoints == nullptr || camera->worldPoints == nullptr) return -1;
    auto* copy = static_cast<Point2F*>(std::malloc(sizeof(Point2F) * static_cast<size_t>(count)));
    if (copy == nullptr) return -1;
    const auto* in = reinterpret_cast<const Point2F*>(world);
    for (int i = 0; i < count; ++i) {
        copy[i] = in[i];
        const bool separator = in[i].x == -1.0f && in[i].y == -1.0f;
        if (!separator) copy[i].y = -copy[i].y;
        // A point that is not a number has no pixel; it goes through as a missing point.
        if (!std::isfinite(in[i].x) || !std::isfinite(in[i].y)) copy[i] = {-1.0f, -1.0f};
    }
    Point2F* pixels = reinterpret_cast<Point2F*>(image);
    mzWorldToImage2D(camera, copy, pixels, count);
    std::free(copy);
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(pixels[i].x) || !std::isfinite(pixels[i].y)) pixels[i] = {-1.0f, -1.0f};
    return 0;
}
