#include "calib/camera_solver.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"

namespace mz::calib {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
// 0.1 degree in radians, single precision.
constexpr float kStepAngle = 0.001745329238474369f;

constexpr int kSides[6][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}};

struct Turn {
    float cosine;
    float sine;
};

}  // namespace

void setKnownDistances(float (&distance)[kPointCount][kPointCount], int shape, float size) {
    for (auto& row : distance) std::fill(std::begin(row), std::end(row), -1.0f);
    // Right isosceles: the right angle sits at the first corner of each triangle.
    const float longSide = shape == 1 ? size * std::sqrt(2.0f) : size;
    for (int base : {0, 3}) {
        const float sides[3][3] = {{0, size, size}, {size, 0, longSide}, {size, longSide, 0}};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                if (i != j) distance[base + i][base + j] = sides[i][j];
            }
        }
    }
}

float incidenceAngle(const LensTable& lens, float rho) {
    for (int32_t i = 0; i + 1 < lens.rowCount; ++i) {
        const LensRow& lo = lens.rows[i];
        const LensRow& hi = lens.rows[i + 1];
        if (lo.radius <= rho && rho < hi.radius) {
            return lo.angle + (hi.angle - lo.angle) * (rho - lo.radius) / (hi.radius - lo.radius);
        }
    }
    return kNoRowAngle;
}

Point3F rayOfPoint(const CalibCamera& camera, Point2F point) {
    const LensTable& lens = *camera.lens;
    const float cx = camera.mirror != 0 ? static_cast<float>(lens.width) - camera.cx : camera.cx;
    const float u = (point.x - cx) * camera.scaleX;
    const float v = (camera.cy - point.y) * camera.scaleY;
    // The table measures radii from pixel centres, hence the half pixel on even sizes.
    const float a = lens.width % 2 == 0 ? 0.5f : 0.0f;
    const float b = lens.height % 2 == 0 ? 0.5f : 0.0f;
    const float du = lens.pitchX * (u + a);
    const float dv = lens.pitchY * (v - b);
    const float rho = std::sqrt(du * du + dv * dv);
    const float theta = radians(incidenceAngle(lens, rho));
    const float phi = (u == 0.0f && v == 0.0f) ? 0.0f : std::atan2(lens.pitchY * v, lens.pitchX * u);
    float r[3];
    CameraPose<float>::rayOfAngles(theta, phi, r);
    const Point3F ray = {r[0], r[1], r[2]};
    // A record with a zero focal scale gives infinite pitches; its rays carry no direction and
    // the zero ray is the one the residual and the ground projection know to skip.
    if (!std::isfinite(ray.x) || !std::isfinite(ray.y) || !std::isfinite(ray.z)) return {0, 0, 0};
    return ray;
}

float planeResidual(const Plane& plane, const Point3F (&rays)[kPointCount],
                    const float (&distance)[kPointCount][kPointCount]) {
    const float normSq = plane.nx * plane.nx + plane.ny * plane.ny + plane.nz * plane.nz;
    Point3F ground[kPointCount];
    for (int i = 0; i < kPointCount; ++i) {
        const Point3F& r = rays[i];
        if (r.x * r.x + r.y * r.y + r.z * r.z == 0.0f) {
            ground[i] = {0, 0, 0};
            continue;
        }
        const float along = plane.nx * r.x + plane.ny * r.y + plane.nz * r.z;
        // A ray parallel to the plane meets it nowhere: no plane through such a ray can fit.
        if (along == 0.0f) return kInfinity;
        const float k = -plane.m * normSq / along;
        ground[i] = {k * r.x, k * r.y, k * r.z};
    }
    float sum = 0.0f;
    for (const auto& side : kSides) {
        const Point3F& p = ground[side[0]];
        const Point3F& q = ground[side[1]];
        const float dx = p.x - q.x;
        const float dy = p.y - q.y;
        const float dz = p.z - q.z;
        const float e = std::sqrt(dx * dx + dy * dy + dz * dz) - distance[side[0]][side[1]];
        sum += e * e;
    }
    return std::isnan(sum) ? kInfinity : sum;
}

