#include "refine/rig_refinement.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <Eigen/Dense>
#include <ceres/ceres.h>

#include "geometry/angles.h"
#include "mz/mzgeometry.h"
#include "refine/fisheye.h"

namespace mz::refine {

namespace {

using Pose = std::array<double, kPoseSize>;
using TrianglePose = std::array<double, 3>;  // x, y on the floor (y toward the front), turn (radians)
using Vertices = std::array<std::array<double, 2>, 3>;

constexpr double kDeg = kDegToRad<double>;
// Residuals above this many of their own standard deviations count less and less (a corner on
// the wrong edge).
constexpr double kRobustScale = 3.0;
// No corner is known better than this on screen (pixels), whatever its sides' fits say.
constexpr double kMinCornerSigmaPx = 0.02;
// What the rig is fitted with adds this (pixels, each way, in quadrature) to every corner's
// covariance. The sides' fits tell how well their edge points place a corner, not what the blur,
// the noise and the compression move it by, which is no smaller where a fit is tight: weighed by
// the fits alone the rig leaned on the tightest ones, and its seams broke by more than with every
// corner alike (on the simulated bays from clean to harsh; seeds 1-6 of the two small sizes chose
// the value, 7-12 checked it). Since sharp tips carry their own fit's covariance 0.2 beats 0.3 (real
// bays, seeds 7-12: mean worst zone 31.7 -> 30.7 mm, worst 51 -> 49 mm; clean alike, mild a little
// better); lower still leaves the seam predictions too short on mild bays. A corner its fit knows far
// worse than this still counts less. The
// corners' figures and the leave-one-out test keep the fits' covariances; the predictions take
// them for the corners' errors, weighed as the rig is fitted.
constexpr double kFitCornerSigmaPx = 0.2;
constexpr int kMaxIterations = 100;
// What the seams break by whatever the poses: the record's own inverse lens and the tables'
// resolution leave a few millimetres at the floor's far points with perfect corners (1 mm at
// the 95th percentile, 3.5 mm at worst from the true poses). Added in quadrature to each seam's
// prediction. At 10 mm one clean bay of the whole simulated sweep (28 a level) was predicted
// just over 20 mm with 8 mm true; at 8 every clean bay is "good" and none over 30 mm is.
constexpr double kSeamFloorMm = 8.0;
// A corner is dropped when, left out, the rest of the rig puts it this many pixels from where it
// was seen and this many times the rest's scatter away, both in units of the corner's own
// covariance (the root of its residual in the whole fit times that distance: the fit absorbs
// much of a corner's error, the refit without it shows all of it). The scatter counts at least as
// much as the covariances say.
constexpr double kContradictedPx = 2.0;
constexpr double kContradictionScore = 6.0;
constexpr int kMaxDropped = 2;
constexpr int kLeaveOutIterations = 25;
// The 95th percentile of the length of a two-dimensional normal error, in units of the standard
// deviation along its longer axis (exact for a round one, generous for a flat one).
constexpr double kP95Radius = 2.4477;
// The one-sided 95 % point of the standard normal distribution.
constexpr double kZ95 = 1.6449;

using Use = std::array<std::array<bool, 6>, kRigCameras>;
using PerCorner = std::array<std::array<double, 6>, kRigCameras>;

// The inverse of a corner's covariance factor L (covariance L L^T): a residual r weighs as
// (a r0, b r0 + c r1), unit-round for a corner whose error is as its covariance says.
struct Whitening {
    double a = 1, b = 0, c = 1;
};
using Whitenings = std::array<std::array<Whitening, 6>, kRigCameras>;

Whitening whiteningOf(const std::array<double, 3>& covariance, double floorPx) {
    const double kFloor = floorPx * floorPx;
    const double xx = covariance[0] + kFloor, xy = covariance[1], yy = covariance[2] + kFloor;
    const double l11 = std::sqrt(xx), l21 = xy / l11, rest = yy - l21 * l21;
    if (!(l11 > 0) || !(rest > 0) || !std::isfinite(l11 + l21 + rest)) {
        const double round = 1 / std::sqrt(std::max(xx, yy));
        return std::isfinite(round) ? Whitening{round, 0, round} : Whitening{};
    }
    const double l22 = std::sqrt(rest);
    return {1 / l11, -l21 / (l11 * l22), 1 / l22};
}

Whitenings whitenings(const CornerCovariances* covariances, double floorPx = kMinCornerSigmaPx) {
    Whitenings w;
    for (int k = 0; k < kRigCameras; ++k) {
        for (int i = 0; i < 6; ++i) {
            if (covariances) {
                w[k][i] = whiteningOf((*covariances)[k][i], floorPx);
            } else {
                w[k][i] = {1 / kPerfectCornerPx, 0, 1 / kPerfectCornerPx};
            }
        }
    }
    return w;
}
constexpr int kUnknowns = kRigCameras * kPoseSize + 3 * (kRigTriangles - 1);

Use allCorners() {
    Use use;
    for (auto& camera : use) camera.fill(true);
    return use;
}

// What the joint fit solves for: the four poses and the four triangles on the floor.
struct RigUnknowns {
    std::array<Pose, kRigCameras> poses{};
    std::array<TrianglePose, kRigTriangles> triangles{};
    std::array<Vertices, kRigTriangles> shapes{};  // the triangle in its own frame
};

bool finite(double v) { return std::isfinite(v); }

Pose poseOf(const CameraParam& cam) { return poseValues<double>(cam); }

// The records' world points are stored with y toward the rear.
std::array<double, 2> floorPoint(const CameraParam& cam, int i) {
    return {cam.worldPoints[i].x, -static_cast<double>(cam.worldPoints[i].y)};
}

std::array<double, 2> vertexOnFloor(const RigUnknowns& rig, int t, int v) {
    const TrianglePose& p = rig.triangles[t];
    const double c = std::cos(p[2]), s = std::sin(p[2]);
    const auto& q = rig.shapes[t][v];
    return {p[0] + c * q[0] - s * q[1], p[1] + s * q[0] + c * q[1]};
}

// The triangles where the calibration library put them: each fitted, with its known shape and
// the turning sense the two cameras' points show, to the mean of both cameras' world points.
bool placeTriangles(const CameraParam* cams, int shape, double size, RigUnknowns& rig) {
    for (int t = 0; t < kRigTriangles; ++t) {
        std::array<std::array<double, 2>, 3> seen{};
        for (int v = 0; v < 3; ++v) {
            const auto a = floorPoint(cams[kTriangleCameras[t][0]], v);
            const auto b = floorPoint(cams[kTriangleCameras[t][1]], 3 + v);
            seen[v] = {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2};
            if (!finite(seen[v][0]) || !finite(seen[v][1])) return false;
        }
        const double turn = (seen[1][0] - seen[0][0]) * (seen[2][1] - seen[0][1]) -
                            (seen[1][1] - seen[0][1]) * (seen[2][0] - seen[0][0]);
        const double sense = turn < 0 ? -1 : 1;
        Vertices& q = rig.shapes[t];
        q[0] = {0, 0};
        q[1] = {size, 0};
        q[2] = (shape & 0xFF) == 1 ? std::array<double, 2>{0, sense * size}
                                   : std::array<double, 2>{size / 2, sense * size * std::sqrt(3.0) / 2};
        double mq[2] = {}, ms[2] = {};
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < 2; ++k) {
                mq[k] += q[v][k] / 3;
                ms[k] += seen[v][k] / 3;
            }
        }
        double sin = 0, cos = 0;
        for (int v = 0; v < 3; ++v) {
            const double ax = q[v][0] - mq[0], ay = q[v][1] - mq[1];
            const double bx = seen[v][0] - ms[0], by = seen[v][1] - ms[1];
            sin += ax * by - ay * bx;
            cos += ax * bx + ay * by;
        }
        const double angle = std::atan2(sin, cos);
        const double c = std::cos(angle), s = std::sin(angle);
        rig.triangles[t] = {ms[0] - (c * mq[0] - s * mq[1]), ms[1] - (s * mq[0] + c * mq[1]), angle};
    }
    return true;
}

