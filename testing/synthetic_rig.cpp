#include "testing/synthetic_rig.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include "geometry/angles.h"
#include "geometry/lens_model.h"

namespace mztest {
namespace {

constexpr double kRad = mz::kDegToRad<double>;

// Forward polynomial fitted to the built-in table (within 1e-6 up to 100 degrees).
constexpr double kK[5] = {0.8016080130636054, 0.12877562057305025, 0.001572763071366671, -0.007841287613711934,
                          -0.00014712443433182395};

// Triangles T1 front-left, T2 front-right, T3 rear-right, T4 rear-left; which camera sees which
// in its left and right half.
constexpr int kLeftHalf[4] = {0, 2, 3, 1};
constexpr int kRightHalf[4] = {1, 3, 0, 2};

}  // namespace

Point2F projectFloor(const SyntheticRig& rig, int k, double x, double y) {
    const TruePose& pose = rig.truth[k];
    const CameraParam& cam = rig.cameras[k];
    const double dx = x - pose.x, dy = y - pose.y, dz = -pose.height;
    const double h = -pose.heading * kRad;
    const double lx = dx * std::cos(h) - dy * std::sin(h);
    const double ly = dx * std::sin(h) + dy * std::cos(h);
    const double a = pose.tilt * kRad, b = pose.roll * kRad;
    // Inverse of the rotation the ground projection applies (roll, then tilt).
    const double up = std::sin(a) * ly + std::cos(a) * dz;
    const double rz = -std::cos(a) * ly + std::sin(a) * dz;
    const double rx = lx * std::cos(b) + up * std::sin(b);
    const double ry = -lx * std::sin(b) + up * std::cos(b);
    const double n = std::sqrt(rx * rx + ry * ry + rz * rz);
    const double theta = std::acos(-rz / n);
    const double phi = std::atan2(ry, rx);
    const double rho = mz::lens::radiusOfAngle(kK, theta);
    return {static_cast<float>(cam.cx + cam.fx * rho * std::cos(phi)),
            static_cast<float>(cam.cy - cam.fy * rho * std::sin(phi))};
}

void makeRig(SyntheticRig& rig, const SyntheticRigOptions& opt) {
    std::mt19937 gen(opt.seed);
    auto jitter = [&](double span) {
        return opt.seed == 0 ? 0.0 : std::uniform_real_distribution<double>(-span, span)(gen);
    };
    const double jitterW = jitter(100), jitterL = jitter(200);
    const double halfW = opt.halfWidth > 0 ? opt.halfWidth : 950 + jitterW;
    const double halfL = opt.halfLength > 0 ? opt.halfLength : 2300 + jitterL;
    rig.truth[0] = {jitter(50), halfL + 100, 750 + jitter(150), 35 + jitter(8), jitter(2), jitter(2)};
    rig.truth[1] = {jitter(50), -halfL - 50, 950 + jitter(150), 40 + jitter(8), jitter(2), 180 + jitter(2)};
    const double mirrorY = 700 + jitter(200);
    rig.truth[2] = {-halfW - 100, mirrorY, 1000 + jitter(100), 62 + jitter(8), jitter(2), 90 + jitter(2)};
    rig.truth[3] = {halfW + 100, mirrorY + jitter(20), 1000 + jitter(100), 62 + jitter(8), jitter(2), -90 + jitter(2)};

    // Each triangle points one corner at the vehicle corner; the rest follow clockwise from above.
    const double corners[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
    const double spread = (opt.shape == 1 ? 45.0 : 30.0) * kRad;
    double tri[4][3][2];
    for (int t = 0; t < 4; ++t) {
        const double sx = corners[t][0], sy = corners[t][1];
        const double dir = std::atan2(sy, sx);
        const double gap = 700 + jitter(100);
        const double p0[2] = {sx * halfW + gap * std::cos(dir), sy * halfL + gap * std::sin(dir)};
        const double s = opt.markerSize;
        tri[t][0][0] = p0[0];
        tri[t][0][1] = p0[1];
        // Clockwise seen from above (and so on screen): the corner turned counter-clockwise from
        // the diagonal comes first.
        tri[t][1][0] = p0[0] + s * std::cos(dir + spread);
        tri[t][1][1] = p0[1] + s * std::sin(dir + spread);
        tri[t][2][0] = p0[0] + s * std::cos(dir - spread);
        tri[t][2][1] = p0[1] + s * std::sin(dir - spread);
    }

    const double scale = opt.width / 720.0;
    for (int k = 0; k < 4; ++k) {
        CameraParam& cam = rig.cameras[k];
        cam = CameraParam{};
        cam.fx = static_cast<float>(225.3775 * scale);
        cam.fy = static_cast<float>(205.4232 * scale * (opt.height / 480.0) / (opt.width / 720.0));
        cam.f = cam.fx;
        cam.cx = static_cast<float>(opt.width / 2.0);
        cam.cy = static_cast<float>(opt.height / 2.0);
        cam.k1 = static_cast<float>(kK[0]);
        cam.k2 = static_cast<float>(kK[1]);
        cam.k3 = static_cast<float>(kK[2]);
        cam.k4 = static_cast<float>(kK[3]);
        cam.k5 = static_cast<float>(kK[4]);
        cam.width = opt.width;
        cam.height = opt.height;
        cam.patternShape = opt.shape;
        cam.markerLength = opt.markerSize;
        cam.pointCount = 6;
        cam.imagePoints = rig.image[k].data();
        cam.worldPoints = rig.world[k].data();
        const int halves[2] = {kLeftHalf[k], kRightHalf[k]};
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 3; ++i) {
                const double* p = tri[halves[half]][i];
                rig.floor[k][half * 3 + i] = {p[0], p[1]};
                const Point2F px = projectFloor(rig, k, p[0], p[1]);
                const bool inside = px.x >= 0 && px.y >= 0 && px.x < opt.width && px.y < opt.height;
                const bool ownHalf = half == 0 ? px.x < cam.cx : px.x >= cam.cx;
                if (!inside || !ownHalf) throw std::runtime_error("synthetic rig: corner out of view");
                rig.image[k][half * 3 + i] = px;
            }
        }
    }
}

}  // namespace mztest
