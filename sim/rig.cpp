#include "sim/rig.h"

#include "sim/fixed_bay.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "geometry/angles.h"

namespace mz::sim {

namespace {

constexpr double kDeg = kDegToRad<double>;
constexpr const char* kTriangleNames[4] = {"T1 (front-left)", "T2 (front-right)", "T3 (rear-right)", "T4 (rear-left)"};
// A frame must stay inside the field with room to spare; past 90 degrees the ideal plane of the
// camera record has no image of the point at all.
constexpr double kMaxCornerAngle = 85.0 * kDeg;
constexpr int kEdgeSamples = 48;

// Uniform draws from the raw 64-bit stream: the standard distributions are not required to give
// the same numbers on every library, and the bay must not depend on the toolchain.
class Draw {
public:
    explicit Draw(uint64_t seed) : engine_(seed) {}
    double uniform(double lo, double hi) {
        const double u = static_cast<double>(engine_() >> 11) * 0x1.0p-53;
        return lo + (hi - lo) * u;
    }

private:
    std::mt19937_64 engine_;
};

Vec2 rotate(Vec2 v, double a) { return {v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a)}; }

// On-screen bounding box of a triangle's outline (its sides bend under the fisheye); false when
// part of it is outside the usable field.
bool outlineBox(const Camera& cam, const std::array<Vec2, 3>& corners, Box& box) {
    for (int e = 0; e < 3; ++e) {
        const Vec2 a = corners[e];
        const Vec2 b = corners[(e + 1) % 3];
        for (int i = 0; i < kEdgeSamples; ++i) {
            const double t = static_cast<double>(i) / kEdgeSamples;
            const Vec3 p{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, 0};
            const Vec3 d{p.x - cam.position.x, p.y - cam.position.y, p.z - cam.position.z};
            const Mat3& r = cam.rotation;
            const double z = r[2][0] * d.x + r[2][1] * d.y + r[2][2] * d.z;
            const double norm = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (z <= norm * std::cos(kMaxCornerAngle)) return false;
            Vec2 px;
            if (!projectToPixel(cam, p, px)) return false;
            box.add(px);
        }
    }
    return true;
}

constexpr double kMinBandPixels = 2.0;
constexpr double kMaxFittedAngle = 75.0 * kDeg;

// Angle between the optical axis and the ray to a floor point.
double incidence(const Camera& cam, Vec2 p) {
    const Vec3 d{p.x - cam.position.x, p.y - cam.position.y, -cam.position.z};
    const Mat3& r = cam.rotation;
    const double z = r[2][0] * d.x + r[2][1] * d.y + r[2][2] * d.z;
    return std::acos(std::clamp(z / std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), -1.0, 1.0));
}

}  // namespace

std::array<Vec2, 3> innerCorners(const Triangle& t) {
    const Vec2 c{(t.corners[0].x + t.corners[1].x + t.corners[2].x) / 3,
                 (t.corners[0].y + t.corners[1].y + t.corners[2].y) / 3};
    const double side = std::hypot(t.corners[1].x - t.corners[0].x, t.corners[1].y - t.corners[0].y);
    const double inradius = side / (2 * std::sqrt(3.0));
    const double s = (inradius - t.band) / inradius;
    std::array<Vec2, 3> inner;
    for (int i = 0; i < 3; ++i) {
        inner[i] = {c.x + (t.corners[i].x - c.x) * s, c.y + (t.corners[i].y - c.y) * s};
    }
    return inner;
}

Triangle cornerTriangle(const RigOptions& options, int index, double gap, double axisDeg) {
    const double sx[4] = {-1, 1, 1, -1}, sy[4] = {1, 1, -1, -1};
    const double axis = axisDeg * kDeg, side = options.markerLength;
    const Vec2 u{sx[index] * std::cos(axis), sy[index] * std::sin(axis)};
    Triangle tri;
    tri.corners[0] = {sx[index] * options.vehicleWidth / 2 + gap * u.x,
                      sy[index] * options.vehicleLength / 2 + gap * u.y};
    // Corner 1 then 2 counter-clockwise seen from above.
    const Vec2 e1 = rotate(u, -30 * kDeg), e2 = rotate(u, 30 * kDeg);
    const bool ccw = sx[index] * sy[index] < 0;
    const Vec2 a = ccw ? e1 : e2, b = ccw ? e2 : e1;
    tri.corners[1] = {tri.corners[0].x + side * a.x, tri.corners[0].y + side * a.y};
    tri.corners[2] = {tri.corners[0].x + side * b.x, tri.corners[0].y + side * b.y};
    return tri;
}