struct CornerCost {
    CameraParam camera;
    double observed[2];
    double vertex[2];
    Whitening whitening;

    template <typename T>
    bool operator()(const T* pose, const T* triangle, T* residual) const {
        using std::cos;
        using std::sin;
        const T c = cos(triangle[2]), s = sin(triangle[2]);
        const T wx = triangle[0] + c * T(vertex[0]) - s * T(vertex[1]);
        const T wy = triangle[1] + s * T(vertex[0]) + c * T(vertex[1]);
        T px, py;
        if (!floorToPixel(camera, pose, wx, wy, &px, &py)) return false;
        const T rx = px - T(observed[0]), ry = py - T(observed[1]);
        residual[0] = T(whitening.a) * rx;
        residual[1] = T(whitening.b) * rx + T(whitening.c) * ry;
        return true;
    }
};

// The corner's residual in pixels, and in units of its covariance.
void cornerResidual(const CameraParam& cam, const Pose& pose, const RigUnknowns& rig, int t, int v, Point2F observed,
                    const Whitening& w, double& pixels, double& whitened) {
    const auto p = vertexOnFloor(rig, t, v);
    double px, py;
    if (!floorToPixel(cam, pose.data(), p[0], p[1], &px, &py)) {
        pixels = whitened = INFINITY;
        return;
    }
    const double rx = px - observed.x, ry = py - observed.y;
    pixels = std::hypot(rx, ry);
    whitened = std::hypot(w.a * rx, w.b * rx + w.c * ry);
}

