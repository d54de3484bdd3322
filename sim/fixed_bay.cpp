#include "sim/fixed_bay.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "geometry/angles.h"
#include "geometry/lens_model.h"
#include "view/detection_rects.h"

namespace mz::sim {
namespace {

constexpr double kDeg = kDegToRad<double>;
constexpr int kSamples = 32;          // per side of a triangle's outline
constexpr double kMarkerMargin = 6;   // picture pixels kept free inside a marker rectangle
constexpr double kCanvasMargin = 40;  // canvas pixels kept free inside a corner window
constexpr double kCheckMargin = 3;    // what the checks insist on, picture pixels
constexpr double kCheckCanvasMargin = 15;
constexpr double kFill = 0.8;           // share of the free box a target should span
constexpr double kMinRingPixels = 300;  // the marker detector drops regions of 200 pixels or fewer
constexpr double kGoodBand = 3.5;       // pixels across the band the layout aims at
constexpr double kGoodRing = 500;       // pixels of a ring the layout aims at
constexpr double kCanvasWidth = 3000, kCanvasHeight = 1800;

double sq(double v) { return v * v; }
double over(double v) { return v > 0 ? v : 0; }

// Where the corner detector's perspective canvas puts a picture point: the record's inverse
// polynomial, as the detector evaluates it.
Vec2 toCanvas(const Lens& l, Vec2 p) {
    double u, v;
    lens::normalisedOffset(l, p.x, p.y, u, v);
    const double rho = std::hypot(u, v);
    if (rho == 0) return {kCanvasWidth / 2, kCanvasHeight / 2};
    const double t = std::tan(lens::angleOfRadius(l.c.data(), rho));
    return {l.fx * t * u / rho + kCanvasWidth / 2, l.fy * t * v / rho + kCanvasHeight / 2};
}

Box cornerWindow(const Lens& lens, int code, int side) {
    detect::SearchRect r;
    detect::cornerSearchRect(code, side, r);
    Box w;
    for (const double x : {r.x, r.x + r.width - 1})
        for (const double y : {r.y, r.y + r.height - 1}) {
            const Vec2 c = toCanvas(lens, {x, y});
            w.add({std::clamp(c.x, 0.0, kCanvasWidth - 1), std::clamp(c.y, 0.0, kCanvasHeight - 1)});
        }
    return w;
}

Box markerBox(int code, int side) {
    detect::SearchRect r;
    detect::markerSearchRect(code, side, r);
    return {double(r.x), double(r.y), double(r.x + r.width - 1), double(r.y + r.height - 1)};
}

Box cornerPictureBox(int code, int side) {
    detect::SearchRect r;
    detect::cornerSearchRect(code, side, r);
    return {double(r.x), double(r.y), double(r.x + r.width - 1), double(r.y + r.height - 1)};
}

// On-screen and on-canvas boxes of a triangle's outline; false when part of it is not seen.
bool targetBoxes(const Camera& cam, const std::array<Vec2, 3>& corners, Box& picture, Box& canvas) {
    for (int e = 0; e < 3; ++e) {
        const Vec2 a = corners[e], b = corners[(e + 1) % 3];
        for (int i = 0; i < kSamples; ++i) {
            const double t = double(i) / kSamples;
            Vec2 px;
            if (!projectToPixel(cam, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, 0}, px)) return false;
            picture.add(px);
            canvas.add(toCanvas(cam.lens, px));
        }
    }
    return true;
}

double ringPixels(const Camera& cam, const Triangle& tri) {
    auto area = [&](const std::array<Vec2, 3>& c) {
        std::array<Vec2, 3> p;
        for (int i = 0; i < 3; ++i)
            if (!projectToPixel(cam, {c[i].x, c[i].y, 0}, p[i])) return 0.0;
        return std::fabs((p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y)) / 2;
    };
    return area(tri.corners) - area(innerCorners(tri));
}

double placementCost(const Camera& cam, const Triangle& tri, int code, int side) {
    Box picture, canvas;
    if (!targetBoxes(cam, tri.corners, picture, canvas)) return 1e9;
    const Box marker = markerBox(code, side).shrunk(kMarkerMargin);
    const Box window = cornerWindow(cam.lens, code, side).shrunk(kCanvasMargin);
    double cost = 10 * (marker.excess(picture) + window.excess(canvas));
    // Aim at the middle of the picture box both detectors share, spanning most of it.
    const Box goal = cornerPictureBox(code, side);
    const Box shared = {std::max(goal.x0, marker.x0), std::max(goal.y0, marker.y0), std::min(goal.x1, marker.x1),
                        std::min(goal.y1, marker.y1)};
    const double w = std::max(shared.x1 - shared.x0, 4.0), h = std::max(shared.y1 - shared.y0, 4.0);
    const double fill = std::max((picture.x1 - picture.x0) / w, (picture.y1 - picture.y0) / h);
    cost += 50 * sq(fill - kFill);
    cost += 20 * (sq((picture.x0 + picture.x1 - shared.x0 - shared.x1) / 2 / w) +
                  sq((picture.y0 + picture.y1 - shared.y0 - shared.y1) / 2 / h));
    // Seen too flat, the band breaks up and the ring falls under the marker detector's size limit.
    cost += 10 * sq(over(kGoodBand - minBandOnScreen(cam, tri))) + 1e-3 * sq(over(kGoodRing - ringPixels(cam, tri)));
    return cost;
}

// Pose parameters: x, y, z (mm), heading, tilt, roll (degrees).
using Pose = std::array<double, 6>;

Camera posed(const Camera& base, const Pose& p) {
    Camera c = base;
    c.position = {p[0], p[1], p[2]};
    c.headingDeg = p[3];
    c.tiltDeg = p[4];
    c.rollDeg = p[5];
    c.rotation = cameraRotation(c.headingDeg, c.tiltDeg, c.rollDeg);
    return c;
}

double poseCost(const Rig& rig, int camera, const Pose& start, const Pose& p) {
    const Camera cam = posed(rig.cameras[camera], p);
    double cost = 0;
    for (int side = 0; side < 2; ++side)
        cost += placementCost(cam, rig.triangles[kCameraTriangles[camera][side]], camera, side);
    // A camera stays where a vehicle can carry it: above the floor, looking down, nearly level.
    cost += 1e-2 * sq(over(500 - p[2])) + 1e-2 * sq(over(p[2] - 1500));
    cost += 100 * (sq(over(15 - p[4])) + sq(over(p[4] - 80)) + sq(over(std::fabs(p[5]) - 15)));
    cost += 1e-7 * (sq(p[0] - start[0]) + sq(p[1] - start[1]));
    return cost;
}

// Nelder-Mead simplex search; deterministic.
template <size_t N, class Fn>
std::array<double, N> minimise(Fn f, std::array<double, N> start, const std::array<double, N>& step, int evaluations) {
    using Point = std::array<double, N>;
    constexpr int n = static_cast<int>(N);
    std::array<Point, n + 1> x;
    std::array<double, n + 1> fx;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i <= n; ++i) {
            x[i] = start;
            if (i > 0) x[i][i - 1] += step[i - 1];
            fx[i] = f(x[i]);
        }
        for (int it = 0; it < evaluations / 4; ++it) {
            std::array<int, n + 1> order;
            for (int i = 0; i <= n; ++i) order[i] = i;
            std::sort(order.begin(), order.end(), [&](int a, int b) { return fx[a] < fx[b]; });
            const int best = order[0], worst = order[n], second = order[n - 1];
            Point centre{};
            for (int i = 0; i <= n; ++i)
                if (i != worst)
                    for (int k = 0; k < n; ++k) centre[k] += x[i][k] / n;
            auto along = [&](double t) {
                Point p;
                for (int k = 0; k < n; ++k) p[k] = centre[k] + t * (x[worst][k] - centre[k]);
                return p;
            };
            const Point r = along(-1);
            const double fr = f(r);
            if (fr < fx[best]) {
                const Point e = along(-2);
                const double fe = f(e);
                if (fe < fr) {
                    x[worst] = e;
                    fx[worst] = fe;
                } else {
                    x[worst] = r;
                    fx[worst] = fr;
                }
            } else if (fr < fx[second]) {
                x[worst] = r;
                fx[worst] = fr;
            } else {
                const Point c = along(0.5);
                const double fc = f(c);
                if (fc < fx[worst]) {
                    x[worst] = c;
                    fx[worst] = fc;
                } else {
                    for (int i = 0; i <= n; ++i) {
                        if (i == best) continue;
                        for (int k = 0; k < n; ++k) x[i][k] = x[best][k] + 0.5 * (x[i][k] - x[best][k]);
                        fx[i] = f(x[i]);
                    }
                }
            }
        }
        start = x[std::min_element(fx.begin(), fx.end()) - fx.begin()];
    }
    return start;
}

}  // namespace

