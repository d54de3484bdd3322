#include "pattern/corner_fitting.h"

#include <algorithm>
#include <cmath>

#include "geometry/angles.h"
#include "mz/mzgeometry.h"

namespace mz::pattern {

// --- Generator ---

namespace {
thread_local uint32_t tGeneratorState = 1;
}  // namespace

uint32_t generatorState() { return tGeneratorState; }

void setGeneratorState(uint32_t state) { tGeneratorState = state; }

int randomDraw() {
    tGeneratorState = tGeneratorState * 214013u + 2531011u;
    return static_cast<int>((tGeneratorState >> 16) & 0x7FFFu);
}

// --- Outline tracing ---

namespace {
constexpr int kDirX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kDirY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
}  // namespace

std::vector<OutlinePoint> traceOutline(const GreyImage& mask) {
    std::vector<OutlinePoint> outline;
    const int w = mask.width;
    const int h = mask.height;
    const size_t capacity = mask.pixels.size();
    const auto first = std::find(mask.pixels.begin(), mask.pixels.end(), uint8_t{255});
    if (first == mask.pixels.end()) {
        return outline;
    }
    const auto startIndex = static_cast<size_t>(first - mask.pixels.begin());
    const int sx = static_cast<int>(startIndex % static_cast<size_t>(w));
    const int sy = static_cast<int>(startIndex / static_cast<size_t>(w));
    outline.reserve(std::min<size_t>(capacity, 4096));

    int x = sx;
    int y = sy;
    int d = 0;
    int failed = 0;
    for (;;) {
        const int nx = x + kDirX[d];
        const int ny = y + kDirY[d];
        if (nx >= 0 && nx < w && ny >= 0 && ny < h && mask.at(nx, ny) == 255) {
            outline.push_back({x, y});
            if (outline.size() >= capacity) {
                break;
            }
            d = (d + 6) % 8;
            x = nx;
            y = ny;
            failed = 0;
        } else {
            d = (d + 1) % 8;
            if (++failed == 8) {
                outline.push_back({x, y});
                break;
            }
        }
        if (x == sx && y == sy && d == 0) {
            break;
        }
    }
    return outline;
}

// --- Lines ---

FittedLine fitLine(const Point2F* points, size_t count) {
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double x = points[i].x;
        const double y = points[i].y;
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
    }
    const double n = static_cast<double>(count);
    const double theta =
        0.5 * std::atan2(2.0 * (sxy - sx * sy / n) / n, (sxx - sx * sx / n) / n - (syy - sy * sy / n) / n);
    return FittedLine{std::cos(theta), std::sin(theta), sx / n, sy / n};
}

double distanceToLine(const FittedLine& line, const Point2F& p) {
    return std::abs((p.x - line.px) * line.dy - (p.y - line.py) * line.dx) /
           std::sqrt(line.dx * line.dx + line.dy * line.dy);
}

int consensusTrials() {
    // Probability 0.99 of one clean sample, half the points assumed on the line, two per sample.
    return static_cast<int>(std::log(1.0 - 0.99) / std::log(1.0 - 0.5 * 0.5) + 1.0);
}

namespace {

bool samePoint(const Point2F& a, const Point2F& b) { return a.x == b.x && a.y == b.y; }

// A list of one repeated point would make the redraw of the second sample point spin forever,
// and the 15-bit draws reach only the first 32768 entries, so both bounds are needed.
constexpr int kMaxRedraws = 1 << 16;

}  // namespace

Consensus consensusSearch(const std::vector<Point2F>& points) {
    Consensus result;
    const size_t n = points.size();
    if (n < 2) {
        return result;
    }
    if (std::all_of(points.begin(), points.end(), [&](const Point2F& p) { return samePoint(p, points[0]); })) {
        return result;
    }
    const int trials = consensusTrials();
    std::vector<Point2F> support;
    support.reserve(n);
    Point2F sample[2];
    for (int trial = 0; trial < trials; ++trial) {
        sample[0] = points[static_cast<size_t>(randomDraw()) % n];
        sample[1] = points[static_cast<size_t>(randomDraw()) % n];
        int redraws = 0;
        while (samePoint(sample[0], sample[1]) && redraws < kMaxRedraws) {
            sample[1] = points[static_cast<size_t>(randomDraw()) % n];
            ++redraws;
        }
        if (samePoint(sample[0], sample[1])) {
            continue;
        }
        const FittedLine candidate = fitLine(sample, 2);
        support.clear();
        for (const Point2F& p : points) {
            if (distanceToLine(candidate, p) < kLineDistance) {
                support.push_back(p);
            }
        }
        if (static_cast<int>(support.size()) > result.support) {
            result.support = static_cast<int>(support.size());
            result.line = fitLine(support.data(), support.size());
        }
    }
    return result;
}

