// The stitched top-view engine's state as the tests see it: the maps and the stitching map in
// working orientation (vehicle front up), for comparing Apply against the plain remap and stitch.
#ifndef MZ_VIEW_TOPVIEW_H
#define MZ_VIEW_TOPVIEW_H

#include <cstdint>

#include "mz/mztypes.h"

namespace mz {

struct TopviewInternals {
    int workWidth = 0;
    int workHeight = 0;
    int sourceWidth = 0;
    int sourceHeight = 0;
    const float* maps[4] = {};          // per camera (front, rear, left, right): workHeight x workWidth pairs
    const uint8_t* blendMap = nullptr;  // workHeight x workWidth x 3 bytes, no row padding
};

// False when the handle is not a top view or has not been initialised.
bool topviewInternals(ViewHandle handle, TopviewInternals* out);

}  // namespace mz

#endif