void reprojection(const CameraParam* cams, const RigUnknowns& rig, const Whitenings& w, RigFigures& figures,
                  PerCorner& whitened) {
    for (int k = 0; k < kRigCameras; ++k) figures.cameras[k] = CameraFigures{};
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                const int i = 3 * side + v;
                cornerResidual(cams[k], rig.poses[k], rig, t, v, cams[k].imagePoints[i], w[k][i],
                               figures.cameras[k].residualPx[i], whitened[k][i]);
            }
        }
    }
    for (CameraFigures& f : figures.cameras) {
        double sum = 0;
        for (int i = 0; i < 6; ++i) {
            sum += f.residualPx[i] * f.residualPx[i];
            if (!(f.residualPx[i] <= f.worstPx)) {
                f.worstPx = f.residualPx[i];
                f.worstCorner = i;
            }
        }
        f.rmsPx = std::sqrt(sum / 6);
    }
}

void seamGaps(const CameraParam* cams, RigFigures& figures) {
    for (int t = 0; t < kRigTriangles; ++t) {
        SeamFigures& s = figures.seams[t];
        s.cameraA = kTriangleCameras[t][0];
        s.cameraB = kTriangleCameras[t][1];
        s.maxGapMm = 0;
        for (int v = 0; v < 3; ++v) {
            const Point2F a = cams[s.cameraA].worldPoints[v], b = cams[s.cameraB].worldPoints[3 + v];
            s.gapMm[v] = std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
            if (!(s.gapMm[v] <= s.maxGapMm)) s.maxGapMm = s.gapMm[v];
        }
    }
}

bool usable(const CameraParam* cams) {
    for (int k = 0; k < kRigCameras; ++k) {
        const CameraParam& c = cams[k];
        if (c.pointCount < 6 || !c.imagePoints || !c.worldPoints || c.f == 0 || c.fx == 0 || c.fy == 0) return false;
        for (double v : poseOf(c)) {
            if (!finite(v)) return false;
        }
        if (!(c.posZ > 0)) return false;
        for (int i = 0; i < 6; ++i) {
            if (!finite(c.imagePoints[i].x) || !finite(c.imagePoints[i].y)) return false;
        }
    }
    return true;
}

void turn(RigUnknowns& rig, double degrees) {
    const double c = std::cos(degrees * kDeg), s = std::sin(degrees * kDeg);
    auto rotate = [&](double& x, double& y) {
        const double nx = c * x - s * y, ny = s * x + c * y;
        x = nx;
        y = ny;
    };
    for (Pose& p : rig.poses) {
        rotate(p[kPosX], p[kPosY]);
        p[kHeading] += degrees;
    }
    for (TrianglePose& t : rig.triangles) {
        rotate(t[0], t[1]);
        t[2] += degrees * kDeg;
    }
}

void shift(RigUnknowns& rig, double dx, double dy) {
    for (Pose& p : rig.poses) {
        p[kPosX] += dx;
        p[kPosY] += dy;
    }
    for (TrianglePose& t : rig.triangles) {
        t[0] += dx;
        t[1] += dy;
    }
}

// The origin midway between the side cameras across and between front and rear camera along.
void centre(RigUnknowns& rig) {
    const double cx = (rig.poses[3][kPosX] + rig.poses[2][kPosX]) / 2;
    const double cy = (rig.poses[0][kPosY] + rig.poses[1][kPosY]) / 2;
    shift(rig, -cx, -cy);
}

