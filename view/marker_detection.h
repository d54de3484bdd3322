// Marker detection's choice of region, reachable by tests.
#ifndef MZ_VIEW_MARKER_DETECTION_H
#define MZ_VIEW_MARKER_DETECTION_H

#include "view/target_shapes.h"

namespace mz::detect {

// Among the dark regions of a two-level image (regions of 200 pixels or fewer do not count): the
// largest ring, whose middle row and middle column each cross the dark band twice, or failing
// that the largest region crossed twice along one of them. The winner alone stays dark; false
// when there is none.
bool keepMarkerRegion(Plane& binary);

}  // namespace mz::detect

#endif
