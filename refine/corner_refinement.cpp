#include "refine/corner_refinement.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

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
constexpr int kModelPasses = 2;
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

bool sample(const GreyFloatImage& img, double x, double y, double& value) {
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
    Vec direction;  // unit
    double rmsPixels = 0;
    int used = 0;
    bool ok = false;
    double modelRms = 0;  // grey levels left by the strip model, when it ran
};

// Where the picture brightens from the dark frame to the floor along the profile (outward), in
// pixels from the profile's middle; false when no edge is strong enough.
bool outerEdge(const GreyFloatImage& img, Vec middle, Vec outward, double& offset) {
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

// Across a side at the ideal point q (direction `along`, `normal` pointing outward): the pixel,
// the unit pixel direction square to the side's image pointing outward, and how many pixels one
// ideal unit across the side makes there. Far off axis the lens squeezes the picture more along
// the radius than around it, so the image of the ideal normal is no longer square to the side.
bool acrossSide(const CameraParam& cam, Vec q, Vec along, Vec normal, Vec& pixel, Vec& outward, double& scale) {
    constexpr double eps = 1e-4;
    pixel = toPixel(cam, q);
    const Vec ft = (1.0 / eps) * (toPixel(cam, q + eps * along) - pixel);
    const Vec fn = (1.0 / eps) * (toPixel(cam, q + eps * normal) - pixel);
    const double det = ft.x * fn.y - ft.y * fn.x;
    const double length = norm(ft);
    if (!finite(pixel) || !finite(ft) || !finite(fn) || !(std::abs(det) > 0) || !(length > 0)) return false;
    outward = (1.0 / length) * Vec{ft.y, -ft.x};
    if (dot(outward, fn) < 0) outward = -1.0 * outward;
    scale = std::abs(det) / length;
    return true;
}

// The outer side from corner a to corner b, the third corner lying inside.
std::vector<EdgePoint> sideEdgePoints(const GreyFloatImage& img, const CameraParam& cam, Vec a, Vec b, Vec inner,
                                      int& tried) {
    std::vector<EdgePoint> points;
    const Vec along = b - a;
    Vec normal{-along.y, along.x};
    normal = (1.0 / norm(normal)) * normal;
    if (dot(inner - a, normal) > 0) normal = -1.0 * normal;
    const double pixelLength = norm(toPixel(cam, b) - toPixel(cam, a));
    const int count = std::clamp(static_cast<int>(pixelLength / 2), 6, 40);
    tried = count;
    const Vec unitAlong = (1.0 / norm(along)) * along;
    for (int i = 0; i < count; ++i) {
        const double t = kSideStart + (kSideEnd - kSideStart) * (i + 0.5) / count;
        const Vec q = a + t * along;
        Vec middle, outward;
        double scale;
        if (!acrossSide(cam, q, unitAlong, normal, middle, outward, scale)) continue;
        double offset = 0;
        if (!outerEdge(img, middle, outward, offset)) continue;
        Vec ideal;
        const Vec edge = middle + offset * outward;
        if (!pixelToUnitIdeal(cam, edge.x, edge.y, ideal.x, ideal.y)) continue;
        points.push_back({ideal, scale});
    }
    return points;
}

// The frame's edge along one side, fitted to the picture's own pixels rather than to
// interpolated profiles: every pixel of a strip along the side is explained by a blurred step
// from the floor to the dark band (and, where the band is thin on screen, a second step back to
// the light hole), the step lying on a line of the ideal plane. Interpolating the picture and
// taking the steepest point of a profile shifts an edge by up to a tenth of a pixel depending on
// its slant and sub-pixel phase; the model has no such preference.
struct StripPixel {
    double value;
    double d;      // signed ideal distance from the current line, outward positive
    double u;      // place along the side, -1 at the start of the strip, 1 at its end
    double scale;  // pixels per ideal unit across the side here
};

constexpr double kStripOutside = 4.0;      // pixels of floor beyond the edge
constexpr double kStripInside = 4.0;       // pixels of band (or band and hole) inside it
constexpr double kMaxInnerModel = 9.0;     // bands wider on screen are taken as plain dark
constexpr double kThinBand = 4.0;          // pixels: below it the darkness comes from another side
constexpr double kBorrowedRmsGain = 1.05;  // unless that leaves this much more of the strip unexplained
constexpr double kMinOwnBandShare = 0.5;   // or its own fit left less of the band than this share
constexpr double kTipClearance = 3.0;      // pixels from another side's edge
constexpr double kFirstRiseShare = 0.5;    // of the steepest rise, for the hole's edge
constexpr int kModelIterations = 8;
constexpr double kModelHuber = 8.0;   // grey levels: floor grain and glints count less
constexpr double kMaxModelRms = 8.0;  // grey levels a fitted strip may leave
constexpr double kLevelSlack = 20.0;  // grey levels a fitted level may lie outside 0..255
// Share of the strip's cost a band growing lighter along the side (then lighter in patches, as
// wear leaves it) must save to be believed: clean paint gains nothing from the extra freedom but
// the chance to trade it against the edge.
constexpr double kSlopeGain = 0.9;
// On a thin band the floor's grain seen through the blur looks like patches of wear.
constexpr double kThinPatchGain = 0.8;
constexpr double kMaxDarkSwing = 0.5;  // of the band-to-floor contrast, along one side

double huberLoss(double residual) {
    const double r = std::abs(residual);
    return r <= kModelHuber ? r * r : 2 * kModelHuber * r - kModelHuber * kModelHuber;
}
double huberWeight(double residual) {
    const double r = std::abs(residual);
    return r <= kModelHuber ? 1.0 : kModelHuber / r;
}
double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double normalPdf(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2 * kPi<double>); }

// Band width across the side on screen, pixels, from the profiles' inner edges; 0 when unknown.
double bandOnScreen(const GreyFloatImage& img, const CameraParam& cam, const Line& line, Vec a, Vec b,
                    Vec outwardNormal) {
    std::vector<double> widths;
    const Vec along = b - a;
    for (int i = 0; i < 9; ++i) {
        const double t = kSideStart + (kSideEnd - kSideStart) * (i + 0.5) / 9;
        Vec q = a + t * along;
        q = q - dot(q - line.point, outwardNormal) * outwardNormal;
        Vec middle, outward;
        double scale;
        if (!acrossSide(cam, q, line.direction, outwardNormal, middle, outward, scale)) continue;
        // Inward from the edge: the first strong rise from the band to the hole. Across a narrow
        // hole the opposite band's edge to the floor may rise more steeply than the hole's own edge
        // (a blurred hole never reaches the floor's brightness, worn paint lowers the rise), so
        // the steepest rise alone would take the band for the whole frame.
        std::vector<double> rises;
        for (double r = 0.5; r <= 2 * kMaxInnerModel; r += 0.25) {
            double v0, v1;
            const Vec p0 = middle - (r - 0.5) * outward, p1 = middle - (r + 0.5) * outward;
            if (!sample(img, p0.x, p0.y, v0) || !sample(img, p1.x, p1.y, v1)) break;
            rises.push_back(v1 - v0);
        }
        if (rises.empty()) continue;
        const double best = *std::max_element(rises.begin(), rises.end());
        if (best < kMinEdgeSlope) continue;
        for (size_t k = 0; k < rises.size(); ++k) {
            const bool peak =
                (k == 0 || rises[k] >= rises[k - 1]) && (k + 1 == rises.size() || rises[k] >= rises[k + 1]);
            if (peak && rises[k] >= kFirstRiseShare * best) {
                widths.push_back(0.5 + 0.25 * static_cast<double>(k));
                break;
            }
        }
    }
    if (widths.size() < 3) return 0;
    std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
    return widths[widths.size() / 2];
}

