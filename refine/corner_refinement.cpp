#include "refine/corner_refinement.h"

#include <algorithm>
#include <cmath>

#include "geometry/angles.h"
#include "geometry/lens_model.h"
#include "refine/fisheye.h"

namespace mz::refine {

namespace {

// Profiles reach this far to each side of the current side, pixels: a detector error of a few
// pixels still puts the edge inside.
constexpr double kProfileReach = 5.0;
constexpr double kProfileStep = 0.25;
// Weakest edge taken, grey levels per pixel: the floor's mottling stays below it.
constexpr double kMinEdgeSlope = 6.0;
// Profiles keep away from the tips, where the neighbouring side's edge crosses them.
constexpr double kSideStart = 0.15;
constexpr double kSideEnd = 0.85;
constexpr int kPasses = 3;
// Beyond this incidence angle the ideal plane stretches too much for a line fit.
constexpr double kMaxIncidence = radians(85.0);

struct Vec {
    double x = 0, y = 0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
double norm(Vec a) { return std::hypot(a.x, a.y); }

bool finite(Vec v) { return std::isfinite(v.x) && std::isfinite(v.y); }

bool sample(const GreyImage& img, double x, double y, double& value) {
    if (!(x >= 0 && y >= 0 && x <= img.width - 1.001 && y <= img.height - 1.001)) return false;
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    const float* row = img.pixels.data() + static_cast<size_t>(y0) * img.width + x0;
    const float* next = row + img.width;
    value = (1 - fy) * ((1 - fx) * row[0] + fx * row[1]) + fy * ((1 - fx) * next[0] + fx * next[1]);
    return true;
}

// An edge point on the ideal plane, with the pixels one ideal unit across the side makes there.
struct EdgePoint {
    Vec ideal;
    double pixelsPerUnit = 1;
};

struct Line {
    Vec point;
    Vec direction;   // unit
    double rmsPixels = 0;
    int used = 0;
    bool ok = false;
};

// Where the picture brightens from the dark frame to the floor along the profile (outward), in
// pixels from the profile's middle; false when no edge is strong enough.
bool outerEdge(const GreyImage& img, Vec middle, Vec outward, double& offset) {
    constexpr int kCount = static_cast<int>(2 * kProfileReach / kProfileStep) + 1;
    double values[kCount];
    for (int k = 0; k < kCount; ++k) {
        const Vec p = middle + (-kProfileReach + k * kProfileStep) * outward;
        if (!sample(img, p.x, p.y, values[k])) return false;
    }
    // Slope over one pixel: steadier than neighbouring samples against noise.
    constexpr int kHalf = static_cast<int>(0.5 / kProfileStep);
    double slopes[kCount] = {};
    int best = -1;
    for (int k = kHalf; k < kCount - kHalf; ++k) {
        slopes[k] = values[k + kHalf] - values[k - kHalf];
        if (best < 0 || slopes[k] > slopes[best]) best = k;
    }
    if (best <= kHalf || best >= kCount - kHalf - 1 || slopes[best] < kMinEdgeSlope) return false;
    const double a = slopes[best - 1], b = slopes[best], c = slopes[best + 1];
    const double curvature = a - 2 * b + c;
    const double shift = curvature < 0 ? std::clamp(0.5 * (a - c) / curvature, -1.0, 1.0) : 0.0;
    offset = -kProfileReach + (best + shift) * kProfileStep;
    return true;
}

// Total least squares, repeated without the points far out (glints, the neighbouring side).
Line fitLine(const std::vector<EdgePoint>& points) {
    Line line;
    std::vector<bool> in(points.size(), true);
    for (int round = 0; round < 3; ++round) {
        double n = 0, sx = 0, sy = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            if (!in[i]) continue;
            n += 1;
            sx += points[i].ideal.x;
            sy += points[i].ideal.y;
        }
        if (n < 4) return line;
        const Vec mean{sx / n, sy / n};
        double sxx = 0, syy = 0, sxy = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            if (!in[i]) continue;
            const Vec d = points[i].ideal - mean;
            sxx += d.x * d.x;
            syy += d.y * d.y;
            sxy += d.x * d.y;
        }
        const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
        line.point = mean;
        line.direction = {std::cos(angle), std::sin(angle)};
        const Vec normal{-line.direction.y, line.direction.x};
        std::vector<double> residuals;
        for (size_t i = 0; i < points.size(); ++i) {
            residuals.push_back(std::abs(dot(points[i].ideal - mean, normal)) * points[i].pixelsPerUnit);
        }
        std::vector<double> sorted = residuals;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double limit = std::max(3.0 * 1.4826 * sorted[sorted.size() / 2], 0.15);
        double sum = 0;
        int used = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            in[i] = residuals[i] <= limit;
            if (in[i]) {
                sum += residuals[i] * residuals[i];
                ++used;
            }
        }
        line.used = used;
        line.rmsPixels = used ? std::sqrt(sum / used) : 0;
    }
    line.ok = line.used >= 4;
    return line;
}