Mat3 cameraRotation(double headingDeg, double tiltDeg, double rollDeg) {
    const double h = headingDeg * kDeg, t = tiltDeg * kDeg, r = rollDeg * kDeg;
    const Vec3 d{std::sin(h) * std::cos(t), std::cos(h) * std::cos(t), -std::sin(t)};
    const Vec3 x{std::cos(h), -std::sin(h), 0};
    const Vec3 y{d.y * x.z - d.z * x.y, d.z * x.x - d.x * x.z, d.x * x.y - d.y * x.x};
    const double c = std::cos(r), s = std::sin(r);
    Mat3 m;
    m[0] = {c * x.x + s * y.x, c * x.y + s * y.y, c * x.z + s * y.z};
    m[1] = {-s * x.x + c * y.x, -s * x.y + c * y.y, -s * x.z + c * y.z};
    m[2] = {d.x, d.y, d.z};
    return m;
}

bool projectToPixel(const Camera& camera, const Vec3& p, Vec2& pixel) {
    const Vec3 d{p.x - camera.position.x, p.y - camera.position.y, p.z - camera.position.z};
    const Mat3& r = camera.rotation;
    const double x = r[0][0] * d.x + r[0][1] * d.y + r[0][2] * d.z;
    const double y = r[1][0] * d.x + r[1][1] * d.y + r[1][2] * d.z;
    const double z = r[2][0] * d.x + r[2][1] * d.y + r[2][2] * d.z;
    const double lateral = std::hypot(x, y);
    const double theta = std::atan2(lateral, z);
    if (theta > camera.lens.maxAngle) return false;
    const Lens& lens = camera.lens;
    if (lateral == 0) {
        pixel = {lens.cx, lens.cy};
        return true;
    }
    const double rho = lensRadius(lens, theta);
    pixel = {rho * x / lateral * lens.fx + lens.cx, rho * y / lateral * lens.fy + lens.cy};
    return true;
}

bool pixelToFloor(const Camera& camera, const RadiusToAngle& inverse, Vec2 pixel, Vec2& floor) {
    const Lens& lens = camera.lens;
    const double u = (pixel.x - lens.cx) / lens.fx, v = (pixel.y - lens.cy) / lens.fy;
    const double rho = std::hypot(u, v);
    if (rho > inverse.maxRadius()) return false;
    const double theta = inverse(rho);
    const double s = rho > 0 ? std::sin(theta) / rho : 0;
    const double d[3] = {u * s, v * s, std::cos(theta)};
    // Camera to floor frame: the transpose of the floor-to-camera rotation.
    const Mat3& r = camera.rotation;
    const double wx = r[0][0] * d[0] + r[1][0] * d[1] + r[2][0] * d[2];
    const double wy = r[0][1] * d[0] + r[1][1] * d[1] + r[2][1] * d[2];
    const double wz = r[0][2] * d[0] + r[1][2] * d[1] + r[2][2] * d[2];
    if (wz >= -1e-9) return false;
    const double t = -camera.position.z / wz;
    floor = {camera.position.x + t * wx, camera.position.y + t * wy};
    return true;
}

std::vector<SurveyPoint> surveyGrid(const Camera& camera) {
    std::vector<SurveyPoint> points;
    const double heading = radians(camera.headingDeg);  // clockwise from +y
    const Vec2 ahead{std::sin(heading), std::cos(heading)}, side{ahead.y, -ahead.x};
    for (double along : {1200.0, 2000.0, 3000.0}) {
        for (double across : {-1500.0, 0.0, 1500.0}) {
            const Vec3 p{camera.position.x + ahead.x * along + side.x * across,
                         camera.position.y + ahead.y * along + side.y * across, 0};
            Vec2 pixel;
            if (projectToPixel(camera, p, pixel)) points.push_back({pixel, {p.x, p.y}});
        }
    }
    return points;
}

