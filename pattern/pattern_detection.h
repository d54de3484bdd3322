// The detection pipeline behind mzGetPatternIP, split into steps tests can reach.
#pragma once

#include <cstdint>

#include "mz/mztypes.h"
#include "pattern/corner_fitting.h"
#include "pattern/grey_image.h"

namespace mz::pattern {

struct SearchRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The part of `rect` inside a width x height picture; empty (zero size) when they do not meet.
SearchRect clipToPicture(const SearchRect& rect, int width, int height);

// Binary picture B: 255 everywhere, and inside each clipped rectangle (left, then right, which
// wins where they overlap) the thresholded, border-cleaned grey crop.
GreyImage binarizeRegions(const GreyImage& grey, const SearchRect& left, const SearchRect& right);

struct HalfResult {
    bool found = false;
    Corners corners{};  // as fitted, not yet ordered
};

// Window around a candidate component with box (x, y, w, h) in a halfWidth x height half.
SearchRect candidateWindow(int x, int y, int w, int h, int halfWidth, int height);

// Finds the triangle in one half of B (columns xo .. xo + half.width - 1 of the picture).
HalfResult searchHalf(const GreyImage& half, int xo, const CameraParam& camera);

// Keeps a stored coordinate `margin` pixels inside the picture; the lower bound wins when the
// picture is too small for both.
inline constexpr float kStoreMargin = 10.0f;
Point2F limitToPicture(const Point2F& p, int width, int height);

}  // namespace mz::pattern
