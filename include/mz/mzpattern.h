/* mzpattern: calibration-pattern detection, with its own copy of the camera geometry. */
#ifndef MZ_MZPATTERN_H
#define MZ_MZPATTERN_H

#include "mzgeometry.h"

MZ_EXTERN_C_BEGIN

/*
 * Finds the two dark triangular frames of one camera picture and writes their outer corners.
 *
 * picture:    camera->width x camera->height pixels of 3 bytes (blue, green, red), rows without
 *             padding, top row first; never modified.
 * camera:     reads width, height and the lens; writes imagePoints[0..5] and pointCount.
 * rectangles: 8 int32: left search rectangle x, y, width, height, then the right one. A rectangle
 *             reaching outside the picture is clipped to it.
 *
 * Returns 0 when at least one half held a triangle: the found halves' corners go to entries 0-2
 * (left) and 3-5 (right), lowest corner first, then clockwise on screen, each coordinate kept
 * 10 pixels inside the picture; a half not found keeps its entries; pointCount becomes 6.
 * Returns -1 when neither half held a triangle, when width or height is not positive, or when
 * working memory cannot be had; the record is then untouched.
 * Returns -5 when picture, camera, camera->imagePoints or rectangles is null.
 *
 * Calls for different cameras may run on different threads. A per-thread pseudo-random state
 * drives the line search; it carries over from one call to the next on the same thread.
 */
MZ_API int32_t mzGetPatternIP(const uint8_t* picture, CameraParam* camera, const int32_t* rectangles);

MZ_EXTERN_C_END

#endif