double sideBand(const GreyFloatImage& img, const CameraParam& cam, const Line& line, Vec a, Vec b, Vec inner) {
    Vec normal{-line.direction.y, line.direction.x};
    if (dot(inner - line.point, normal) > 0) normal = -1.0 * normal;
    return bandOnScreen(img, cam, line, a, b, normal);
}

// The band's darkness, the same along all three sides of a frame as a share of the light falling
// on it, and the blur found on a side (a start for the others).
struct StripLevels {
    double dark = 0;
    double sigma = 0;
    double bandPixels = 0;  // the band's width on screen
};

// Refits one side's line from the strip's pixels; false (the line unchanged) when the model does
// not settle.
bool fitSideModel(const GreyFloatImage& img, const CameraParam& cam, Line& line, Vec a, Vec b, Vec inner, double band,
                  const Line& before, double bandBefore, const Line& after, double bandAfter, const StripLevels* fixed,
                  double bandGuess, StripLevels& found) {
    Vec normal{-line.direction.y, line.direction.x};
    if (dot(inner - line.point, normal) > 0) normal = -1.0 * normal;
    const Vec dir = line.direction;
    // The strip's ends on the current line.
    const double ua = dot(a - line.point, dir), ub = dot(b - line.point, dir);
    const double u0 = std::min(ua, ub) + kSideStart * std::abs(ub - ua);
    const double u1 = std::min(ua, ub) + kSideEnd * std::abs(ub - ua);
    const Vec origin = line.point + (0.5 * (u0 + u1)) * dir;
    const double half = 0.5 * (u1 - u0);
    if (!(half > 0)) return false;

    const bool innerEdge = band > 0 && band < kMaxInnerModel;
    const double insideReach = innerEdge ? band + kStripInside : (band > 0 ? std::min(band - 1.5, kStripInside) : 2.0);
    if (!(insideReach >= 1.5)) return false;

    // How many pixels one ideal unit across the side makes, along the strip.
    constexpr int kScaleSamples = 17;
    std::array<double, kScaleSamples> scales{};
    std::array<Vec, kScaleSamples> middles{}, outwards{};
    for (int i = 0; i < kScaleSamples; ++i) {
        const Vec q = origin + (half * (2.0 * i / (kScaleSamples - 1) - 1)) * dir;
        if (!acrossSide(cam, q, dir, normal, middles[i], outwards[i], scales[i])) return false;
    }
    auto scaleAt = [&](double u) {  // u from -1 to 1
        const double f = std::clamp((u + 1) / 2, 0.0, 1.0) * (kScaleSamples - 1);
        const int i = std::min(static_cast<int>(f), kScaleSamples - 2);
        return scales[i] + (f - i) * (scales[i + 1] - scales[i]);
    };

    // The strip's pixels, marked by walking along the side and across it on screen.
    double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
    double pixelLength = 0;
    for (int i = 0; i < kScaleSamples; ++i) {
        if (i > 0) pixelLength += norm(middles[i] - middles[i - 1]);
        for (double reach : {kStripOutside + 1, -(insideReach + 1)}) {
            const Vec pp = middles[i] + reach * outwards[i];
            x0 = std::min(x0, pp.x);
            y0 = std::min(y0, pp.y);
            x1 = std::max(x1, pp.x);
            y1 = std::max(y1, pp.y);
        }
    }
    const int ix0 = std::max(0, static_cast<int>(std::floor(x0) - 1));
    const int iy0 = std::max(0, static_cast<int>(std::floor(y0) - 1));
    const int ix1 = std::min(img.width - 1, static_cast<int>(std::ceil(x1) + 1));
    const int iy1 = std::min(img.height - 1, static_cast<int>(std::ceil(y1) + 1));
    if (ix1 < ix0 || iy1 < iy0 || ix1 - ix0 > 800 || iy1 - iy0 > 800) return false;
    const int boxW = ix1 - ix0 + 1;
    std::vector<uint8_t> marked(static_cast<size_t>(boxW) * (iy1 - iy0 + 1), 0);
    const int steps = std::max(8, static_cast<int>(2 * pixelLength));
    for (int i = 0; i <= steps; ++i) {
        const double f = static_cast<double>(i) / steps * (kScaleSamples - 1);
        const int k = std::min(static_cast<int>(f), kScaleSamples - 2);
        const Vec m = middles[k] + (f - k) * (middles[k + 1] - middles[k]);
        const Vec o = outwards[k] + (f - k) * (outwards[k + 1] - outwards[k]);
        for (double r = -(insideReach + 1); r <= kStripOutside + 1; r += 0.5) {
            const int x = static_cast<int>(std::lround(m.x + r * o.x)),
                      y = static_cast<int>(std::lround(m.y + r * o.y));
            if (x >= ix0 && x <= ix1 && y >= iy0 && y <= iy1)
                marked[static_cast<size_t>(y - iy0) * boxW + (x - ix0)] = 1;
        }
    }

    // Near the tips the other two sides' edges come close: inside the frame, pixels within reach
    // of another side's band (or its outer edge) stay out. Distances to another side are taken on
    // screen, to its image between its corners.
    const Vec centre = (1.0 / 3) * (a + b + inner);
    auto inwardOf = [&](const Line& l) {
        Vec nn{-l.direction.y, l.direction.x};
        if (dot(centre - l.point, nn) < 0) nn = -1.0 * nn;
        return nn;
    };
    const Vec inBefore = inwardOf(before), inAfter = inwardOf(after);
    const double clearBefore = (bandBefore > 0 ? bandBefore : kMaxInnerModel) + kTipClearance;
    const double clearAfter = (bandAfter > 0 ? bandAfter : kMaxInnerModel) + kTipClearance;
    constexpr int kOutline = 33;
    auto outline = [&](Vec from, Vec to) {
        std::array<Vec, kOutline> points;
        for (int i = 0; i < kOutline; ++i)
            points[i] = toPixel(cam, from + (static_cast<double>(i) / (kOutline - 1)) * (to - from));
        return points;
    };
    // Side `before` ends at corner a (from the third corner), `after` starts at b.
    const std::array<Vec, kOutline> outlineBefore = outline(inner, a), outlineAfter = outline(b, inner);
    auto screenDistance = [](const std::array<Vec, kOutline>& points, Vec p) {
        double best = 1e30;
        for (int i = 0; i + 1 < kOutline; ++i) {
            const Vec e = points[i + 1] - points[i];
            const double len2 = dot(e, e);
            const double t = len2 > 0 ? std::clamp(dot(p - points[i], e) / len2, 0.0, 1.0) : 0.0;
            const Vec off = p - (points[i] + t * e);
            best = std::min(best, dot(off, off));
        }
        return std::sqrt(best);
    };

    std::vector<StripPixel> strip;
    for (int y = iy0; y <= iy1; ++y) {
        for (int x = ix0; x <= ix1; ++x) {
            if (!marked[static_cast<size_t>(y - iy0) * boxW + (x - ix0)]) continue;
            Vec ideal;
            if (!pixelToUnitIdeal(cam, x, y, ideal.x, ideal.y)) continue;
            const double u = dot(ideal - origin, dir) / half;
            if (std::abs(u) > 1) continue;
            const double d = dot(ideal - origin, normal);
            const double scale = scaleAt(u);
            const double s = d * scale;
            if (s > kStripOutside || s < -insideReach) continue;
            if (s < 0) {
                const Vec pixel{static_cast<double>(x), static_cast<double>(y)};
                const bool outsideBefore = dot(ideal - before.point, inBefore) < 0;
                const bool outsideAfter = dot(ideal - after.point, inAfter) < 0;
                if (outsideBefore || outsideAfter || screenDistance(outlineBefore, pixel) < clearBefore ||
                    screenDistance(outlineAfter, pixel) < clearAfter)
                    continue;
            }
            strip.push_back({img.pixels[static_cast<size_t>(y) * img.width + x], d, u, scale});
        }
    }
    if (strip.size() < 40) return false;

    // Parameters: the edge's offset and turn (ideal units), blur, band, floor outside (level,
    // slope and bend along the side), the band's slope and patches along the side (worn paint,
    // the hall's light and shadows), the blur's change along the side (the lens softens towards
    // its rim), then the band's width (offset and turn) and the hole (level and slope along the
    // side: the floor inside the frame is lit as unevenly as outside).
    enum { kE0, kE1, kSigma, kDark, kL0, kL1, kL2, kD1, kD2, kD3, kS1, kG0, kG1, kHole, kH1, kAll };
    const int n = innerEdge ? kAll : kG0;
    Eigen::VectorXd p = Eigen::VectorXd::Zero(n);
    {
        // Starting levels: the floor from the pixels clear outside, the band from the darkest
        // inside, the hole like the floor unless pixels clear inside the band say otherwise.
        double light = 0, hole = 0;
        int nl = 0, nh = 0;
        std::vector<double> inside;
        for (const StripPixel& q : strip) {
            const double s = q.d * q.scale;
            if (s > 1.5) {
                light += q.value;
                ++nl;
            } else if (s < -0.5) {
                inside.push_back(q.value);
                if (innerEdge && s < -band - 1.5) {
                    hole += q.value;
                    ++nh;
                }
            }
        }
        if (nl == 0 || inside.empty()) return false;
        std::nth_element(inside.begin(), inside.begin() + inside.size() / 10, inside.end());
        p[kSigma] = fixed ? fixed->sigma : 0.8;
        p[kDark] = fixed ? fixed->dark : inside[inside.size() / 10];
        p[kL0] = light / nl;
        if (innerEdge) {
            const double meanScale = strip[strip.size() / 2].scale;
            p[kG0] = (bandGuess > 0 ? bandGuess : band) / meanScale;
            p[kHole] = nh > 0 ? hole / nh : p[kL0];
        }
    }
    // The light falling on the band, from the floor on both of its sides. A darkness taken from
    // another band is that band's share of the light on it, and follows the light along this side:
    // across a shadow's edge or a glare spot's rim the floor beside a band darkens by a third, and
    // one darkness held all along made the band a black sliver at one end.
    const double bandLightShare = !fixed ? 0.0 : innerEdge ? 0.5 : 1.0;
    auto lightOnBand = [&](const Eigen::VectorXd& v, double u) {
        const double light = v[kL0] + v[kL1] * u + v[kL2] * u * u;
        return innerEdge ? 0.5 * (light + v[kHole] + v[kH1] * u) : light;
    };
    auto bandLight = [&](const Eigen::VectorXd& v, double u) { return fixed ? lightOnBand(v, u) : 1.0; };
    auto darkAt = [&](const Eigen::VectorXd& v, double u) {
        const double p2 = 1.5 * u * u - 0.5, p3 = (2.5 * u * u - 1.5) * u;
        return v[kDark] * bandLight(v, u) + v[kD1] * u + v[kD2] * p2 + v[kD3] * p3;
    };
    auto model = [&](const StripPixel& q, const Eigen::VectorXd& v, Eigen::VectorXd* jac) {
        const double edge = v[kE0] + v[kE1] * q.u;
        const double sigma = v[kSigma] + v[kS1] * q.u;
        const double so = q.scale * (q.d - edge) / sigma;
        const double light = v[kL0] + v[kL1] * q.u + v[kL2] * q.u * q.u;
        const double dark = darkAt(v, q.u);
        const double co = normalCdf(so), po = normalPdf(so);
        double value = dark + (light - dark) * co;
        double byDark = 1 - co;  // the value's change with the band's darkness
        if (jac) {
            jac->setZero();
            const double dso = (light - dark) * po / sigma;  // per pixel of offset
            (*jac)[kE0] = -dso * q.scale;
            (*jac)[kE1] = -dso * q.scale * q.u;
            (*jac)[kSigma] = -(light - dark) * po * so / sigma;
            (*jac)[kL0] = co;
            (*jac)[kL1] = co * q.u;
            (*jac)[kL2] = co * q.u * q.u;
        }
        if (innerEdge) {
            const double si = q.scale * (q.d - edge + v[kG0] + v[kG1] * q.u) / sigma;
            const double ci = normalCdf(si), pi = normalPdf(si);
            // From the hole to the band, then the band to the floor.
            const double hole = v[kHole] + v[kH1] * q.u;
            value = hole + (dark - hole) * ci + (light - dark) * co;
            byDark = ci - co;
            if (jac) {
                const double dsi = (dark - hole) * pi / sigma;
                (*jac)[kE0] += -dsi * q.scale;
                (*jac)[kE1] += -dsi * q.scale * q.u;
                (*jac)[kG0] = dsi * q.scale;
                (*jac)[kG1] = dsi * q.scale * q.u;
                (*jac)[kSigma] += -(dark - hole) * pi * si / sigma;
                const double byHole = 1 - ci + byDark * v[kDark] * bandLightShare;
                (*jac)[kHole] = byHole;
                (*jac)[kH1] = byHole * q.u;
            }
        }
        if (jac) {
            const double p2 = 1.5 * q.u * q.u - 0.5, p3 = (2.5 * q.u * q.u - 1.5) * q.u;
            const double byLight = byDark * v[kDark] * bandLightShare;
            (*jac)[kL0] += byLight;
            (*jac)[kL1] += byLight * q.u;
            (*jac)[kL2] += byLight * q.u * q.u;
            (*jac)[kDark] = byDark * bandLight(v, q.u);
            (*jac)[kD1] = byDark * q.u;
            (*jac)[kD2] = byDark * p2;
            (*jac)[kD3] = byDark * p3;
            (*jac)[kS1] = (*jac)[kSigma] * q.u;
        }
        return value;
    };
    Eigen::VectorXd jac(n);
    double lambda = 1e-3;
    auto cost = [&](const Eigen::VectorXd& v) {
        double c = 0;
        for (const StripPixel& q : strip) c += huberLoss(q.value - model(q, v, nullptr));
        return c;
    };
    double current = cost(p);
    int darkTerms = 1;  // constant, linear, cubic along the side
    auto solve = [&] {
        for (int it = 0; it < kModelIterations; ++it) {
            Eigen::MatrixXd h = Eigen::MatrixXd::Zero(n, n);
            Eigen::VectorXd g = Eigen::VectorXd::Zero(n);
            for (const StripPixel& q : strip) {
                const double r = q.value - model(q, p, &jac);
                const double w = huberWeight(r);
                h.noalias() += w * jac * jac.transpose();
                g.noalias() += w * r * jac;
            }
            if (fixed) {
                h.row(kDark).setZero();
                h.col(kDark).setZero();
                h(kDark, kDark) = 1;
                g[kDark] = 0;
            }
            for (int t = kD1; t <= kD3; ++t) {
                if (t - kD1 + 1 < darkTerms) continue;
                h.row(t).setZero();
                h.col(t).setZero();
                h(t, t) = 1;
                g[t] = 0;
            }
            bool stepped = false, converged = false;
            for (int tries = 0; tries < 6 && !stepped; ++tries) {
                Eigen::MatrixXd damped = h;
                damped.diagonal() *= 1 + lambda;
                const Eigen::VectorXd step = damped.ldlt().solve(g);
                if (!step.allFinite()) return false;
                Eigen::VectorXd next = p + step;
                next[kSigma] = std::clamp(next[kSigma], 0.2, 3.0);
                next[kS1] = std::clamp(next[kS1], 0.2 - next[kSigma], next[kSigma] - 0.2);
                const double c = cost(next);
                if (c <= current) {
                    p = next;
                    current = c;
                    lambda = std::max(lambda / 10, 1e-6);
                    stepped = true;
                    converged =
                        std::max(std::abs(step[kE0]), std::abs(step[kE1])) * strip[strip.size() / 2].scale < 1e-3;
                } else {
                    lambda *= 10;
                }
            }
            if (!stepped || converged) break;
        }
        return true;
    };
    if (!solve()) return false;
    // A band darkening and lightening along the side stays a band: darker than the floor beside it
    // everywhere, and varying by less than its contrast.
    auto plausibleDark = [&](const Eigen::VectorXd& v) {
        double lowest = 1e30, highest = -1e30;
        for (int i = 0; i <= 8; ++i) {
            const double u = i / 4.0 - 1;
            const double dark = darkAt(v, u);
            const double light = v[kL0] + v[kL1] * u + v[kL2] * u * u;
            if (!(dark > -kLevelSlack && dark + 2 * kMinEdgeSlope < light)) return false;
            lowest = std::min(lowest, dark);
            highest = std::max(highest, dark);
        }
        return highest - lowest < kMaxDarkSwing * (v[kL0] - v[kDark]);
    };
    // A band lightening along the side, then one lighter in patches, is tried as well and kept
    // when it explains the strip clearly better. On a thin band the freedom could trade darkness
    // against width, which is why such a side's own fit is then weighed against the darkness of
    // the widest band.
    if (!fixed) {
        for (int terms : {2, 4}) {
            const Eigen::VectorXd plain = p;
            const double plainCost = current;
            const int plainTerms = darkTerms;
            darkTerms = terms;
            lambda = 1e-3;
            const double gain = band < kThinBand && terms > 2 ? kThinPatchGain : kSlopeGain;
            if (!solve() || !(current < gain * plainCost) || !plausibleDark(p)) {
                p = plain;
                current = plainCost;
                darkTerms = plainTerms;
            }
        }
    }
    // The edge may move by a few pixels at most; farther it found another edge.
    const double meanScale = strip[strip.size() / 2].scale;
    if (!(std::abs(p[kE0]) * meanScale < 3 && std::abs(p[kE1]) * meanScale < 3)) return false;
    const double dark = darkAt(p, 0);
    if (!(dark + 2 * kMinEdgeSlope < p[kL0])) return false;
    // Levels outside what a picture can hold, or a band wider than the strip, mean the model
    // explained the strip some other way.
    auto level = [](double v) { return v > -kLevelSlack && v < 255 + kLevelSlack; };
    if (!level(dark) || !level(p[kL0])) return false;
    if (innerEdge && (!level(p[kHole]) || !(p[kG0] > 0) || !(p[kG0] * meanScale < insideReach - 1))) return false;
    double sum = 0;
    for (const StripPixel& q : strip) {
        const double r = q.value - model(q, p, nullptr);
        sum += r * r;
    }
    const Vec start = origin + (-half) * dir + p[kE0] * normal - p[kE1] * normal;
    const Vec end = origin + half * dir + p[kE0] * normal + p[kE1] * normal;
    Line fitted = line;
    fitted.point = 0.5 * (start + end);
    fitted.direction = (1.0 / norm(end - start)) * (end - start);
    if (!finite(fitted.point) || !finite(fitted.direction)) return false;
    fitted.modelRms = std::sqrt(sum / static_cast<double>(strip.size()));
    // A model that does not explain the strip (another edge in it, a band misjudged) keeps the
    // profiles' line.
    if (!(fitted.modelRms <= kMaxModelRms)) return false;
    found.dark = fixed ? p[kDark] : p[kDark] / lightOnBand(p, 0);
    found.sigma = p[kSigma];
    found.bandPixels = innerEdge ? p[kG0] * meanScale : band;
    line = fitted;
    return true;
}