// The frame the calibration writes: the line from the front-left to the front-right triangle
// runs along +x, then centred; then the operator's turn, centring and shifts.
void fixFrame(RigUnknowns& rig, const CalibAdjust* adjust) {
    double c1[2] = {}, c2[2] = {};
    for (int v = 0; v < 3; ++v) {
        const auto a = vertexOnFloor(rig, 0, v), b = vertexOnFloor(rig, 1, v);
        for (int k = 0; k < 2; ++k) {
            c1[k] += a[k] / 3;
            c2[k] += b[k] / 3;
        }
    }
    turn(rig, -std::atan2(c2[1] - c1[1], c2[0] - c1[0]) / kDeg);
    centre(rig);
    if (!adjust) return;
    turn(rig, adjust->rotation);
    centre(rig);
    shift(rig, adjust->shiftX, adjust->shiftY);
    rig.poses[2][kHeight] += adjust->sideHeightOffset;
    rig.poses[3][kHeight] += adjust->sideHeightOffset;
}

// The floor point a camera's ray meets, the ray taken through the record's own inverse lens (the
// one its ground mapping is built from), so that mapping reproduces the refined pose exactly.
bool pixelToFloor(const CameraParam& cam, const Pose& pose, Point2F pixel, double& x, double& y) {
    Point2F ideal;
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    const auto p = CameraPose<double>::ofDegrees(pose, [](double deg) { return deg * kDeg; });
    const double ray[3] = {ideal.x, -static_cast<double>(ideal.y), -static_cast<double>(cam.f)};
    double side, lift, forward, ahead, up;
    p.unroll(ray, side, lift, forward);
    p.untilt(lift, forward, ahead, up);
    if (!(up < 0)) return false;
    const double k = -p.height / up;
    p.floorOfLocal(side * k, ahead * k, x, y);
    return finite(x) && finite(y);
}

void writeBack(CameraParam* cams, const RigUnknowns& rig) {
    for (int k = 0; k < kRigCameras; ++k) setPoseValues(cams[k], rig.poses[k]);
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                const int i = 3 * side + v;
                double x, y;
                if (!pixelToFloor(cams[k], poseOf(cams[k]), cams[k].imagePoints[i], x, y)) {
                    const auto w = vertexOnFloor(rig, t, v);
                    x = w[0];
                    y = w[1];
                }
                cams[k].worldPoints[i] = {static_cast<float>(x), static_cast<float>(-y)};
            }
        }
    }
}

bool allFinite(const RigUnknowns& rig) {
    for (const Pose& p : rig.poses) {
        for (double v : p) {
            if (!finite(v)) return false;
        }
        if (!(p[kHeight] > 0)) return false;
    }
    for (const TrianglePose& t : rig.triangles) {
        for (double v : t) {
            if (!finite(v)) return false;
        }
    }
    return true;
}

PerCorner pixelResiduals(const RigFigures& figures) {
    PerCorner r;
    for (int k = 0; k < kRigCameras; ++k) std::copy_n(figures.cameras[k].residualPx.begin(), 6, r[k].begin());
    return r;
}

// The squared residuals of the corners in use, and how many corners that is.
double squaredResiduals(const PerCorner& residuals, const Use& use, int& corners) {
    double sum = 0;
    corners = 0;
    for (int k = 0; k < kRigCameras; ++k) {
        for (int i = 0; i < 6; ++i) {
            if (!use[k][i]) continue;
            sum += residuals[k][i] * residuals[k][i];
            ++corners;
        }
    }
    return sum;
}

// The corners' scatter: the residuals of the corners in use over the rig's redundancy.
double scatter(const PerCorner& residuals, const Use& use) {
    int corners = 0;
    const double sum = squaredResiduals(residuals, use, corners);
    return std::sqrt(sum / std::max(1, 2 * corners - kUnknowns));
}

// The scatter the residuals allow at 95 % confidence: with some fifteen degrees of freedom a bay
// whose corners happen to agree well shows about two thirds of their true scatter. The chi-square
// quantile is the Wilson-Hilferty one.
double scatterUpperBound(const PerCorner& residuals, const Use& use) {
    int corners = 0;
    squaredResiduals(residuals, use, corners);
    const double dof = std::max(1, 2 * corners - kUnknowns);
    const double spread = std::sqrt(2.0 / (9.0 * dof));
    const double cube = std::max(1.0 - 2.0 / (9.0 * dof) - kZ95 * spread, 0.1);
    return scatter(residuals, use) * std::sqrt(1.0 / (cube * cube * cube));
}

using Matrix6 = std::array<double, kPoseSize * kPoseSize>;
using Jacobian = std::array<std::array<double, kPoseSize>, 2>;

