// The geometry of a single-camera view: which camera pixel shows each view pixel, where a camera
// pixel lands in the view, and which pixel of a ground-plane overlay picture lies under each view
// pixel. The exported functions read the caller's record; the engines call these internal forms
// with a record of their own when they need a variant of the caller's view (the 720-pixel OSD
// mask) without touching the caller's record.
#ifndef MZ_GEOMETRY_VIEW_MODE_H
#define MZ_GEOMETRY_VIEW_MODE_H

#include "mz/mztypes.h"

namespace mz {

// Fills rows[0..height-1] (width pairs each) with camera pixels, (-1, -1) where the view pixel
// has no source inside sourceWidth x sourceHeight. Does nothing without rows, camera or size.
void viewModeMap(int sourceWidth, int sourceHeight, float** rows, const SingleviewParam& view);
// Rows first..last-1 of the same map, each exactly as the whole map has it: parts may be made on
// different threads.
void viewModeMapRows(int sourceWidth, int sourceHeight, float** rows, const SingleviewParam& view, int first, int last);

// Fills rows like viewModeMap with positions in an overlayWidth x overlayHeight ground picture.
// A camera without four point pairs has no ground plane: every entry is (-1, -1).
void overlayMap(int overlayWidth, int overlayHeight, float** rows, const SingleviewParam& view);

}  // namespace mz

#endif
