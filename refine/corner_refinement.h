// Sub-pixel refinement of the pattern corners on the camera picture itself: the outer edge of
// each side of a dark frame is found along short profiles, the edge points are taken into the
// ideal plane (where the sides are straight), each side is fitted as a line and the lines are
// intersected. The detector's point stays wherever the picture does not support a better one.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "mz/mztypes.h"

namespace mz::refine {

struct GreyFloatImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;  // row-major, top row first
};

// Mean of the three channels of 24-bit rows padded to 4 bytes, top row first. An empty image
// when the buffer is shorter than width x height pixels.
GreyFloatImage greyFromBgr(std::span<const uint8_t> rows, int width, int height);

enum class CornerVerdict {
    kRefined,       // moved to the intersection of the fitted sides
    kMovedTooFar,   // a fitted side lies farther from the given point than a detector error can be
    kPoorFit,       // a side's edge points do not lie on a line
    kNoEdge,        // too few profiles found the frame's outer edge (uniform or cut-off picture)
    kInvalidInput,  // not finite, outside the picture or a degenerate triangle
    kNoPicture,     // the camera's picture was not there to refine on
};

const char* verdictName(CornerVerdict verdict);

struct CornerRefinement {
    Point2F given{};    // the detector's (or the operator's) point
    Point2F refined{};  // the point to use: the given one unless the verdict is kRefined
    float moved = 0;    // pixels between the fitted and the given point (0 when none was fitted)
    float sideRms = 0;  // worst RMS distance, pixels, of the edge points from their two sides
    CornerVerdict verdict = CornerVerdict::kInvalidInput;
    bool ownTip = false;  // a sharp tip placed by its own pixels rather than where its sides meet
    // How well the refined point is known on screen, from the fits of its two sides (or of the tip
    // on its own pixels): xx, xy, yy in pixels squared; zero unless refined. At a sharp tip it is
    // long along the bisector.
    std::array<float, 3> covariance{};
};

// Farther than this (pixels, square to the side) from the given point a fitted side is taken for
// another edge. The corner itself may move farther: at a sharp tip a side a few tenths of a pixel
// off moves the point where the sides meet by pixels, so the detector's tips are off that much.
inline constexpr float kMaxSideShift = 5.0f;
// Edge points of a straight side scatter by a few hundredths of a pixel on a clean picture.
inline constexpr float kMaxSideRms = 0.5f;
// A side that poor is still the frame's edge: the other sides sampled between the corners it
// gives lie where they were sought, so their own corner stands.
inline constexpr float kMaxSampledSideRms = 1.0f;

// Refines one triangle's three outer corners (pixels of the distorted picture).
std::array<CornerRefinement, 3> refineTriangle(const GreyFloatImage& image, const CameraParam& camera,
                                               const std::array<Point2F, 3>& corners);

// Distorted pixel to the ideal plane at focal length 1, through the inverse of the forward
// polynomial (the lens the tables are built with); false outside its monotone range.
bool pixelToUnitIdeal(const CameraParam& camera, double px, double py, double& ix, double& iy);
void unitIdealToPixel(const CameraParam& camera, double ix, double iy, double& px, double& py);

}  // namespace mz::refine
