// The per-pixel maps of the view engines, row by row and several pixels at a time: the top view's
// ground map (homography, then lens) and the single view's lens view. The work goes to AVX2 code
// (8 pixels a lane group) where the processor has it, else to 4-pixel SSE code; both give the very
// bits of the one-pixel forms (lens_lanes.h).
//
// Internal to the view library.
#pragma once

#include <cstdint>

#include "mz/mztypes.h"

namespace mz {

// Map entry (col, row) of a top view: the working pixel's ground point
// ((col - ox) * mmPerPixel, (row - oy) * mmPerPixel) through the homography h and the lens, (-1, -1)
// where it falls outside the source picture.
struct GroundMapJob {
    float h[3][3];
    const CameraParam* cam;
    float mmPerPixel, ox, oy;
    float sourceWidth, sourceHeight;
    int width;   // pixels per row
    float* map;  // rows of `width` (x, y) pairs, one after another
};

// A single view: shift, rotation, scale and flips, shear, keystone, then the panorama step
// (without a split: its stretch of the split's sides is not done here) and the lens step with the
// split sides' division. columnSide (per column, null without a split): 0 nothing, -1 or 1 divided
// as the left or right side, 2 in the band, blank where a panorama or lens step runs.
struct LensViewJob {
    const CameraParam* cam;
    float centreX, centreY, offsetX, offsetY, shearX, shearY, wideAngle;
    float cosR, sinR, ax, ay, kx, ky;
    bool keystone;
    bool panorama, lens;
    float halfTan;  // tan(wideAngle / 2), for the panorama step
    const int32_t* columnSide;
    float sourceWidth, sourceHeight;
    int width;
    float** rows;
};

// Rows first..last-1.
void groundMapRows(const GroundMapJob& job, int first, int last);
void lensViewRows(const LensViewJob& job, int first, int last);

// The two forms, open to the tests: the SSE form always, the AVX2 form only where avx2() is true.
bool avx2();
void groundMapRowsSse(const GroundMapJob& job, int first, int last);
void groundMapRowsAvx2(const GroundMapJob& job, int first, int last);
void lensViewRowsSse(const LensViewJob& job, int first, int last);
void lensViewRowsAvx2(const LensViewJob& job, int first, int last);

}  // namespace mz
