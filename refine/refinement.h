// The two refinement stages that follow the pattern detector and the calibration library, and the
// verdict on what they leave: the workflow runs them on every "Apply AVM" unless switched off.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "refine/corner_refinement.h"
#include "refine/rig_refinement.h"

namespace mz::refine {

// Above these the corners do not fit one rig: most likely a point on the wrong corner.
inline constexpr double kPoorRmsPx = 1.0;
inline constexpr double kPoorCornerPx = 3.0;
// The seam misalignment (95th percentile, millimetres) a driver does not see as a break.
inline constexpr double kGoodSeamMm = 20.0;

struct RefinementReport {
    bool enabled = false;
    bool ran = false;  // a calibration has run since the report was reset
    std::array<std::array<CornerRefinement, 6>, kRigCameras> corners{};
    RigRefinementResult rig;
    // "quality": "good" only when every seam's predicted misalignment is within kGoodSeamMm, no
    // corner was contradicted by the rest and the corners fit one rig
    bool good = true;
    std::vector<std::string> warnings;  // what makes the quality poor: camera, corner, what to do
    std::vector<std::string> notes;     // where a stage kept what it was given, and why
    // What the predictions of the rig in the records were widened by for the picture's quality.
    double pictureFactor = 1;
    double cornerMs = 0;
    double rigMs = 0;
};

inline constexpr const char* kRefineCameraNames[kRigCameras] = {"FRONT", "REAR", "LEFT", "RIGHT"};

// Refines the six corners of every camera whose picture is given (24-bit rows padded to 4
// bytes, the camera's width x height) in place; a camera without a picture keeps its points.
void refineCorners(CameraParam* cameras, const std::array<std::span<const uint8_t>, kRigCameras>& pictures,
                   RefinementReport& report);

// A corner the refinement did not fit is the detector's (or the operator's): on pictures like a
// plant's the detector is off by 1-3 pixels at the sharp tips, in no direction known beforehand.
inline constexpr double kDetectorSigmaPx = 1.5;

// How well each corner in the records is known on screen: a refined one by its sides' fits, any
// other round at the detector's accuracy above.
CornerCovariances cornerCovariances(const RefinementReport& report);

// The sides' edge points scatter this much (pixels, averaged over the fitted corners) on a
// clean picture.
inline constexpr double kCleanSideRmsPx = 0.14;

// The growth of the allowance below with the sides' edge scatter. Each corner's covariance already
// grows with its own sides' scatter; what it leaves out is how the softness moves every sharp tip
// alike across the rig, which grows faster than the scatter. Chosen with the rig's unseen-error
// factor (rig_refinement.h) on the same bays: at 1.5 a mild bay's seam came to 0.84 of its
// prediction (0.79 at 2), at 2.5 no mild bay was "good" any more.
inline constexpr double kPictureExponent = 2.0;

// Widens the rig's seam predictions by how much more the sides' edge points scatter than on a
// clean picture, to the power above: what the blur, noise and compression move every sharp tip by
// alike is no residual of the rig's. The poses' sigmas stay the rig's own: against the truth of the
// simulated bays they already bound the errors on every level (95th percentile of error over sigma
// 0.4-0.8 from clean to real pictures, 1.1-1.3 on harsh ones, a normal error giving 1.96), and
// widened as the seams are they overstated them ten times on real pictures. Call once, before judge.
void allowForPictureQuality(RefinementReport& report);

// Judges the figures of the rig in the records and words the warnings in an operator's terms.
void judge(RefinementReport& report);

}  // namespace mz::refine