// How the floor point a fixed pixel shows moves with the camera's pose.
bool floorJacobian(const CameraParam& cam, const Pose& pose, Point2F pixel, Jacobian& j) {
    constexpr double kStep = 1e-3;  // millimetres or degrees
    for (int p = 0; p < kPoseSize; ++p) {
        Pose lo = pose, hi = pose;
        lo[p] -= kStep;
        hi[p] += kStep;
        double x0, y0, x1, y1;
        if (!pixelToFloor(cam, lo, pixel, x0, y0) || !pixelToFloor(cam, hi, pixel, x1, y1)) return false;
        j[0][p] = (x1 - x0) / (2 * kStep);
        j[1][p] = (y1 - y0) / (2 * kStep);
    }
    return true;
}

// a * m * b^T for 2 x 6 a and b.
std::array<double, 4> sandwich(const Jacobian& a, const Matrix6& m, const Jacobian& b) {
    std::array<double, 4> out{};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            double sum = 0;
            for (int i = 0; i < kPoseSize; ++i) {
                for (int j = 0; j < kPoseSize; ++j) sum += a[r][i] * m[i * kPoseSize + j] * b[c][j];
            }
            out[r * 2 + c] = sum;
        }
    }
    return out;
}

double largerEigenvalue(double a, double b, double d) {
    const double half = (a - d) / 2;
    return (a + d) / 2 + std::sqrt(half * half + b * b);
}

std::unique_ptr<ceres::Problem> buildProblem(const CameraParam* cams, RigUnknowns& rig, const Use& use,
                                             const Whitenings& w);

using PoseCovariance = std::array<std::array<Matrix6, kRigCameras>, kRigCameras>;

// The covariance of the poses the rig is fitted to, for corner errors of covariance `error` (per
// corner, in pixels squared): the rig weighs each corner by `fit` and its Huber loss as at the
// solution, not by how well the corner is known, so the poses scatter by G C G' with G the
// weighted least squares' gain (A^-1 J' W, A = J' W J), not by the inverse information alone.
bool poseCovariance(const Eigen::MatrixXd& raw, const std::vector<Eigen::Matrix2d>& weights,
                    const std::vector<Eigen::Matrix2d>& error, PoseCovariance& m) {
    const int n = static_cast<int>(weights.size());
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(kUnknowns, kUnknowns), b = a;
    for (int i = 0; i < n; ++i) {
        const auto g = raw.middleRows(2 * i, 2);
        const Eigen::MatrixXd wg = weights[i] * g;
        a.noalias() += g.transpose() * wg;
        b.noalias() += wg.transpose() * error[i] * wg;
    }
    const Eigen::LDLT<Eigen::MatrixXd> solver(a);
    if (solver.info() != Eigen::Success || !solver.isPositive()) return false;
    const Eigen::MatrixXd gain = solver.solve(Eigen::MatrixXd::Identity(kUnknowns, kUnknowns));
    const Eigen::MatrixXd c = gain * b * gain;
    if (!c.allFinite()) return false;
    for (int p = 0; p < kRigCameras; ++p) {
        for (int q = 0; q < kRigCameras; ++q) {
            for (int i = 0; i < kPoseSize; ++i) {
                for (int j = 0; j < kPoseSize; ++j)
                    m[p][q][i * kPoseSize + j] = c(p * kPoseSize + i, q * kPoseSize + j);
            }
        }
    }
    return true;
}

struct SeamSpread {
    double p95Mm = 0;
    int weakerCamera = 0;
};

