// The files the view engines write on request for inspection: a coordinate map as a text table and
// an image as a 24-bit bitmap. Failures to open or write leave no report, like every dump.
#ifndef MZ_VIEW_DUMP_FILES_H
#define MZ_VIEW_DUMP_FILES_H

#include "mz/mztypes.h"

namespace mz {

// One line "col row x y" per entry in row order (rows[r] holds width (x, y) pairs); a missing
// (negative) coordinate is written as 36245.000000, which the readers of these tables expect.
void saveMapText(const char* path, int width, int height, const float* const* rows);

void saveBitmap(const char* path, const ImageBuffer* image);

}  // namespace mz

#endif