Rig fixedRig(const RigOptions& options) {
    if (options.width != 720 || options.height != 480)
        throw std::invalid_argument("the fixed bay's search rectangles are those of a 720x480 picture");
    if (options.markerLength <= 0) throw std::invalid_argument("marker length must be positive");
    Rig rig;
    rig.options = options;
    rig.options.fixedLayout = true;
    const double halfW = options.vehicleWidth / 2, halfL = options.vehicleLength / 2;
    // Triangles: gap out of the vehicle corner (mm) and axis (degrees from the cross direction).
    std::array<std::array<double, 2>, 4> placement;
    auto place = [&](int t, const std::array<double, 2>& p) {
        rig.triangles[t] = cornerTriangle(options, t, p[0], p[1]);
        rig.triangles[t].band = options.markerLength / 6;
    };
    for (int t = 0; t < 4; ++t) {
        placement[t] = {375, 45};
        place(t, placement[t]);
    }
    const Pose starts[4] = {{0, halfL + 20, 750, 0, 40, 0},
                            {0, -halfL - 20, 900, 180, 40, 0},
                            {-halfW - 115, halfL - 2000, 1000, -90, 52, 0},
                            {halfW + 115, halfL - 2000, 1000, 90, 52, 0}};
    std::array<Pose, 4> poses;
    for (int c = 0; c < 4; ++c) poses[c] = starts[c];
    finishRig(rig);
    const Pose step = {150, 150, 150, 8, 8, 4};
    // Cameras and triangles in turn: each camera for the triangles as they lie, then each
    // triangle for the two cameras that see it.
    for (int round = 0; round < 3; ++round) {
        for (int c = 0; c < 4; ++c) {
            poses[c] = minimise([&](const Pose& p) { return poseCost(rig, c, starts[c], p); }, poses[c], step, 4000);
            rig.cameras[c] = posed(rig.cameras[c], poses[c]);
        }
        for (int t = 0; t < 4; ++t) {
            auto cost = [&](const std::array<double, 2>& p) {
                place(t, p);
                double sum =
                    sq(over(100 - p[0])) + sq(over(p[0] - 1500)) + 100 * (sq(over(-p[1])) + sq(over(p[1] - 90)));
                for (int c = 0; c < 4; ++c)
                    for (int side = 0; side < 2; ++side)
                        if (kCameraTriangles[c][side] == t)
                            sum += placementCost(rig.cameras[c], rig.triangles[t], c, side);
                return sum;
            };
            placement[t] = minimise(cost, placement[t], {100.0, 10.0}, 800);
            place(t, placement[t]);
        }
    }
    rig.attempts = 1;
    const std::vector<std::string> problems = checkFixedRig(rig);
    if (!problems.empty()) {
        std::string message = "the fixed bay cannot be laid out:";
        for (const std::string& p : problems) message += "\n  " + p;
        throw std::runtime_error(message);
    }
    return rig;
}