std::vector<FittedLine> findSides(std::vector<Point2F> points, int most) {
    std::vector<FittedLine> sides;
    std::vector<Point2F> rest;
    rest.reserve(points.size());
    while (static_cast<int>(sides.size()) < most) {
        if (points.size() < static_cast<size_t>(kMinSideSupport)) {
            break;
        }
        Consensus found;
        for (int search = 0; search < kMaxSideSearches && found.support < kMinSideSupport; ++search) {
            found = consensusSearch(points);
        }
        if (found.support < kMinSideSupport) {
            break;
        }
        // Trim the line to the stretch its supporters cover and take them out of the list.
        const FittedLine& line = found.line;
        const double norm = line.dx * line.dx + line.dy * line.dy;
        double smin = 1000.0;
        double smax = -1000.0;
        rest.clear();
        for (const Point2F& p : points) {
            if (distanceToLine(line, p) > kLineDistance) {
                rest.push_back(p);
                continue;
            }
            const double s = ((p.x - line.px) * line.dx + (p.y - line.py) * line.dy) / norm;
            smin = std::min(smin, s);
            smax = std::max(smax, s);
        }
        sides.push_back(FittedLine{(smax - smin) * line.dx, (smax - smin) * line.dy, line.px + smin * line.dx,
                                   line.py + smin * line.dy});
        points.swap(rest);
    }
    return sides;
}

std::optional<std::array<FittedLine, 3>> findThreeSides(std::vector<Point2F> points) {
    const std::vector<FittedLine> found = findSides(std::move(points), 3);
    if (found.size() < 3) {
        return std::nullopt;
    }
    return std::array<FittedLine, 3>{found[0], found[1], found[2]};
}

Point2F intersectSides(const FittedLine& a, const FittedLine& b) {
    const auto stretch = [](const FittedLine& l, float sign) {
        return Point2F{static_cast<float>(l.px) + sign * 500.0f * static_cast<float>(l.dx),
                       static_cast<float>(l.py) + sign * 500.0f * static_cast<float>(l.dy)};
    };
    const Point2F a1 = stretch(a, -1.0f), a2 = stretch(a, 1.0f);
    const Point2F b1 = stretch(b, -1.0f), b2 = stretch(b, 1.0f);
    const float q = (a2.x - a1.x) * (b2.y - b1.y) - (a2.y - a1.y) * (b2.x - b1.x);
    const float na = (b2.x - b1.x) * (a1.y - b1.y) - (b2.y - b1.y) * (a1.x - b1.x);
    const float nb = (a2.x - a1.x) * (a1.y - b1.y) - (a2.y - a1.y) * (a1.x - b1.x);
    if (q == 0.0f || (na == 0.0f && nb == 0.0f)) {
        return Point2F{0.0f, 0.0f};
    }
    const float ta = na / q;
    const float tb = nb / q;
    if (!(ta >= 0.0f && ta <= 1.0f && tb >= 0.0f && tb <= 1.0f)) {
        return Point2F{0.0f, 0.0f};
    }
    return Point2F{a1.x + ta * (a2.x - a1.x), a1.y + ta * (a2.y - a1.y)};
}

namespace {

// The mask's outline on the ideal plane.
std::vector<Point2F> idealOutline(const GreyImage& mask, int left, int top, int xo, const CameraParam& camera) {
    const std::vector<OutlinePoint> outline = traceOutline(mask);
    std::vector<Point2F> ideal(outline.size());
    for (size_t i = 0; i < outline.size(); ++i) {
        const Point2F pixel{static_cast<float>(outline[i].x + left) + static_cast<float>(xo),
                            static_cast<float>(outline[i].y + top)};
        mzFeatureUndistortion(&pixel, &ideal[i], &camera);
    }
    return ideal;
}

Corners cornersOf(const FittedLine& a, const FittedLine& b, const FittedLine& c, const CameraParam& camera) {
    const Point2F idealCorners[3] = {intersectSides(a, b), intersectSides(b, c), intersectSides(c, a)};
    Corners corners;
    for (int i = 0; i < 3; ++i) {
        mzFeatureDistortion(&idealCorners[i], &corners[static_cast<size_t>(i)], &camera);
    }
    return corners;
}

}  // namespace

