#include "calib/rig_assembly.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"

namespace mz::calib {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kSmallestStep = 0.001f;

Point2F rotate(Point2F p, float rad) {
    const float c = std::cos(rad);
    const float s = std::sin(rad);
    return {p.x * c - p.y * s, p.x * s + p.y * c};
}

Point2F sub(Point2F p, Point2F q) { return {p.x - q.x, p.y - q.y}; }
Point2F add(Point2F p, Point2F q) { return {p.x + q.x, p.y + q.y}; }
float length(Point2F p) { return std::sqrt(p.x * p.x + p.y * p.y); }

// Signed angle from u to v, radians.
float angleBetween(Point2F u, Point2F v) { return std::atan2(u.x * v.y - v.x * u.y, u.x * v.x + u.y * v.y); }

float sumSq(const Point2F (&p)[kPointCount], const Point2F (&q)[kPointCount]) {
    float sum = 0.0f;
    for (int i = 0; i < 3; ++i) {
        const float dx = p[i].x - q[i + 3].x;
        const float dy = p[i].y - q[i + 3].y;
        sum += dx * dx + dy * dy;
    }
    return sum;
}

bool finite(Point2F p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

Point2F groundLocal(const Point3F& ray, float height, float rotXDeg, float rotZDeg) {
    const auto pose = CameraPose<float>::ofDegrees({0.0f, 0.0f, height, rotXDeg, rotZDeg, 0.0f},
                                                   [](float deg) { return radians(deg); });
    const float r[3] = {ray.x, ray.y, ray.z};
    Point2F p;
    pose.localFloorOfRay(r, p.x, p.y);
    return p;
}

Point2F groundPoint(const CalibCamera& camera, const Point3F& ray) {
    const PoseValues<float> v = poseValues<float>(camera);
    const Point2F local = groundLocal(ray, v[kHeight], v[kTilt], v[kRoll]);
    // The rig adds the turned offset as a whole (not term by term as CameraPose::floorOfLocal
    // does): the calibrated poses were made that way.
    return add(Point2F{v[kPosX], v[kPosY]}, rotate(local, radians(v[kHeading])));
}

LocalView localView(const CalibCamera& camera) {
    LocalView view{};
    const PoseValues<float> v = poseValues<float>(camera);
    for (int i = 0; i < kPointCount; ++i) view.points[i] = groundLocal(camera.rays[i], v[kHeight], v[kTilt], v[kRoll]);
    const float third = 1.0f / 3.0f;
    const Point2F* p = view.points;
    view.a = {(p[0].x + p[1].x + p[2].x) * third, (p[0].y + p[1].y + p[2].y) * third};
    view.b = {(p[3].x + p[4].x + p[5].x) * third, (p[3].y + p[4].y + p[5].y) * third};
    view.d = length(sub(view.a, view.b));
    return view;
}

float rigResidual(CalibCamera (&cameras)[kCameraCount], const LocalView (&views)[kCameraCount], float s) {
    const LocalView& v0 = views[0];
    const LocalView& v1 = views[1];
    const LocalView& v2 = views[2];
    const LocalView& v3 = views[3];
    const float sRad = radians(s);

    const Point2F t1 = v0.a;
    const Point2F t2 = v0.b;
    const Point2F t3 = {t2.x + v3.d * std::cos(sRad), t2.y - v3.d * std::sin(sRad)};
    const float h = length(sub(t1, t3));
    const float g = std::atan2(t3.y - t1.y, t3.x - t1.x);
    const float cosine = (v2.d * v2.d + h * h - v1.d * v1.d) / (2.0f * h * v2.d);
    // Outside -1..1 the rear and left distances cannot meet: no rig has this angle. The poses
    // still get the closest (flattened) quadrilateral so that nothing downstream sees NaN.
    const bool closes = cosine >= -1.0f && cosine <= 1.0f;
    const float e = std::acos(std::isnan(cosine) ? 1.0f : std::clamp(cosine, -1.0f, 1.0f)) - g;
    const Point2F t4 = {t1.x + v2.d * std::cos(e), t1.y - v2.d * std::sin(e)};

    struct Placement {
        int camera;
        Point2F from, to;  // the vector between its two triangles on the floor
        Point2F anchor;    // where its left-half triangle lies
    };
    const Placement placements[kCameraCount] = {
        {0, t1, t2, t1},
        {3, t2, t3, t2},
        {1, t3, t4, t3},
        {2, t4, t1, t4},
    };
    Point2F placed[kCameraCount][kPointCount];
    for (const Placement& pl : placements) {
        const LocalView& view = views[pl.camera];
        const float psi = angleBetween(sub(view.b, view.a), sub(pl.to, pl.from));
        Point2F t = sub(pl.anchor, rotate(view.a, psi));
        float heading = degrees(psi);
        if (!finite(t) || !std::isfinite(heading)) {
            t = {0.0f, 0.0f};
            heading = 0.0f;
        }
        CalibCamera& camera = cameras[pl.camera];
        camera.rotY = heading;
        camera.posX = t.x;
        camera.posY = t.y;
        for (int i = 0; i < kPointCount; ++i) placed[pl.camera][i] = add(rotate(view.points[i], psi), t);
    }
    if (!closes) return kInfinity;

    float residual = sumSq(placed[0], placed[2]);
    residual += sumSq(placed[3], placed[0]);
    residual += sumSq(placed[1], placed[3]);
    residual += sumSq(placed[2], placed[1]);
    return std::isnan(residual) ? kInfinity : residual;
}

SearchResult searchAngle(CalibCamera (&cameras)[kCameraCount], const LocalView (&views)[kCameraCount]) {
    SearchResult out{kStartAngle, 0.0f, 0};
    auto eval = [&](float s) {
        ++out.evaluations;
        return rigResidual(cameras, views, s);
    };
    float s = kStartAngle;
    float r = eval(s);
    if (!std::isfinite(r)) {
        // The start cannot close the quadrilateral, and the search would never leave it: start
        // instead from the best whole degree that does close, if any.
        for (int k = 1; k < 360; ++k) {
            const float candidate = kStartAngle + static_cast<float>(k);
            const float rc = eval(candidate);
            if (rc < r) {
                r = rc;
                s = candidate;
            }
        }
    }
    float step = 1.0f;
    for (;;) {
        const float rMinus = eval(s - step);
        const float rPlus = eval(s + step);
        if (r <= rMinus && r <= rPlus) {
            step = static_cast<float>(static_cast<double>(step) * 0.1);
            if (!(static_cast<double>(step) > static_cast<double>(kSmallestStep))) break;
            continue;
        }
        if (rPlus < rMinus) {
            s = s + step;
            r = rPlus;
        } else {
            s = s - step;
            r = rMinus;
        }
    }
    out.angle = s;
    out.residual = r;
    return out;
}

float assemble(CalibCamera (&cameras)[kCameraCount]) {
    LocalView views[kCameraCount];
    for (int k = 0; k < kCameraCount; ++k) views[k] = localView(cameras[k]);
    const SearchResult found = searchAngle(cameras, views);
    // Once more at the final angle, so the blocks hold its poses.
    const float residual = rigResidual(cameras, views, found.angle);

    float level = degrees(std::atan2(views[0].a.x - views[0].b.x, views[0].a.y - views[0].b.y));
    level = level < 0.0f ? level + 90.0f : level - 90.0f;
    turnAndCentre(cameras, std::isfinite(level) ? level : 0.0f);
    return residual;
}

void turnAndCentre(CalibCamera (&cameras)[kCameraCount], float angleDeg) {
    const float rad = radians(angleDeg);
    for (CalibCamera& camera : cameras) {
        camera.rotY = camera.rotY + angleDeg;
        const Point2F p = rotate({camera.posX, camera.posY}, rad);
        camera.posX = p.x;
        camera.posY = p.y;
    }
    const float cx = (cameras[MZ_CAMERA_RIGHT].posX + cameras[MZ_CAMERA_LEFT].posX) / 2.0f;
    const float cy = (cameras[MZ_CAMERA_FRONT].posY + cameras[MZ_CAMERA_REAR].posY) / 2.0f;
    for (CalibCamera& camera : cameras) {
        camera.posX -= cx;
        camera.posY -= cy;
    }
}

}  // namespace mz::calib