double minBandOnScreen(const Camera& cam, const Triangle& tri) {
    const std::array<Vec2, 3> inner = innerCorners(tri);
    double thinnest = 1e30;
    for (int e = 0; e < 3; ++e) {
        const Vec2 a = tri.corners[e], b = tri.corners[(e + 1) % 3];
        const Vec2 ia = inner[e], ib = inner[(e + 1) % 3];
        for (double t : {0.3, 0.5, 0.7}) {
            // The inner side is parallel to the outer one; the point across from `t` on the outer
            // side lies at the same fraction of the inner side only near the middle, which is
            // where the sample points are.
            const Vec2 o{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
            const Vec2 i{ia.x + (ib.x - ia.x) * t, ia.y + (ib.y - ia.y) * t};
            const Vec2 o2{a.x + (b.x - a.x) * (t + 0.01), a.y + (b.y - a.y) * (t + 0.01)};
            Vec2 po, pi, po2;
            if (!projectToPixel(cam, {o.x, o.y, 0}, po) || !projectToPixel(cam, {i.x, i.y, 0}, pi) ||
                !projectToPixel(cam, {o2.x, o2.y, 0}, po2)) {
                return 0;
            }
            const double ex = po2.x - po.x, ey = po2.y - po.y;
            const double len = std::hypot(ex, ey);
            if (len == 0) return 0;
            thinnest = std::min(thinnest, std::abs(ex * (pi.y - po.y) - ey * (pi.x - po.x)) / len);
        }
    }
    return thinnest;
}

CameraPoints cameraPoints(const Rig& rig, int camera) {
    CameraPoints out;
    const Camera& cam = rig.cameras.at(camera);
    for (int side = 0; side < 2; ++side) {
        const Triangle& tri = rig.triangles[kCameraTriangles[camera][side]];
        const std::array<Vec2, 3> hole = innerCorners(tri);
        std::array<Vec2, 3> px, holePx;
        for (int i = 0; i < 3; ++i) {
            projectToPixel(cam, {tri.corners[i].x, tri.corners[i].y, 0}, px[i]);
            projectToPixel(cam, {hole[i].x, hole[i].y, 0}, holePx[i]);
        }
        // Lowest on screen first, then clockwise on screen: with y pointing down, clockwise
        // turns make a positive cross product.
        int low = 0;
        for (int i = 1; i < 3; ++i) {
            if (px[i].y > px[low].y) low = i;
        }
        int a = (low + 1) % 3, b = (low + 2) % 3;
        const double cross =
            (px[a].x - px[low].x) * (px[b].y - px[low].y) - (px[a].y - px[low].y) * (px[b].x - px[low].x);
        if (cross < 0) std::swap(a, b);
        const int order[3] = {low, a, b};
        for (int i = 0; i < 3; ++i) {
            out.image[side * 3 + i] = px[order[i]];
            out.floor[side * 3 + i] = tri.corners[order[i]];
            out.inner[side * 3 + i] = holePx[order[i]];
        }
    }
    return out;
}

std::vector<std::string> checkRig(const Rig& rig) {
    if (rig.options.fixedLayout) return checkFixedRig(rig);
    std::vector<std::string> problems;
    const int w = rig.options.width, h = rig.options.height;
    for (int cam = 0; cam < 4; ++cam) {
        const Camera& camera = rig.cameras[cam];
        for (int side = 0; side < 2; ++side) {
            const int t = kCameraTriangles[cam][side];
            const Triangle& tri = rig.triangles[t];
            const std::string who = std::string(kCameraNames[cam]) + " camera, triangle " + kTriangleNames[t] + ": ";
            Box outer, inner;
            if (!outlineBox(camera, tri.corners, outer) || !outlineBox(camera, innerCorners(tri), inner)) {
                problems.push_back(who + "not fully in the camera's field of view");
                continue;
            }
            // The program searches (0, H/4, W/2, H - H/4) and (W/2, H/4, W - W/2, H - H/4) and
            // drops dark blobs touching their borders; corners closer than 10 pixels to the
            // picture's edge are clamped.
            const double left = side == 0 ? 11 : w / 2 + 4;
            const double right = side == 0 ? w / 2 - 5 : w - 11;
            const double top = h / 4 + 4, bottom = h - 11;
            if (outer.x0 < left || outer.x1 > right || outer.y0 < top || outer.y1 > bottom) {
                problems.push_back(who + "leaves the lower three quarters of the " + (side == 0 ? "left" : "right") +
                                   " half of the picture");
                continue;
            }
            if (std::max(outer.width(), outer.height()) < 46 || std::min(outer.width(), outer.height()) < 32) {
                problems.push_back(who + "too small on screen");
            }
            if (inner.width() < 0.5 * outer.width() || inner.height() < 0.5 * outer.height() ||
                inner.x0 - outer.x0 < 4 || outer.x1 - inner.x1 < 4 || inner.y0 - outer.y0 < 4 ||
                outer.y1 - inner.y1 < 4) {
                problems.push_back(who + "light hole too small against the frame on screen");
            }
            // Seen edge-on a band thins out; thresholding breaks a band of two pixels or so, and
            // the hole then leaks into the floor.
            if (minBandOnScreen(camera, tri) < kMinBandPixels) {
                problems.push_back(who + "its band is too thin on screen");
            }
            // Far out in the field the ideal plane stretches a pixel of outline into many units,
            // and the detector's line fit loses the sides.
            double widest = 0;
            for (const Vec2& c : tri.corners) widest = std::max(widest, incidence(camera, c));
            if (widest > kMaxFittedAngle) {
                problems.push_back(who + "too far out in the lens's field");
            }
            std::array<Vec2, 3> px;
            for (int i = 0; i < 3; ++i) projectToPixel(camera, {tri.corners[i].x, tri.corners[i].y, 0}, px[i]);
            if (px[0].y - std::max(px[1].y, px[2].y) < 3) {
                problems.push_back(who + "its pointing corner is not clearly the lowest on screen");
            }
        }
    }
    return problems;
}

CameraParam cameraRecord(const Camera& camera) {
    const Lens& l = camera.lens;
    CameraParam cam{};
    cam.f = l.f;
    cam.fx = l.fx;
    cam.fy = l.fy;
    cam.cx = l.cx;
    cam.cy = l.cy;
    cam.k1 = l.k[0], cam.k2 = l.k[1], cam.k3 = l.k[2], cam.k4 = l.k[3], cam.k5 = l.k[4];
    cam.c0 = l.c[0], cam.c1 = l.c[1], cam.c2 = l.c[2], cam.c3 = l.c[3], cam.c4 = l.c[4];
    cam.c5 = l.c[5], cam.c6 = l.c[6], cam.c7 = l.c[7], cam.c8 = l.c[8];
    cam.width = l.width;
    cam.height = l.height;
    return cam;
}

void finishRig(Rig& rig) {
    const Lens lens = makeLens(rig.options.width, rig.options.height);
    for (Camera& cam : rig.cameras) {
        cam.rotation = cameraRotation(cam.headingDeg, cam.tiltDeg, cam.rollDeg);
        cam.lens = lens;
    }
}

Rig drawRig(const RigOptions& options) {
    if (options.markerLength <= 0) throw std::invalid_argument("marker length must be positive");
    if (options.vehicleWidth <= 0 || options.vehicleLength <= 0) {
        throw std::invalid_argument("vehicle size must be positive");
    }
    Rig rig;
    rig.options = options;
    Draw draw(options.seed);
    const double halfW = options.vehicleWidth / 2, halfL = options.vehicleLength / 2;
    std::vector<std::string> problems;
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        for (int t = 0; t < 4; ++t) {
            const double gap = draw.uniform(250, 500);
            const double axis = draw.uniform(40, 50);
            rig.triangles[t] = cornerTriangle(options, t, gap, axis);
            rig.triangles[t].band = options.markerLength / 10;
        }
        Camera& front = rig.cameras[kFront];
        front.position = {draw.uniform(-50, 50), halfL + draw.uniform(0, 40), draw.uniform(600, 900)};
        front.headingDeg = draw.uniform(-2, 2);
        Camera& rear = rig.cameras[kRear];
        rear.position = {draw.uniform(-50, 50), -halfL - draw.uniform(0, 40), draw.uniform(700, 1100)};
        rear.headingDeg = 180 + draw.uniform(-2, 2);
        Camera& left = rig.cameras[kLeft];
        left.position = {-halfW - draw.uniform(80, 150), halfL - draw.uniform(1800, 2200), draw.uniform(900, 1100)};
        left.headingDeg = -90 + draw.uniform(-2, 2);
        Camera& right = rig.cameras[kRight];
        right.position = {halfW + draw.uniform(80, 150), halfL - draw.uniform(1800, 2200), draw.uniform(900, 1100)};
        right.headingDeg = 90 + draw.uniform(-2, 2);
        // Mirror cameras look steeply down: at a shallow tilt both of their frames sit far out
        // in the field, where the detector cannot fit them.
        for (int c = 0; c < 4; ++c) {
            rig.cameras[c].tiltDeg = c == kLeft || c == kRight ? draw.uniform(45, 60) : draw.uniform(25, 60);
            rig.cameras[c].rollDeg = draw.uniform(-2, 2);
        }
        finishRig(rig);
        problems = checkRig(rig);
        if (problems.empty()) {
            rig.attempts = attempt;
            return rig;
        }
    }
    std::string message =
        "no calibration bay for this picture size and marker length passes the "
        "checks; last problems:";
    for (const std::string& p : problems) message += "\n  " + p;
    throw std::runtime_error(message);
}

Vec2 inwardNormal(const Triangle& tri, int side) {
    const Vec2 c{(tri.corners[0].x + tri.corners[1].x + tri.corners[2].x) / 3,
                 (tri.corners[0].y + tri.corners[1].y + tri.corners[2].y) / 3};
    const Vec2 a = tri.corners[side], b = tri.corners[(side + 1) % 3];
    double nx = -(b.y - a.y), ny = b.x - a.x;
    const double len = std::hypot(nx, ny);
    nx /= len;
    ny /= len;
    if (nx * (c.x - a.x) + ny * (c.y - a.y) < 0) {
        nx = -nx;
        ny = -ny;
    }
    return {nx, ny};
}

}  // namespace mz::sim
