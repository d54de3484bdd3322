// How well a fitted triangle matches the frame it was fitted to. A cable or a shadow's rim lying
// along a frame's band gives the outline a long straight stretch of its own; the line search can
// take it for a side and return a triangle well off the frame while calling it found.
#pragma once

#include <array>
#include <vector>

#include "mz/mztypes.h"
#include "pattern/grey_image.h"
#include "pattern/labelling.h"

namespace mz::pattern {

// The triangle with corners `corners` (picture pixels) whose sides are straight on the ideal
// plane, as a polygon in the pixels of the half starting at picture column xo: each side curved
// by the lens as the frame's band is.
std::vector<Point2F> curvedTriangle(const std::array<Point2F, 3>& corners, int xo, const CameraParam& camera);

// Both in pixels over the polygon's perimeter, so in pixels of edge whatever the frame's size.
struct FrameMatch {
    float gap = 0.0f;        // in one but not the other
    float overreach = 0.0f;  // in the polygon but not the frame: floor the triangle took in
};

// The polygon against the nonzero pixels of `frame` (a half, as filledComponent gives it) inside
// `box`. A pixel is taken at its own coordinates, as the outline the sides were fitted to is.
// Nothing in common at all is the largest possible gap.
FrameMatch matchFrame(const GreyImage& frame, const ComponentBox& box, const std::vector<Point2F>& polygon);

// Fitted to its frame, a triangle lies within about half a pixel of the frame's edge on a clean
// picture and takes in almost no floor; a cable or shadow's rim joined to the frame adds edge the
// triangle rightly leaves out (up to a pixel and a half on the worst pictures). One that a cable
// dragged off along a side lies two pixels or more off, or spreads over the floor beside it.
inline constexpr float kMaxEdgeGap = 1.8f;
inline constexpr float kMaxOverreach = 0.4f;
bool matches(const FrameMatch& m);

}  // namespace mz::pattern