std::vector<std::string> checkFixedRig(const Rig& rig) {
    std::vector<std::string> problems;
    const char* sideNames[2] = {"left", "right"};
    for (int cam = 0; cam < 4; ++cam) {
        const Camera& camera = rig.cameras[cam];
        for (int side = 0; side < 2; ++side) {
            const Triangle& tri = rig.triangles[kCameraTriangles[cam][side]];
            const std::string who = std::string(kCameraNames[cam]) + " camera, " + sideNames[side] + " target: ";
            Box picture, canvas;
            if (!targetBoxes(camera, tri.corners, picture, canvas)) {
                problems.push_back(who + "not fully in the camera's field of view");
                continue;
            }
            if (!markerBox(cam, side).shrunk(kCheckMargin).contains(picture))
                problems.push_back(who + "not inside the marker detector's rectangle");
            if (!cornerWindow(camera.lens, cam, side).shrunk(kCheckCanvasMargin).contains(canvas))
                problems.push_back(who + "not inside the corner detector's window");
            if (minBandOnScreen(camera, tri) < 2.0) problems.push_back(who + "its band is too thin on screen");
            if (ringPixels(camera, tri) < kMinRingPixels) problems.push_back(who + "too small on screen");
        }
    }
    return problems;
}

}  // namespace mz::sim