bool intersect(const Line& a, const Line& b, Vec& out) {
    const double q = cross(a.direction, b.direction);
    if (std::abs(q) < 1e-6) return false;
    const double t = cross(b.point - a.point, b.direction) / q;
    out = a.point + t * a.direction;
    return finite(out);
}

Vec toPixel(const CameraParam& cam, Vec ideal) {
    Vec p;
    unitIdealToPixel(cam, ideal.x, ideal.y, p.x, p.y);
    return p;
}

// The outer side from corner a to corner b, the third corner lying inside.
std::vector<EdgePoint> sideEdgePoints(const GreyImage& img, const CameraParam& cam, Vec a, Vec b, Vec inner,
                                      int& tried) {
    std::vector<EdgePoint> points;
    const Vec along = b - a;
    Vec normal{-along.y, along.x};
    normal = (1.0 / norm(normal)) * normal;
    if (dot(inner - a, normal) > 0) normal = -1.0 * normal;
    const double pixelLength = norm(toPixel(cam, b) - toPixel(cam, a));
    const int count = std::clamp(static_cast<int>(pixelLength / 2), 6, 40);
    tried = count;
    const double eps = 1e-3 * norm(along);
    for (int i = 0; i < count; ++i) {
        const double t = kSideStart + (kSideEnd - kSideStart) * (i + 0.5) / count;
        const Vec q = a + t * along;
        const Vec middle = toPixel(cam, q);
        const Vec across = toPixel(cam, q + eps * normal) - middle;
        const double scale = norm(across) / eps;
        if (!finite(middle) || !(scale > 0)) continue;
        const Vec outward = (1.0 / norm(across)) * across;
        double offset = 0;
        if (!outerEdge(img, middle, outward, offset)) continue;
        Vec ideal;
        const Vec edge = middle + offset * outward;
        if (!pixelToUnitIdeal(cam, edge.x, edge.y, ideal.x, ideal.y)) continue;
        points.push_back({ideal, scale});
    }
    return points;
}

}  // namespace

const char* verdictName(CornerVerdict verdict) {
    switch (verdict) {
    case CornerVerdict::kRefined: return "refined";
    case CornerVerdict::kMovedTooFar: return "moved too far";
    case CornerVerdict::kPoorFit: return "poor edge fit";
    case CornerVerdict::kNoEdge: return "no edge";
    case CornerVerdict::kInvalidInput: return "invalid point";
    case CornerVerdict::kNoPicture: return "no picture";
    }
    return "?";
}

bool pixelToUnitIdeal(const CameraParam& cam, double px, double py, double& ix, double& iy) {
    const double u = (px - cam.cx) / cam.fx, v = (py - cam.cy) / cam.fy;
    const double rho = std::hypot(u, v);
    if (!std::isfinite(rho)) return false;
    if (rho == 0) {
        ix = iy = 0;
        return true;
    }
    const double k[5] = {cam.k1, cam.k2, cam.k3, cam.k4, cam.k5};
    double theta = k[0] != 0 ? rho / k[0] : rho;
    for (int i = 0; i < 30; ++i) {
        const double t2 = theta * theta;
        const double value = lens::radiusOfAngleNested(k, theta) - rho;
        const double slope = k[0] + t2 * (3 * k[1] + t2 * (5 * k[2] + t2 * (7 * k[3] + t2 * 9 * k[4])));
        if (!(slope > 0)) return false;
        const double step = value / slope;
        theta -= step;
        if (!(theta > 0 && theta < kMaxIncidence)) return false;
        if (std::abs(step) < 1e-13) break;
    }
    const double r = std::tan(theta) / rho;
    ix = u * r;
    iy = v * r;
    return true;
}