// Per triangle the 95th percentile of the difference between the floor points the two cameras'
// pictures show at its corners and its middle, which is what a seam there breaks by.
bool seamSpreads(const CameraParam* cams, const RigUnknowns& rig, const PoseCovariance& m,
                 std::array<SeamSpread, kRigTriangles>& out) {
    for (int t = 0; t < kRigTriangles; ++t) {
        const int a = kTriangleCameras[t][0], b = kTriangleCameras[t][1];
        std::array<std::array<double, 2>, 4> samples{};
        for (int v = 0; v < 3; ++v) {
            samples[v] = vertexOnFloor(rig, t, v);
            samples[3][0] += samples[v][0] / 3;
            samples[3][1] += samples[v][1] / 3;
        }
        double worst = 0, worstA = 0, worstB = 0;
        for (const auto& x : samples) {
            Jacobian ja, jb;
            double pa[2], pb[2];
            if (!floorToPixel(cams[a], rig.poses[a].data(), x[0], x[1], &pa[0], &pa[1]) ||
                !floorToPixel(cams[b], rig.poses[b].data(), x[0], x[1], &pb[0], &pb[1]) ||
                !floorJacobian(cams[a], rig.poses[a], {float(pa[0]), float(pa[1])}, ja) ||
                !floorJacobian(cams[b], rig.poses[b], {float(pb[0]), float(pb[1])}, jb)) {
                return false;
            }
            const auto ca = sandwich(ja, m[a][a], ja), cb = sandwich(jb, m[b][b], jb), cab = sandwich(ja, m[a][b], jb);
            const double xx = ca[0] + cb[0] - 2 * cab[0], yy = ca[3] + cb[3] - 2 * cab[3];
            const double xy = (ca[1] + cb[1]) - (cab[1] + cab[2]);
            const double radius = kP95Radius * std::sqrt(std::max(0.0, largerEigenvalue(xx, xy, yy)));
            if (!(radius <= worst)) {
                worst = radius;
                worstA = ca[0] + ca[3];
                worstB = cb[0] + cb[3];
            }
        }
        if (!finite(worst)) return false;
        out[t] = {worst, worstA >= worstB ? a : b};
    }
    return true;
}

Eigen::Matrix2d lower(const Whitening& w) {
    Eigen::Matrix2d l;
    l << w.a, 0, w.b, w.c;
    return l;
}

// The poses' covariance of the rig as fitted (weighed by `fit`), for corners whose errors are as
// their own covariances say (`w`), widened by how much more than those they scatter (never less
// than they say) and by what the scatter cannot show; from it each camera's sigmas, and per
// triangle the seam's predicted 95th percentile.
void predict(const CameraParam* cams, RigUnknowns& rig, const Use& use, const Whitenings& w, const Whitenings& fit,
             const PerCorner& whitened, RigFigures& figures) {
    figures.pixelSigma = std::max(scatterUpperBound(pixelResiduals(figures), use), kPerfectCornerPx);
    figures.scatterRatio = std::max(scatterUpperBound(whitened, use), 1.0);
    // The corners' residuals in pixels, by the unknowns the fit moves (the front-left triangle
    // holds the floor's frame).
    Whitenings unit;
    for (auto& camera : unit) camera.fill(Whitening{});
    const auto problem = buildProblem(cams, rig, use, unit);
    ceres::Problem::EvaluateOptions options;
    for (Pose& p : rig.poses) options.parameter_blocks.push_back(p.data());
    for (int t = 1; t < kRigTriangles; ++t) options.parameter_blocks.push_back(rig.triangles[t].data());
    options.apply_loss_function = false;
    std::vector<double> residuals;
    ceres::CRSMatrix crs;
    // A rig the calibration could not solve may put a corner behind its camera or give no finite
    // derivative: there is nothing to predict from.
    double cost = 0;
    if (!problem->Evaluate(options, &cost, &residuals, nullptr, &crs) || !finite(cost)) return;
    Eigen::MatrixXd raw = Eigen::MatrixXd::Zero(crs.num_rows, crs.num_cols);
    for (int r = 0; r < crs.num_rows; ++r) {
        for (int i = crs.rows[r]; i < crs.rows[r + 1]; ++i) raw(r, crs.cols[i]) = crs.values[i];
    }
    if (!raw.allFinite() || crs.num_cols != kUnknowns) return;
    // In the order the problem was built: each corner's fit weight with its Huber loss as at the
    // solution, and its error covariance.
    std::vector<Eigen::Matrix2d> weights, known;
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                const int i = 3 * side + v;
                if (!use[k][i]) continue;
                const int row = 2 * static_cast<int>(weights.size());
                const Eigen::Matrix2d f = lower(fit[k][i]);
                const double s = (f * Eigen::Vector2d(residuals[row], residuals[row + 1])).squaredNorm();
                const double huber = s <= kRobustScale * kRobustScale ? 1.0 : kRobustScale / std::sqrt(s);
                weights.push_back(huber * f.transpose() * f);
                const Eigen::Matrix2d l = lower(w[k][i]).inverse();
                known.push_back(l * l.transpose());
            }
        }
    }
    if (static_cast<int>(weights.size()) * 2 != crs.num_rows) return;
    PoseCovariance m{};
    if (!poseCovariance(raw, weights, known, m)) return;
    const double scale = std::pow(kUnseenErrorFactor * figures.scatterRatio, 2);
    for (auto& row : m) {
        for (Matrix6& block : row) {
            for (double& v : block) v *= scale;
        }
    }
    for (int k = 0; k < kRigCameras; ++k) {
        auto sigma = [&](int i) {
            const double v = m[k][k][i * kPoseSize + i];
            return v >= 0 && finite(v) ? std::sqrt(v) : -1.0;
        };
        figures.cameras[k].heightSigmaMm = sigma(kHeight);
        figures.cameras[k].tiltSigmaDeg = sigma(kTilt);
        figures.cameras[k].rollSigmaDeg = sigma(kRoll);
        figures.cameras[k].headingSigmaDeg = sigma(kHeading);
    }
    std::array<SeamSpread, kRigTriangles> spreads{};
    if (!seamSpreads(cams, rig, m, spreads)) return;
    for (int t = 0; t < kRigTriangles; ++t) {
        figures.seams[t].predictedP95Mm = std::hypot(spreads[t].p95Mm, kSeamFloorMm);
        figures.seams[t].weakerCamera = spreads[t].weakerCamera;
    }
    figures.predicted = true;
}

