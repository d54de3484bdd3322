#include "refine/rig_refinement.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <ceres/ceres.h>

#include "geometry/angles.h"
#include "mz/mzgeometry.h"
#include "refine/fisheye.h"

namespace mz::refine {

namespace {

using Pose = std::array<double, kPoseSize>;
using TrianglePose = std::array<double, 3>;   // x, y on the floor (y toward the front), turn (radians)
using Vertices = std::array<std::array<double, 2>, 3>;

constexpr double kDeg = kDegToRad<double>;
// Residuals above this many pixels count less and less (a corner on the wrong edge).
constexpr double kRobustScalePx = 1.0;
constexpr int kMaxIterations = 100;
// A covariance scaled by the rig's own residual would promise nothing for perfect corners.
constexpr double kMinPixelSigma = 0.05;

struct Rig {
    std::array<Pose, kRigCameras> poses{};
    std::array<TrianglePose, kRigTriangles> triangles{};
    std::array<Vertices, kRigTriangles> shapes{};   // the triangle in its own frame
};

bool finite(double v) { return std::isfinite(v); }

Pose poseOf(const CameraParam& cam) { return poseValues<double>(cam); }

// The records' world points are stored with y toward the rear.
std::array<double, 2> floorPoint(const CameraParam& cam, int i) {
    return {cam.worldPoints[i].x, -static_cast<double>(cam.worldPoints[i].y)};
}

std::array<double, 2> vertexOnFloor(const Rig& rig, int t, int v) {
    const TrianglePose& p = rig.triangles[t];
    const double c = std::cos(p[2]), s = std::sin(p[2]);
    const auto& q = rig.shapes[t][v];
    return {p[0] + c * q[0] - s * q[1], p[1] + s * q[0] + c * q[1]};
}

// The triangles where the calibration library put them: each fitted, with its known shape and
// the turning sense the two cameras' points show, to the mean of both cameras' world points.
bool placeTriangles(const CameraParam* cams, int shape, double size, Rig& rig) {
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

    template <typename T>
    bool operator()(const T* pose, const T* triangle, T* residual) const {
        using std::cos;
        using std::sin;
        const T c = cos(triangle[2]), s = sin(triangle[2]);
        const T wx = triangle[0] + c * T(vertex[0]) - s * T(vertex[1]);
        const T wy = triangle[1] + s * T(vertex[0]) + c * T(vertex[1]);
        T px, py;
        if (!floorToPixel(camera, pose, wx, wy, &px, &py)) return false;
        residual[0] = px - T(observed[0]);
        residual[1] = py - T(observed[1]);
        return true;
    }
};

double cornerResidual(const CameraParam& cam, const Pose& pose, const Rig& rig, int t, int v, Point2F observed) {
    const auto w = vertexOnFloor(rig, t, v);
    double px, py;
    if (!floorToPixel(cam, pose.data(), w[0], w[1], &px, &py)) return INFINITY;
    return std::hypot(px - observed.x, py - observed.y);
}

void reprojection(const CameraParam* cams, const Rig& rig, RigFigures& figures) {
    for (int k = 0; k < kRigCameras; ++k) figures.cameras[k] = CameraFigures{};
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                const int i = 3 * side + v;
                figures.cameras[k].residualPx[i] =
                    cornerResidual(cams[k], rig.poses[k], rig, t, v, cams[k].imagePoints[i]);
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

void turn(Rig& rig, double degrees) {
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

void shift(Rig& rig, double dx, double dy) {
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
void centre(Rig& rig) {
    const double cx = (rig.poses[3][kPosX] + rig.poses[2][kPosX]) / 2;
    const double cy = (rig.poses[0][kPosY] + rig.poses[1][kPosY]) / 2;
    shift(rig, -cx, -cy);
}

// The frame the calibration writes: the line from the front-left to the front-right triangle
// runs along +x, then centred; then the operator's turn, centring and shifts.
void fixFrame(Rig& rig, const CalibAdjust* adjust) {
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

void writeBack(CameraParam* cams, const Rig& rig) {
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

bool allFinite(const Rig& rig) {
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

double totalRms(const RigFigures& f) {
    double sum = 0;
    for (const CameraFigures& c : f.cameras) sum += c.rmsPx * c.rmsPx;
    return std::sqrt(sum / kRigCameras);
}

void covariance(ceres::Problem& problem, Rig& rig, double finalCost, int observations, int unknowns,
                RigFigures& figures) {
    const double dof = std::max(1, observations - unknowns);
    figures.pixelSigma = std::max(std::sqrt(2 * finalCost / dof), kMinPixelSigma);
    ceres::Covariance::Options options;
    options.algorithm_type = ceres::DENSE_SVD;
    options.num_threads = 1;
    ceres::Covariance cov(options);
    std::vector<std::pair<const double*, const double*>> blocks;
    for (const Pose& p : rig.poses) blocks.emplace_back(p.data(), p.data());
    if (!cov.Compute(blocks, &problem)) return;
    const double scale = figures.pixelSigma * figures.pixelSigma;
    for (int k = 0; k < kRigCameras; ++k) {
        double m[kPoseSize * kPoseSize];
        if (!cov.GetCovarianceBlock(rig.poses[k].data(), rig.poses[k].data(), m)) continue;
        auto sigma = [&](int i) {
            const double v = m[i * kPoseSize + i] * scale;
            return v >= 0 && finite(v) ? std::sqrt(v) : -1.0;
        };
        figures.cameras[k].heightSigmaMm = sigma(kHeight);
        figures.cameras[k].tiltSigmaDeg = sigma(kTilt);
        figures.cameras[k].rollSigmaDeg = sigma(kRoll);
    }
}

}  // namespace

RigFigures measureRig(const CameraParam* cams, int patternShape, float markerLength) {
    RigFigures figures;
    if (!cams) return figures;
    Rig rig;
    for (int k = 0; k < kRigCameras; ++k) rig.poses[k] = poseOf(cams[k]);
    if (usable(cams) && placeTriangles(cams, patternShape, markerLength, rig)) reprojection(cams, rig, figures);
    if (usable(cams)) seamGaps(cams, figures);
    return figures;
}

RigRefinementResult refineRig(CameraParam* cams, int patternShape, float markerLength, const CalibAdjust* adjust) {
    RigRefinementResult result;
    result.before = result.after = measureRig(cams, patternShape, markerLength);
    Rig rig;
    if (!cams || !usable(cams) || !(markerLength > 0)) {
        result.note = "the calibration gave no usable poses";
        return result;
    }
    for (int k = 0; k < kRigCameras; ++k) rig.poses[k] = poseOf(cams[k]);
    if (!placeTriangles(cams, patternShape, markerLength, rig)) {
        result.note = "the calibration gave no usable world points";
        return result;
    }

    ceres::Problem::Options problemOptions;
    problemOptions.loss_function_ownership = ceres::TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    int observations = 0;
    for (int t = 0; t < kRigTriangles; ++t) {
        for (int side = 0; side < 2; ++side) {
            const int k = kTriangleCameras[t][side];
            for (int v = 0; v < 3; ++v) {
                const Point2F seen = cams[k].imagePoints[3 * side + v];
                auto* cost = new ceres::AutoDiffCostFunction<CornerCost, 2, kPoseSize, 3>(new CornerCost{
                    cams[k], {seen.x, seen.y}, {rig.shapes[t][v][0], rig.shapes[t][v][1]}});
                problem.AddResidualBlock(cost, new ceres::HuberLoss(kRobustScalePx), rig.poses[k].data(),
                                         rig.triangles[t].data());
                observations += 2;
            }
        }
    }
    // The floor's own position and turn are free: the front-left triangle holds them while solving.
    problem.SetParameterBlockConstant(rig.triangles[0].data());

    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_QR;
    options.max_num_iterations = kMaxIterations;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    options.minimizer_progress_to_stdout = false;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    result.iterations = static_cast<int>(summary.iterations.size());

    const Rig solved = rig;
    RigFigures after;
    reprojection(cams, solved, after);
    if (!summary.IsSolutionUsable() || !allFinite(solved)) {
        result.note = "the refinement found no usable solution";
        return result;
    }
    if (!(totalRms(after) <= totalRms(result.before))) {
        result.note = "the refinement did not lower the reprojection error";
        return result;
    }
    covariance(problem, rig, summary.final_cost, observations, kRigCameras * kPoseSize + 3 * (kRigTriangles - 1),
               after);

    fixFrame(rig, adjust);
    writeBack(cams, rig);
    // Residuals do not depend on the frame; the seams are measured on what was written.
    seamGaps(cams, after);
    result.after = after;
    result.refined = true;
    return result;
}

}  // namespace mz::refine