DescentResult descend(const CalibCamera& camera, int cameraIndex, float m0) {
    const Turn turn = {std::cos(kStepAngle), std::sin(kStepAngle)};
    const float c = turn.cosine;
    const float s = turn.sine;
    const float inv = 1.0f / std::sqrt(2.0f);
    Plane plane = {0.0f, inv, inv, m0};
    auto residualOf = [&](const Plane& p) { return planeResidual(p, camera.rays, camera.knownDistance); };
    float r = residualOf(plane);
    bool firstTime = true;

    // Tries the minus and the plus candidate; ties go to the plus one. True when it moved.
    auto step = [&r](Plane& current, const Plane& minus, const Plane& plus, float rMinus, float rPlus) {
        if (r <= rMinus && r <= rPlus) return false;
        if (rMinus < rPlus) {
            current = minus;
            r = rMinus;
        } else {
            current = plus;
            r = rPlus;
        }
        return true;
    };

    // Turns the normal one step in the plane of its components p and q, both ways; true when it
    // moved.
    auto turnIn = [&](float Plane::*p, float Plane::*q) {
        Plane minus = plane;
        minus.*p = plane.*p * c + plane.*q * s;
        minus.*q = plane.*q * c - plane.*p * s;
        Plane plus = plane;
        plus.*p = plane.*p * c - plane.*q * s;
        plus.*q = plane.*q * c + plane.*p * s;
        return step(plane, minus, plus, residualOf(minus), residualOf(plus));
    };

    for (int round = 0; round < kMaxRounds;) {
        bool changed = false;
        while (turnIn(&Plane::nx, &Plane::ny)) changed = true;  // the roll
        while (turnIn(&Plane::ny, &Plane::nz)) changed = true;  // the tilt
        for (;;) {
            Plane up = plane;
            up.m = plane.m + 1.0f;
            Plane down = plane;
            down.m = plane.m - 1.0f;
            const float rUp = residualOf(up);
            const float rDown = residualOf(down);
            if (r <= rUp && r <= rDown) break;
            // Unlike the turns, a tie between the two heights goes downward.
            if (rUp < rDown) {
                plane = up;
                r = rUp;
            } else {
                plane = down;
                r = rDown;
            }
            changed = true;
        }
        ++round;
        if (changed) continue;
        if (r > kRetryResidual && firstTime) {
            // A side camera looks down steeply enough that the start tilted 45 degrees may sit in
            // the wrong valley; the vertical normal gets it a second chance.
            if (cameraIndex == 2 || cameraIndex == 3) {
                plane = {0.0f, 0.0f, 1.0f, m0};
                round = 0;
            }
            r = residualOf(plane);
            firstTime = false;
            continue;
        }
        break;
    }

    DescentResult result{};
    result.m = plane.m;
    result.residual = r;
    const float planar = std::sqrt(plane.nx * plane.nx + plane.ny * plane.ny);
    tiltAndRollOfNormal(plane.nx, plane.ny, plane.nz, planar, result.rotX, result.rotZ);
    return result;
}

float solveCamera(CalibCamera& camera, int cameraIndex) {
    if (camera.lens == nullptr) return -1.0f;
    for (int i = 0; i < kPointCount; ++i) camera.rays[i] = rayOfPoint(camera, camera.imagePoints[i]);
    DescentResult result = descend(camera, cameraIndex, kFirstStart);
    if (result.residual > kRetryResidual) result = descend(camera, cameraIndex, kSecondStart);
    camera.height = result.m;
    camera.rotX = degrees(result.rotX);
    camera.rotZ = degrees(result.rotZ);
    return result.residual;
}

}  // namespace mz::calib