void unitIdealToPixel(const CameraParam& cam, double ix, double iy, double& px, double& py) {
    distortIdeal(cam, ix * cam.f, iy * cam.f, &px, &py);
}

std::array<CornerRefinement, 3> refineTriangle(const GreyImage& img, const CameraParam& cam,
                                               const std::array<Point2F, 3>& corners) {
    std::array<CornerRefinement, 3> out;
    std::array<Vec, 3> ideal;
    bool valid = !img.pixels.empty() && cam.f != 0 && cam.fx != 0 && cam.fy != 0;
    for (int i = 0; i < 3; ++i) {
        out[i].given = out[i].refined = corners[i];
        const Vec p{corners[i].x, corners[i].y};
        valid = valid && finite(p) && p.x >= 0 && p.y >= 0 && p.x <= img.width && p.y <= img.height &&
                pixelToUnitIdeal(cam, p.x, p.y, ideal[i].x, ideal[i].y);
    }
    // A sliver or a point twice over gives no sides to fit.
    if (valid) {
        const Vec a{corners[0].x, corners[0].y}, b{corners[1].x, corners[1].y}, c{corners[2].x, corners[2].y};
        valid = std::abs(cross(b - a, c - a)) > 50.0;
    }
    if (!valid) return out;

    std::array<Vec, 3> current = ideal;
    std::array<Line, 3> sides;   // side i runs from corner i to corner i + 1
    CornerVerdict failure = CornerVerdict::kRefined;
    for (int pass = 0; pass < kPasses && failure == CornerVerdict::kRefined; ++pass) {
        for (int s = 0; s < 3; ++s) {
            int tried = 0;
            const auto points = sideEdgePoints(img, cam, current[s], current[(s + 1) % 3], current[(s + 2) % 3], tried);
            if (static_cast<int>(points.size()) * 2 < tried) {
                failure = CornerVerdict::kNoEdge;
                break;
            }
            sides[s] = fitLine(points);
            if (!sides[s].ok || sides[s].used * 2 < tried) {
                failure = CornerVerdict::kNoEdge;
                break;
            }
        }
        if (failure != CornerVerdict::kRefined) break;
        std::array<Vec, 3> next;
        for (int i = 0; i < 3; ++i) {
            // Corner i joins the side ending there and the side starting there.
            if (!intersect(sides[(i + 2) % 3], sides[i], next[i])) failure = CornerVerdict::kPoorFit;
        }
        if (failure != CornerVerdict::kRefined) break;
        double change = 0;
        for (int i = 0; i < 3; ++i) change = std::max(change, norm(toPixel(cam, next[i]) - toPixel(cam, current[i])));
        current = next;
        if (change < 0.01) break;
    }
    for (int i = 0; i < 3; ++i) {
        CornerRefinement& r = out[i];
        if (failure != CornerVerdict::kRefined) {
            r.verdict = failure;
            continue;
        }
        const Vec p = toPixel(cam, current[i]);
        r.sideRms = static_cast<float>(std::max(sides[(i + 2) % 3].rmsPixels, sides[i].rmsPixels));
        r.moved = static_cast<float>(std::hypot(p.x - r.given.x, p.y - r.given.y));
        if (!finite(p) || p.x <= 0 || p.y <= 0 || p.x >= img.width || p.y >= img.height) {
            r.verdict = CornerVerdict::kInvalidInput;
        } else if (!(r.moved <= kMaxCornerMove)) {
            r.verdict = CornerVerdict::kMovedTooFar;
        } else if (!(r.sideRms <= kMaxSideRms)) {
            r.verdict = CornerVerdict::kPoorFit;
        } else {
            r.verdict = CornerVerdict::kRefined;
            r.refined = {static_cast<float>(p.x), static_cast<float>(p.y)};
        }
    }
    return out;
}

GreyImage greyFromBgr(std::span<const uint8_t> rows, int width, int height) {
    GreyImage img;
    if (width <= 0 || height <= 0) return img;
    const size_t stride = MZ_ROW_STRIDE24(static_cast<size_t>(width));
    if (rows.size() < stride * height) return img;
    img.width = width;
    img.height = height;
    img.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rows.data() + stride * y;
        for (int x = 0; x < width; ++x) {
            img.pixels[static_cast<size_t>(y) * width + x] = (row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3.0f;
        }
    }
    return img;
}

}  // namespace mz::refine