// The larger of what the scatter predicts and what the two cameras already disagree by on the
// corners in use (a dropped corner's gap is its own error, not the rig's).
void includeGaps(RigFigures& figures, const Use& use) {
    for (int t = 0; t < kRigTriangles; ++t) {
        SeamFigures& s = figures.seams[t];
        if (!(s.predictedP95Mm >= 0)) continue;
        for (int v = 0; v < 3; ++v) {
            if (use[s.cameraA][v] && use[s.cameraB][3 + v]) s.predictedP95Mm = std::max(s.predictedP95Mm, s.gapMm[v]);
        }
    }
}

std::unique_ptr<ceres::Problem> buildProblem(const CameraParam* cams, RigUnknowns& rig, const Use& use,
                                             const Whitenings& w) {
    ceres::Problem::Options problemOptions;
    problemOptions.loss_function_ownership = ceres::TAKE_OWNERSHIP;
    auto problem = std::make_unique<ceres::Problem>(problemOptions);
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                if (!use[k][3 * side + v]) continue;
                const Point2F seen = cams[k].imagePoints[3 * side + v];
                auto* cost = new ceres::AutoDiffCostFunction<CornerCost, 2, kPoseSize, 3>(new CornerCost{
                    cams[k], {seen.x, seen.y}, {rig.shapes[t][v][0], rig.shapes[t][v][1]}, w[k][3 * side + v]});
                problem->AddResidualBlock(cost, new ceres::HuberLoss(kRobustScale), rig.poses[k].data(),
                                          rig.triangles[t].data());
            }
        }
    }
    // The floor's own position and turn are free: the front-left triangle holds them while solving.
    problem->SetParameterBlockConstant(rig.triangles[0].data());
    return problem;
}

bool solve(ceres::Problem& problem, int maxIterations, int* iterations = nullptr) {
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_QR;
    options.max_num_iterations = maxIterations;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    options.minimizer_progress_to_stdout = false;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    if (iterations) *iterations += static_cast<int>(summary.iterations.size());
    return summary.IsSolutionUsable();
}

double rmsOver(const PerCorner& residuals, const Use& use) {
    int corners = 0;
    const double sum = squaredResiduals(residuals, use, corners);
    return std::sqrt(sum / std::max(1, corners));
}

// A corner left out, and how well the rest fit one rig without it.
struct LeftOut {
    ContradictedCorner corner;
    double restSquares = 0;  // the squared residuals of the corners still in use, in their units
};

// Each corner in use left out in turn.
std::vector<LeftOut> leaveOneOut(const CameraParam* cams, const RigUnknowns& solved, const Use& use,
                                 const Whitenings& w, const Whitenings& weights) {
    RigFigures fit;
    PerCorner fitWhitened;
    reprojection(cams, solved, w, fit, fitWhitened);
    std::vector<LeftOut> found;
    for (int k = 0; k < kRigCameras; ++k) {
        for (int i = 0; i < 6; ++i) {
            if (!use[k][i]) continue;
            RigUnknowns rest = solved;
            Use without = use;
            without[k][i] = false;
            const auto problem = buildProblem(cams, rest, without, weights);
            if (!solve(*problem, kLeaveOutIterations) || !allFinite(rest)) continue;
            RigFigures others;
            PerCorner whitened;
            reprojection(cams, rest, w, others, whitened);
            const double left = whitened[k][i];
            const double sigma = std::max(scatter(whitened, without), 1.0);
            int corners = 0;
            found.push_back({{k, i, others.cameras[k].residualPx[i], std::sqrt(fitWhitened[k][i] * left) / sigma},
                             squaredResiduals(whitened, without, corners)});
        }
    }
    return found;
}