// A sharp tip from its own pixels. Two lines fitted over whole sides and intersected put the
// tip wherever their small tilts at the ends take it, magnified by the narrow angle; and near the
// tip the dark wedge is thinner than the blur, so its darkness cannot be read off a profile. Here
// the pixels around the tip are explained by the blurred wedge itself: floor outside, the band's
// dark inside and, each band's width in, the hole; the two outer edges keep their directions and
// each shifts on its own.
constexpr double kSharpTip = radians(55.0);  // wider tips meet well enough as lines
constexpr double kTipLength = 24.0;          // pixels along the bisector from the tip
constexpr double kTipOutside = 4.0;          // pixels of floor beyond each edge
constexpr double kMaxTipShift = 1.5;         // pixels an edge may move at the tip
constexpr int kTipIterations = 6;

// The chance that a point blurred by a unit normal lands inside both half-planes a >= 0 and b >= 0
// from it, whose outward normals have the product rho (near -1 at a sharp tip). The integral over
// the correlation from the independent case (Drezner and Wesolowsky's), its nodes fixed for one
// tip: eight give a few 1e-5 down to a 5 degree tip.
class WedgeShare {
public:
    explicit WedgeShare(double rho) {
        static constexpr double kNodes[8] = {-0.9602898564975363, -0.7966664774136267, -0.5255324099163290,
                                             -0.1834346424956498, 0.1834346424956498,  0.5255324099163290,
                                             0.7966664774136267,  0.9602898564975363};
        static constexpr double kWeights[8] = {0.1012285362903763, 0.2223810344533745, 0.3137066458778873,
                                               0.3626837833783620, 0.3626837833783620, 0.3137066458778873,
                                               0.2223810344533745, 0.1012285362903763};
        const double end = std::asin(std::clamp(rho, -1.0, 1.0));
        for (int k = 0; k < 8; ++k) {
            const double angle = 0.5 * end * (1 + kNodes[k]);
            sines_[k] = std::sin(angle);
            halfSecants_[k] = 0.5 / std::max(std::cos(angle) * std::cos(angle), 1e-12);
            weights_[k] = kWeights[k] * 0.5 * end / (2 * kPi<double>);
        }
    }
    double operator()(double a, double b) const {
        // Seven blurs out of either half-plane nothing is left of the wedge.
        if (a < -7 || b < -7) return 0;
        double sum = normalCdf(a) * normalCdf(b);
        const double squares = a * a + b * b, product = 2 * a * b;
        for (int k = 0; k < 8; ++k) sum += weights_[k] * std::exp(-(squares - product * sines_[k]) * halfSecants_[k]);
        return std::clamp(sum, 0.0, 1.0);
    }

private:
    std::array<double, 8> sines_{}, halfSecants_{}, weights_{};
};