std::optional<Corners> fitTriangleCorners(const GreyImage& mask, int left, int top, int xo, const CameraParam& camera) {
    const auto sides = findThreeSides(idealOutline(mask, left, top, xo, camera));
    if (!sides) {
        return std::nullopt;
    }
    const auto& s = *sides;
    return cornersOf(s[0], s[1], s[2], camera);
}

std::vector<Corners> triangleChoices(const GreyImage& mask, int left, int top, int xo, const CameraParam& camera,
                                     int most) {
    const std::vector<FittedLine> sides = findSides(idealOutline(mask, left, top, xo, camera), most);
    std::vector<Corners> choices;
    const size_t n = sides.size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            for (size_t k = j + 1; k < n; ++k) {
                choices.push_back(cornersOf(sides[i], sides[j], sides[k], camera));
            }
        }
    }
    return choices;
}

// --- Check and order ---

bool isTriangle(const Corners& c, int width, int height) {
    for (const Point2F& p : c) {
        if (!(p.x > 0.0f && p.x < static_cast<float>(width) && p.y > 0.0f && p.y < static_cast<float>(height))) {
            return false;
        }
    }
    const auto rounded = [](const Point2F& a, const Point2F& b) {
        const float dx = a.x - b.x;
        const float dy = a.y - b.y;
        return static_cast<int64_t>(std::sqrt(dx * dx + dy * dy) + 0.5f);
    };
    std::array<int64_t, 3> len = {rounded(c[0], c[1]), rounded(c[1], c[2]), rounded(c[2], c[0])};
    std::sort(len.begin(), len.end(), std::greater<>());
    return len[0] < len[1] + len[2];
}

namespace {

// Screen angle of the direction from p to the centre, y flipped so angles run counter-clockwise
// on screen; the axis-aligned cases are pinned so signed zeros cannot move them.
float angleToward(const Point2F& centre, const Point2F& p) {
    const float dy = -(centre.y - p.y);
    const float dx = centre.x - p.x;
    if (dy == 0.0f) {
        return dx >= 0.0f ? 0.0f : 180.0f;
    }
    if (dx == 0.0f) {
        return dy > 0.0f ? 90.0f : 270.0f;
    }
    float a = std::atan2(dy, dx) * kRadToDeg<float>;
    if (a < 0.0f) {
        a += 360.0f;
    }
    return a;
}

}  // namespace

void orderCorners(Corners& c) {
    const Point2F centre{(c[0].x + c[1].x + c[2].x) / 3.0f, (c[0].y + c[1].y + c[2].y) / 3.0f};
    // By decreasing y; of equal y the earlier corner stays first.
    Corners sorted = c;
    for (size_t i = 1; i < sorted.size(); ++i) {
        for (size_t j = i; j > 0 && sorted[j].y > sorted[j - 1].y; --j) {
            std::swap(sorted[j], sorted[j - 1]);
        }
    }

    // The angle ranges place the two upper corners of ordinary triangles; on oblique, elongated
    // ones a small fit error can push a step below 60 degrees and leave a position unfilled, so
    // then the on-screen turn about the lowest corner decides.
    const float base = angleToward(centre, sorted[0]);
    int position[3] = {0, 0, 0};
    for (int k = 1; k <= 2; ++k) {
        float u = angleToward(centre, sorted[static_cast<size_t>(k)]) - base;
        if (u < 0.0f) {
            u += 360.0f;
        }
        if (u >= 60.0f && u < 180.0f) {
            position[k] = 2;
        } else if (u >= 180.0f && u < 300.0f) {
            position[k] = 1;
        }
    }
    c[0] = sorted[0];
    if (position[1] != 0 && position[2] != 0 && position[1] != position[2]) {
        c[static_cast<size_t>(position[1])] = sorted[1];
        c[static_cast<size_t>(position[2])] = sorted[2];
        return;
    }
    const float cross = (sorted[1].x - sorted[0].x) * (sorted[2].y - sorted[0].y) -
                        (sorted[1].y - sorted[0].y) * (sorted[2].x - sorted[0].x);
    // With y pointing down, a positive cross product turns clockwise on screen.
    if (cross >= 0.0f) {
        c[1] = sorted[1];
        c[2] = sorted[2];
    } else {
        c[1] = sorted[2];
        c[2] = sorted[1];
    }
}

}  // namespace mz::pattern