// Of the corners the rest contradict, the one without which the rest agree best: where two
// corners of one triangle lie close together, the rig can bend toward the bad one until the good
// one looks the worse; only the bad one left out lets the others fit.
const LeftOut* mostContradicted(const std::vector<LeftOut>& found) {
    const LeftOut* best = nullptr;
    for (const LeftOut& f : found) {
        if (!(f.corner.score > kContradictionScore && f.corner.leftOutPx > kContradictedPx)) continue;
        if (!best || f.restSquares < best->restSquares) best = &f;
    }
    return best;
}

}  // namespace

RigFigures measureRig(const CameraParam* cams, int patternShape, float markerLength,
                      const CornerCovariances* covariances) {
    RigFigures figures;
    if (!cams) return figures;
    const Whitenings w = whitenings(covariances);
    RigUnknowns rig;
    for (int k = 0; k < kRigCameras; ++k) rig.poses[k] = poseOf(cams[k]);
    if (usable(cams) && placeTriangles(cams, patternShape, markerLength, rig)) {
        PerCorner whitened;
        reprojection(cams, rig, w, figures, whitened);
        if (markerLength > 0) {
            predict(cams, rig, allCorners(), w, whitenings(covariances, kFitCornerSigmaPx), whitened, figures);
        }
    }
    if (usable(cams)) {
        seamGaps(cams, figures);
        includeGaps(figures, allCorners());
    }
    return figures;
}

RigRefinementResult refineRig(CameraParam* cams, int patternShape, float markerLength, const CalibAdjust* adjust,
                              const CornerCovariances* covariances) {
    RigRefinementResult result;
    result.before = result.after = measureRig(cams, patternShape, markerLength, covariances);
    const Whitenings w = whitenings(covariances);
    // Without covariances every corner counts alike already: the widening changes nothing then.
    const Whitenings fit = whitenings(covariances, kFitCornerSigmaPx);
    RigUnknowns rig;
    if (!cams || !usable(cams) || !(markerLength > 0)) {
        result.note = "the calibration gave no usable poses";
        return result;
    }
    for (int k = 0; k < kRigCameras; ++k) rig.poses[k] = poseOf(cams[k]);
    if (!placeTriangles(cams, patternShape, markerLength, rig)) {
        result.note = "the calibration gave no usable world points";
        return result;
    }

    Use use = allCorners();
    // What the library's rig leaves, in the units the refinement weighs by.
    PerCorner libraryFitted;
    {
        RigFigures library;
        reprojection(cams, rig, fit, library, libraryFitted);
    }
    auto problem = buildProblem(cams, rig, use, fit);
    bool usableSolution = solve(*problem, kMaxIterations, &result.iterations) && allFinite(rig);
    // A corner the others contradict would pull every camera toward it: it is dropped and the rig
    // solved again without it, the worst first, while the rest still contradicts one.
    while (usableSolution && static_cast<int>(result.dropped.size()) < kMaxDropped) {
        const std::vector<LeftOut> found = leaveOneOut(cams, rig, use, w, fit);
        const LeftOut* worst = mostContradicted(found);
        if (!worst) break;
        use[worst->corner.camera][worst->corner.corner] = false;
        result.dropped.push_back(worst->corner);
        problem = buildProblem(cams, rig, use, fit);
        usableSolution = solve(*problem, kMaxIterations, &result.iterations) && allFinite(rig);
    }

    RigFigures after;
    PerCorner whitened, fitted;
    reprojection(cams, rig, w, after, whitened);
    if (!usableSolution) {
        result.note = "the refinement found no usable solution";
        return result;
    }
    {
        RigFigures unused;
        reprojection(cams, rig, fit, unused, fitted);
    }
    if (!(rmsOver(fitted, use) <= rmsOver(libraryFitted, use))) {
        result.note = "the refinement did not lower the reprojection error";
        return result;
    }
    predict(cams, rig, use, w, fit, whitened, after);

    fixFrame(rig, adjust);
    writeBack(cams, rig);
    // Residuals do not depend on the frame; the seams are measured on what was written.
    seamGaps(cams, after);
    includeGaps(after, use);
    result.after = after;
    result.refined = true;
    return result;
}

}  // namespace mz::refine