// What a tip's fit knows of its two edges there: how well it placed each edge's shift, how the
// tip moves with them, and how far from the tip each shift is measured (a turn of the side's
// line about that point still moves the tip).
struct TipShifts {
    std::array<double, 3> covariance{};  // of the two shifts, pixels squared: 00, 01, 11
    std::array<Vec, 2> tipPerShift{};    // screen pixels the tip moves per pixel each edge shifts
    std::array<double, 2> lever{};       // screen pixels from the tip to where each shift is measured
    bool known = false;
};

struct TipPixel {
    double value;
    double s1, s2;  // screen distances outward of the two edges
    double x, y;    // from the starting tip, pixels
    double t;       // along the bisector, 0 at the tip and 1 at the strip's far end
};

// Moves `tip` (ideal) where the blurred wedge between `before` (ending at the tip) and `after`
// (starting there) explains the pixels around it, and says what the fit knows of it in `knowledge`;
// false (tip unchanged, nothing known) when the tip is not sharp or the model does not settle.
// Bands are the two sides' widths on screen.
bool fitTip(const GreyFloatImage& img, const CameraParam& cam, const Line& before, const Line& after, Vec towardsBefore,
            Vec towardsAfter, double bandBefore, double bandAfter, Vec& tip, TipShifts& knowledge) {
    const Line* lines[2] = {&before, &after};
    const Vec towards[2] = {towardsBefore, towardsAfter};
    const double bandsOnScreen[2] = {bandBefore > 0 ? bandBefore : kMaxInnerModel,
                                     bandAfter > 0 ? bandAfter : kMaxInnerModel};
    Vec normals[2], screenOut[2], screenAlong[2], alongs[2];
    // Pixels per ideal unit across each side at the tip and its change along the side, per ideal unit.
    double scales[2], scaleSlopes[2];
    const Vec tipPixel = toPixel(cam, tip);
    for (int e = 0; e < 2; ++e) {
        Vec along = lines[e]->direction;
        if (dot(towards[e] - tip, along) < 0) along = -1.0 * along;
        Vec normal{-along.y, along.x};
        // Outward: away from the other side's far corner.
        if (dot(towards[1 - e] - tip, normal) > 0) normal = -1.0 * normal;
        normals[e] = normal;
        Vec pixel;
        if (!acrossSide(cam, tip, along, normal, pixel, screenOut[e], scales[e])) return false;
        screenAlong[e] = toPixel(cam, tip + 1e-4 * along) - pixel;
        const double pixelsAlong = norm(screenAlong[e]) / 1e-4;
        screenAlong[e] = (1.0 / norm(screenAlong[e])) * screenAlong[e];
        alongs[e] = along;
        // The lens squeezes the picture more towards its rim: over the tip's reach the scale across
        // a side changes by a few hundredths, which at a sharp tip is a tenth of a pixel.
        const double far = kTipLength / pixelsAlong;
        Vec farPixel, farOut;
        double farScale;
        if (!(far > 0) || !acrossSide(cam, tip + far * along, along, normal, farPixel, farOut, farScale)) return false;
        scaleSlopes[e] = (farScale - scales[e]) / far;
    }
    const double angle = std::acos(std::clamp(dot(screenAlong[0], screenAlong[1]), -1.0, 1.0));
    if (!(angle < kSharpTip) || !(angle > radians(1.0))) return false;
    const double rho = dot(screenOut[0], screenOut[1]);
    const WedgeShare wedgeShare(rho);
    Vec bisector = screenAlong[0] + screenAlong[1];
    bisector = (1.0 / norm(bisector)) * bisector;

    const double reach = kTipOutside / std::sin(0.5 * angle) + kTipLength;
    const int ix0 = std::max(0, static_cast<int>(std::floor(tipPixel.x - reach)));
    const int iy0 = std::max(0, static_cast<int>(std::floor(tipPixel.y - reach)));
    const int ix1 = std::min(img.width - 1, static_cast<int>(std::ceil(tipPixel.x + reach)));
    const int iy1 = std::min(img.height - 1, static_cast<int>(std::ceil(tipPixel.y + reach)));
    std::vector<TipPixel> pixels;
    for (int y = iy0; y <= iy1; ++y) {
        for (int x = ix0; x <= ix1; ++x) {
            const Vec offset{x - tipPixel.x, y - tipPixel.y};
            const double t = dot(offset, bisector);
            if (t < -kTipOutside || t > kTipLength) continue;
            // Straight on screen this near the tip, to within a pixel: most of the box is left
            // before the lens is inverted.
            if (dot(offset, screenOut[0]) > kTipOutside + 1 || dot(offset, screenOut[1]) > kTipOutside + 1) continue;
            Vec ideal;
            if (!pixelToUnitIdeal(cam, x, y, ideal.x, ideal.y)) continue;
            double screen[2];
            for (int e = 0; e < 2; ++e) {
                const double scale = scales[e] + scaleSlopes[e] * dot(ideal - tip, alongs[e]);
                screen[e] = dot(ideal - lines[e]->point, normals[e]) * scale;
            }
            const double s1 = screen[0], s2 = screen[1];
            if (s1 > kTipOutside || s2 > kTipOutside) continue;
            pixels.push_back({img.pixels[static_cast<size_t>(y) * img.width + x], s1, s2, offset.x, offset.y,
                              std::max(t, 0.0) / kTipLength});
        }
    }
    if (pixels.size() < 40) return false;

    enum { kO1, kO2, kSigma, kDark, kDarkT, kLight, kLx, kLy, kW1, kW2, kHole, kAll };
    Eigen::Matrix<double, kAll, 1> p = Eigen::Matrix<double, kAll, 1>::Zero();
    {
        double light = 0;
        int nl = 0;
        std::vector<double> inside;
        for (const TipPixel& q : pixels) {
            if (q.s1 > 1.5 || q.s2 > 1.5) {
                light += q.value;
                ++nl;
            } else if (q.s1 < -1 && q.s2 < -1) {
                inside.push_back(q.value);
            }
        }
        if (nl < 10 || inside.size() < 5) return false;
        std::nth_element(inside.begin(), inside.begin() + inside.size() / 10, inside.end());
        p[kDark] = inside[inside.size() / 10];
        p[kLight] = light / nl;
        p[kSigma] = 1.0;
        p[kW1] = std::min(bandsOnScreen[0], kMaxInnerModel);
        p[kW2] = std::min(bandsOnScreen[1], kMaxInnerModel);
        p[kHole] = p[kLight];
    }
    using Jac = Eigen::Matrix<double, kAll, 1>;
    auto model = [&](const TipPixel& q, const Jac& v, Jac* jac) {
        const double sigma = v[kSigma];
        const double a = (v[kO1] - q.s1) / sigma, b = (v[kO2] - q.s2) / sigma;
        const double f = wedgeShare(a, b);
        const double ai = a - v[kW1] / sigma, bi = b - v[kW2] / sigma;
        const double fi = wedgeShare(ai, bi);
        const double light = v[kLight] + v[kLx] * q.x + v[kLy] * q.y;
        const double dark = v[kDark] + v[kDarkT] * q.t;
        if (jac) {
            const double r = std::sqrt(std::max(1 - rho * rho, 1e-8));
            const double fa = normalPdf(a) * normalCdf((b - rho * a) / r);
            const double fb = normalPdf(b) * normalCdf((a - rho * b) / r);
            const double fai = normalPdf(ai) * normalCdf((bi - rho * ai) / r);
            const double fbi = normalPdf(bi) * normalCdf((ai - rho * bi) / r);
            const double contrast = dark - light, inner = v[kHole] - dark;
            (*jac)[kO1] = (contrast * fa + inner * fai) / sigma;
            (*jac)[kO2] = (contrast * fb + inner * fbi) / sigma;
            (*jac)[kSigma] = -(contrast * (fa * a + fb * b) + inner * (fai * ai + fbi * bi)) / sigma;
            (*jac)[kDark] = f - fi;
            (*jac)[kDarkT] = (f - fi) * q.t;
            (*jac)[kW1] = -inner * fai / sigma;
            (*jac)[kW2] = -inner * fbi / sigma;
            (*jac)[kHole] = fi;
            (*jac)[kLight] = 1 - f;
            (*jac)[kLx] = (1 - f) * q.x;
            (*jac)[kLy] = (1 - f) * q.y;
        }
        return light + (dark - light) * f + (v[kHole] - dark) * fi;
    };
    auto cost = [&](const Jac& v) {
        double c = 0;
        for (const TipPixel& q : pixels) c += huberLoss(q.value - model(q, v, nullptr));
        return c;
    };
    double current = cost(p);
    double lambda = 1e-3;
    Jac jac;
    for (int it = 0; it < kTipIterations; ++it) {
        Eigen::Matrix<double, kAll, kAll> h = Eigen::Matrix<double, kAll, kAll>::Zero();
        Jac g = Jac::Zero();
        for (const TipPixel& q : pixels) {
            const double r = q.value - model(q, p, &jac);
            const double w = huberWeight(r);
            h.noalias() += w * jac * jac.transpose();
            g.noalias() += w * r * jac;
        }
        bool stepped = false, converged = false;
        for (int tries = 0; tries < 6 && !stepped; ++tries) {
            Eigen::Matrix<double, kAll, kAll> damped = h;
            damped.diagonal() *= 1 + lambda;
            // A hole beyond the pixels leaves its width and level free.
            damped.diagonal().array() += 1e-6 * h.diagonal().maxCoeff();
            const Jac step = damped.ldlt().solve(g);
            if (!step.allFinite()) return false;
            Jac next = p + step;
            next[kSigma] = std::clamp(next[kSigma], 0.2, 3.0);
            next[kW1] = std::clamp(next[kW1], 0.5, 2 * kMaxInnerModel);
            next[kW2] = std::clamp(next[kW2], 0.5, 2 * kMaxInnerModel);
            const double c = cost(next);
            if (c <= current) {
                p = next;
                current = c;
                lambda = std::max(lambda / 10, 1e-6);
                stepped = true;
                converged = std::max(std::abs(step[kO1]), std::abs(step[kO2])) < 1e-3;
            } else {
                lambda *= 10;
            }
        }
        if (!stepped || converged) break;
    }
    const double rms = std::sqrt(current / static_cast<double>(pixels.size()));
    if (!(std::abs(p[kO1]) < kMaxTipShift && std::abs(p[kO2]) < kMaxTipShift)) return false;
    if (!(p[kDark] + 2 * kMinEdgeSlope < p[kLight])) return false;
    if (!(rms <= kMaxModelRms)) return false;
    // The shifts' covariance from the normal matrix where the fit ended, scaled by the scatter the
    // model left; each shift's lever is where along its edge the pixels that place it lie.
    Eigen::Matrix<double, kAll, kAll> h = Eigen::Matrix<double, kAll, kAll>::Zero();
    double scatter = 0;
    double moment[2] = {}, weight[2] = {};
    for (const TipPixel& q : pixels) {
        const double r = q.value - model(q, p, &jac);
        const double w = huberWeight(r);
        h.noalias() += w * jac * jac.transpose();
        scatter += w * r * r;
        for (int e = 0; e < 2; ++e) {
            const double pull = w * jac[e == 0 ? kO1 : kO2] * jac[e == 0 ? kO1 : kO2];
            moment[e] += pull * std::max(0.0, q.x * screenAlong[e].x + q.y * screenAlong[e].y);
            weight[e] += pull;
        }
    }
    scatter /= static_cast<double>(pixels.size() - kAll);
    h.diagonal().array() += 1e-6 * h.diagonal().maxCoeff();
    const Eigen::Matrix<double, kAll, 2> inverse =
        h.ldlt().solve(Eigen::Matrix<double, kAll, kAll>::Identity().leftCols<2>());
    Line moved[2] = {before, after};
    for (int e = 0; e < 2; ++e) moved[e].point = moved[e].point + (p[e == 0 ? kO1 : kO2] / scales[e]) * normals[e];
    Vec meet;
    if (!intersect(moved[0], moved[1], meet)) return false;
    tip = meet;
    TipShifts shifts;
    shifts.covariance = {scatter * inverse(kO1, 0), scatter * inverse(kO1, 1), scatter * inverse(kO2, 1)};
    shifts.known = inverse.allFinite() && weight[0] > 0 && weight[1] > 0;
    const Vec meetPixel = toPixel(cam, meet);
    constexpr double kShiftStep = 1e-3;
    for (int e = 0; e < 2 && shifts.known; ++e) {
        Line nudged[2] = {moved[0], moved[1]};
        nudged[e].point = nudged[e].point + (kShiftStep / scales[e]) * normals[e];
        Vec nudgedMeet;
        shifts.known = intersect(nudged[0], nudged[1], nudgedMeet);
        shifts.tipPerShift[e] = (1.0 / kShiftStep) * (toPixel(cam, nudgedMeet) - meetPixel);
        // Measured from the starting tip: the fit moves it by a pixel or two, the lever is a dozen.
        shifts.lever[e] = moment[e] / weight[e];
    }
    knowledge = shifts;
    return true;
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

namespace {

// What a side's fit cannot show: blur, a worn band and compression shift the edge alike all along
// the side, which no scatter about the line reveals. On a clean picture (edge points scattering
// kCleanEdgeRms) it is this share of the scatter, and it grows with the square of the scatter: a
// softer picture both scatters the points and biases the edge more. The line itself comes from
// the strip model, steadier than the edge points it starts from: their scatter over their number
// counts this much in variance. Chosen so that the refined corners' errors on simulated bays from
// clean to harsh pictures fall within their covariance as a normal error would (measured with
// refine_effect_costs: median 0.4-0.7 and 95th percentile 1.6-2.4 in its units, a normal error
// giving 1.18 and 2.45).
constexpr double kCleanEdgeRms = 0.14;
constexpr double kHiddenEdgeShare = 0.25;
constexpr double kSeenEdgeShare = 0.25;

// The screen covariance of each refined corner from the two sides meeting there: each side's
// offset and turn known to its edge points' scatter, plus the hidden part above for the offset and
// for the turn (as opposite shifts of its ends), taken through the intersection and the lens. Two
// sides meeting at a sharp angle leave the corner loose along their bisector, though a sharp tip
// placed by its own pixels (`tips`, where known) is as loose as that fit left it.
void fillCovariances(const CameraParam& cam, const std::array<Line, 3>& sides, const std::array<Vec, 3>& corners,
                     const std::array<const TipShifts*, 3>& tips, std::array<CornerRefinement, 3>& out) {
    std::array<double, 3> varOffset{}, varTurn{};  // ideal units and radians, squared
    std::array<double, 3> turnPx{};                // screen radians, squared
    for (int s = 0; s < 3; ++s) {
        const Line& l = sides[s];
        const Vec normal{-l.direction.y, l.direction.x};
        Vec pixel, outward;
        double scale = 0;
        const double length = (kSideEnd - kSideStart) * norm(corners[(s + 1) % 3] - corners[s]);
        const double pixelLength =
            (kSideEnd - kSideStart) * norm(toPixel(cam, corners[(s + 1) % 3]) - toPixel(cam, corners[s]));
        if (l.used < 2 || !(length > 0) || !acrossSide(cam, l.point, l.direction, normal, pixel, outward, scale))
            return;
        const double seen = kSeenEdgeShare * l.rmsPixels * l.rmsPixels / l.used;
        const double hidden = std::pow(kHiddenEdgeShare * l.rmsPixels * l.rmsPixels / kCleanEdgeRms, 2);
        varOffset[s] = (seen + hidden) / (scale * scale);
        varTurn[s] = (12 * seen + 4 * hidden) / std::pow(scale * length, 2);
        turnPx[s] = (12 * seen + 4 * hidden) / (pixelLength * pixelLength);
    }
    constexpr double kStep = 1e-6;
    for (int i = 0; i < 3; ++i) {
        if (out[i].verdict != CornerVerdict::kRefined) continue;
        if (tips[i]) {
            // A tip placed by its own pixels is known as its fit placed the two edges there, plus
            // each side line's turn about where that fit measured the edge's shift.
            const TipShifts& t = *tips[i];
            const double c00 = t.covariance[0] + t.lever[0] * t.lever[0] * turnPx[(i + 2) % 3];
            const double c01 = t.covariance[1];
            const double c11 = t.covariance[2] + t.lever[1] * t.lever[1] * turnPx[i];
            const Vec g0 = t.tipPerShift[0], g1 = t.tipPerShift[1];
            const double xx = g0.x * g0.x * c00 + 2 * g0.x * g1.x * c01 + g1.x * g1.x * c11;
            const double xy = g0.x * g0.y * c00 + (g0.x * g1.y + g1.x * g0.y) * c01 + g1.x * g1.y * c11;
            const double yy = g0.y * g0.y * c00 + 2 * g0.y * g1.y * c01 + g1.y * g1.y * c11;
            if (std::isfinite(xx + xy + yy)) {
                out[i].covariance = {static_cast<float>(xx), static_cast<float>(xy), static_cast<float>(yy)};
                continue;
            }
        }
        const int pair[2] = {(i + 2) % 3, i};
        double xx = 0, xy = 0, yy = 0;
        bool ok = true;
        for (int m = 0; m < 2 && ok; ++m) {
            for (int turn = 0; turn < 2 && ok; ++turn) {
                Vec ends[2];
                for (int sign = 0; sign < 2 && ok; ++sign) {
                    Line moved = sides[pair[m]];
                    const double e = sign ? kStep : -kStep;
                    const Vec d = moved.direction;
                    if (turn) {
                        moved.direction = {d.x - e * d.y, d.y + e * d.x};
                    } else {
                        moved.point = moved.point + e * Vec{-d.y, d.x};
                    }
                    Vec meet;
                    ok = intersect(m == 0 ? moved : sides[pair[0]], m == 1 ? moved : sides[pair[1]], meet);
                    ends[sign] = toPixel(cam, meet);
                }
                if (!ok) break;
                const Vec g = (0.5 / kStep) * (ends[1] - ends[0]);
                const double var = turn ? varTurn[pair[m]] : varOffset[pair[m]];
                xx += g.x * g.x * var;
                xy += g.x * g.y * var;
                yy += g.y * g.y * var;
            }
        }
        if (ok && std::isfinite(xx + xy + yy))
            out[i].covariance = {static_cast<float>(xx), static_cast<float>(xy), static_cast<float>(yy)};
    }
}

}  // namespace

std::array<CornerRefinement, 3> refineTriangle(const GreyFloatImage& img, const CameraParam& cam,
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
    std::array<Line, 3> sides;  // side i runs from corner i to corner i + 1
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
    // The sides found, each is refitted on its strip of pixels and the corners intersected again.
    std::array<double, 3> bandsOnScreen{};
    for (int pass = 0; pass < kModelPasses && failure == CornerVerdict::kRefined; ++pass) {
        bool moved = false;
        std::array<double, 3> bands;
        for (int s = 0; s < 3; ++s)
            bands[s] = sideBand(img, cam, sides[s], current[s], current[(s + 1) % 3], current[(s + 2) % 3]);
        std::array<Line, 3> fitted = sides;
        std::array<StripLevels, 3> levels;
        std::array<bool, 3> ok{};
        auto fit = [&](int s, const StripLevels* fixed, double bandGuess) {
            fitted[s] = sides[s];
            ok[s] = fitSideModel(img, cam, fitted[s], current[s], current[(s + 1) % 3], current[(s + 2) % 3], bands[s],
                                 sides[(s + 2) % 3], bands[(s + 2) % 3], sides[(s + 1) % 3], bands[(s + 1) % 3], fixed,
                                 bandGuess, levels[s]);
        };
        for (int s = 0; s < 3; ++s) fit(s, nullptr, 0);
        // A band only a few pixels wide on screen leaves its darkness to be traded against its
        // width: those sides take it from the side whose band is widest. The blur stays their own:
        // the lens softens the picture towards its rim, and a thin band far out (a side camera's
        // sharp tips) is often twice as blurred as the wide band nearer the middle; held to the
        // wide band's blur, its fitted width and edge go wrong by pixels at the tip.
        int widest = -1;
        for (int s = 0; s < 3; ++s) {
            if (ok[s] && (widest < 0 || levels[s].bandPixels > levels[widest].bandPixels)) widest = s;
        }
        // A band its own fit left far thinner than its profiles see it traded its darkness for its
        // width (in a shadow a thin band's darkness can run to black and its width to a sliver, and
        // explain the strip about as well): it takes the darkness of the widest band even where
        // that one is thin too.
        auto sliver = [&](int s) { return levels[s].bandPixels < kMinOwnBandShare * bands[s]; };
        const bool wide = widest >= 0 && levels[widest].bandPixels >= kThinBand;
        if (widest >= 0 && !sliver(widest)) {
            const StripLevels reference = levels[widest];
            for (int s = 0; s < 3; ++s) {
                if (s == widest || levels[s].bandPixels >= kThinBand || (!wide && !sliver(s))) continue;
                const Line own = fitted[s];
                const bool ownOk = ok[s];
                const StripLevels ownLevels = levels[s];
                const bool ownPlausible = !sliver(s);
                fit(s, &reference, levels[s].bandPixels);
                // Worn or dusty paint is not equally dark on every side: a side the borrowed
                // darkness explains worse than its own (by more than the grain does) keeps its own.
                if (ownOk && ownPlausible && (!ok[s] || fitted[s].modelRms > kBorrowedRmsGain * own.modelRms)) {
                    fitted[s] = own;
                    ok[s] = true;
                    levels[s] = ownLevels;
                }
            }
        }
        for (int s = 0; s < 3; ++s) {
            bandsOnScreen[s] = ok[s] ? levels[s].bandPixels : bands[s];
            if (ok[s]) {
                sides[s] = fitted[s];
                moved = true;
            }
        }
        if (!moved) break;
        std::array<Vec, 3> next;
        bool meet = true;
        for (int i = 0; i < 3; ++i) meet = meet && intersect(sides[(i + 2) % 3], sides[i], next[i]);
        if (!meet) break;
        current = next;
    }
    // Each side is sought between the corners the other two give: one side off the frame's edge
    // misplaces where the others are sampled, so its corners and the third stay with the given points.
    // A side on the edge but scattered (a shadow's border or a cable over part of it) only keeps
    // its own two corners: the third, where the two sound sides meet, does not depend on it.
    std::array<TipShifts, 3> tipShifts;
    std::array<const TipShifts*, 3> tips{};
    std::array<bool, 3> ownTip{};
    if (failure == CornerVerdict::kRefined) {
        const std::array<Vec, 3> lines = current;
        for (int i = 0; i < 3; ++i) {
            if (fitTip(img, cam, sides[(i + 2) % 3], sides[i], lines[(i + 2) % 3], lines[(i + 1) % 3],
                       bandsOnScreen[(i + 2) % 3], bandsOnScreen[i], current[i], tipShifts[i]))
                ownTip[i] = true;
            if (tipShifts[i].known) tips[i] = &tipShifts[i];
        }
    }
    const double worstSide = std::max({sides[0].rmsPixels, sides[1].rmsPixels, sides[2].rmsPixels});
    for (int i = 0; i < 3; ++i) {
        CornerRefinement& r = out[i];
        if (failure != CornerVerdict::kRefined) {
            r.verdict = failure;
            continue;
        }
        const Vec p = toPixel(cam, current[i]);
        // How far square to each of its two sides the given point lies on screen.
        double shift = 0;
        Vec given;
        if (!pixelToUnitIdeal(cam, r.given.x, r.given.y, given.x, given.y)) shift = HUGE_VAL;
        for (const Line* side : {&sides[(i + 2) % 3], &sides[i]}) {
            if (!(shift < HUGE_VAL)) break;
            // The ideal plane is stretched unevenly: the distance is taken square to the side's image.
            const Vec normal{-side->direction.y, side->direction.x};
            const Vec foot = given - dot(given - side->point, normal) * normal;
            const Vec from = toPixel(cam, foot), to = toPixel(cam, foot + 1e-3 * side->direction);
            const Vec along = to - from;
            shift = std::max(shift, std::abs(cross(along, Vec{r.given.x, r.given.y} - from)) / norm(along));
        }
        r.sideRms = static_cast<float>(std::max(sides[(i + 2) % 3].rmsPixels, sides[i].rmsPixels));
        r.moved = static_cast<float>(std::hypot(p.x - r.given.x, p.y - r.given.y));
        if (!finite(p) || p.x <= 0 || p.y <= 0 || p.x >= img.width || p.y >= img.height) {
            r.verdict = CornerVerdict::kInvalidInput;
        } else if (!(shift <= kMaxSideShift)) {
            r.verdict = CornerVerdict::kMovedTooFar;
        } else if (!(r.sideRms <= kMaxSideRms) || !(worstSide <= kMaxSampledSideRms)) {
            r.verdict = CornerVerdict::kPoorFit;
        } else {
            r.verdict = CornerVerdict::kRefined;
            r.refined = {static_cast<float>(p.x), static_cast<float>(p.y)};
            r.ownTip = ownTip[i];
        }
    }
    if (failure == CornerVerdict::kRefined) fillCovariances(cam, sides, current, tips, out);
    return out;
}

GreyFloatImage greyFromBgr(std::span<const uint8_t> rows, int width, int height) {
    GreyFloatImage img;
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
