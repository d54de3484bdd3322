// A frame freed from what touches it from outside: a cable lying across its band, the dark side of
// a light step (a shadow's or the glare's rim) running into a tip. Such a neighbour joins the frame
// into one dark component whose box no longer fits the frame, so the frame is sought again from the
// light hole it encloses.
#pragma once

#include <array>
#include <cstdint>

#include "mz/mztypes.h"

#include "pattern/grey_image.h"
#include "pattern/labelling.h"

namespace mz::pattern {

// The pixels of component `label` of `labels` (a half labelled by labelComponents) that lie within
// the band around the component's largest enclosed light hole, 255 in an otherwise 0 image of the
// half's size. The band reaches as far from the hole as most of the hole's rim still finds dark
// pixels, so what joins the frame from outside is cut off a pixel or two beyond its outer edge.
// Empty (0 by 0) when the component encloses no light hole.
// The hole's own pixels are kHole.
inline constexpr uint8_t kHole = 128;
GreyImage isolateFrame(const GreyImage& labels, const Component& component);

// The pixels of component `label` of `labels` 255 and every light region they enclose kHole, in an
// otherwise 0 image of the half's size: the frame as the first search saw it.
// Empty (0 by 0) when the component's box is too small to hold a hole.
GreyImage filledComponent(const GreyImage& labels, const Component& component);

// Whether the triangle `corners` (pixels of the half, straight sides) covers the frame and its
// hole in `frame` (as isolateFrame gives it) and little else: a frame still carrying part of
// what joined it fits to a triangle with a corner out on that part.
bool coversFrame(const GreyImage& frame, const ComponentBox& box, const std::array<Point2F, 3>& corners);

// The box of the 255 pixels of `frame` in the labelling's convention (no +1); zero size when none.
ComponentBox foregroundBox(const GreyImage& frame);

}  // namespace mz::pattern
