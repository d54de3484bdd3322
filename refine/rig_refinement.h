// Joint refinement of the rig after the calibration library's: the four camera poses and the
// floor pose of the four triangles (whose shape is known) together, by the reprojection error of
// all 24 corners through each camera's lens, with a robust loss; a corner the others contradict
// (left out, the rest put it far from where it was seen) is dropped so it cannot pull the rig.
// Results go back into the same record fields the calibration writes, in the same frame, so
// everything downstream is unchanged in form. Also the quality figures of a solved rig, refined or
// not: what its corners' scatter predicts for each camera's pose and for the seams.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "mz/mztypes.h"

namespace mz::refine {

inline constexpr int kRigCameras = 4;
inline constexpr int kRigTriangles = 4;

// Which camera sees triangle T1..T4 in its left half (points 0-2) and which in its right half
// (points 3-5); vertex v of a triangle is point v of the first and point 3 + v of the second.
inline constexpr int kTriangleCameras[kRigTriangles][2] = {{0, 2}, {3, 0}, {1, 3}, {2, 1}};

struct CameraFigures {
    double rmsPx = 0;     // reprojection RMS of the camera's six corners
    double worstPx = 0;   // the largest corner residual
    int worstCorner = 0;  // its point index 0..5
    std::array<double, 6> residualPx{};
    double heightSigmaMm = -1;  // predicted standard deviation from the covariance; -1 unknown
    double tiltSigmaDeg = -1;
    double rollSigmaDeg = -1;
    double headingSigmaDeg = -1;
};

// A triangle both neighbouring cameras see: each camera's corners taken to the floor through
// its own ground mapping (its world points), and how far apart the two cameras put each corner.
struct SeamFigures {
    int cameraA = 0;  // sees the triangle in its left half
    int cameraB = 0;  // sees it in its right half
    std::array<double, 3> gapMm{};
    double maxGapMm = 0;
    // The misalignment the corners' scatter lets the two cameras' pictures have around the
    // triangle, 95th percentile (the larger of that and the gap above); -1 unknown.
    double predictedP95Mm = -1;
    int weakerCamera = 0;  // of the two, the one whose pose uncertainty adds more
};

// A corner the rest of the rig contradicts: refitted without it, the rig puts it `leftOutPx`
// from where it was seen; `score` is how far in units of its own covariance, over the rest's
// scatter in those units.
struct ContradictedCorner {
    int camera = 0;
    int corner = 0;  // point index 0..5
    double leftOutPx = 0;
    double score = 0;
};

struct RigFigures {
    std::array<CameraFigures, kRigCameras> cameras{};
    std::array<SeamFigures, kRigTriangles> seams{};
    double pixelSigma = 0;  // the corners' scatter (one coordinate, pixels, 95 % upper bound)
    // How many times what their covariances say the corners scatter (95 % upper bound, at least
    // 1): the poses' covariance is scaled with it.
    double scatterRatio = 1;
    bool predicted = false;  // the sigmas and seam predictions above are known
};

// How well each corner is known on screen: per camera and point index the covariance of its
// error, xx, xy, yy in pixels squared. Without them every corner counts as round and as well
// known as perfect corners are taken to be (kPerfectCornerPx).
using CornerCovariances = std::array<std::array<std::array<double, 3>, 6>, kRigCameras>;
inline constexpr double kPerfectCornerPx = 0.05;

// The covariances show only part of the corners' error: a soft picture moves every sharp tip
// alike, which the rig cannot tell from a pose and which averages out over no number of corners.
// The predictions widen the poses' covariance by this times the corners' scatter ratio. Chosen
// with the picture's allowance (refinement.h) and the seams' floor against the truth of simulated
// bays, clean to harsh, seeds 1-6 at 720x480 and 640x480: the worst seam there came to 0.79 of
// its prediction (0.91 at 1.0, which passes twice the mild bays); on seeds 7-12, never used to
// choose, to 0.86.
inline constexpr double kUnseenErrorFactor = 1.25;

struct RigRefinementResult {
    bool refined = false;  // false: the records keep the calibration library's results
    std::string note;      // why not, when not
    int iterations = 0;
    std::vector<ContradictedCorner> dropped;  // left out of the refined rig, in that order
    RigFigures before;                        // the calibration library's rig
    RigFigures after;                         // the rig in the records now (equal to before when not refined)
};

// Refines the poses of four solved camera records (front, rear, left, right; pointCount 6) in
// place. `adjust` are the operator's adjustments the calibration was given (may be null): the
// refined rig is levelled and centred as the calibration does, then adjusted the same way. Each
// corner weighs by its covariance (may be null): a direction it is poorly known in pulls little.
RigRefinementResult refineRig(CameraParam* cameras, int patternShape, float markerLength, const CalibAdjust* adjust,
                              const CornerCovariances* covariances = nullptr);

// The quality figures of four solved records as they are, without changing them.
RigFigures measureRig(const CameraParam* cameras, int patternShape, float markerLength,
                      const CornerCovariances* covariances = nullptr);

}  // namespace mz::refine
