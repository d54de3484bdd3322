// A camera's lens record from an OpenCV fisheye calibration: the equidistant model's
// theta_d = theta (1 + d0 theta^2 + d1 theta^4 + d2 theta^6 + d3 theta^8) is this system's forward
// polynomial with k1 = 1, k2..k5 = d0..d3, and the inverse polynomial c0..c8 is fitted to it over
// the picture's field of view.
#pragma once

#include <array>
#include <map>
#include <string>

#include "format/opencv_storage.h"

namespace mz::core {

// Round-trip error of the fitted inverse polynomial the import aims at, and the one past which it
// refuses the lens (pixels, worst over the picture).
inline constexpr double kLensFitGoal = 0.05;
inline constexpr double kLensFitLimit = 0.5;
// The field ends where the forward polynomial's slope d rho / d theta falls below this (it is 1 at
// the centre): beyond, a pixel's ray is poorly defined and the polynomial soon turns back.
inline constexpr double kLensMinSlope = 0.5;
inline constexpr double kLensMaxField = 1.5707963267948966;  // 90 degrees

struct ImportedLens {
    float f = 0, fx = 0, fy = 0, cx = 0, cy = 0;
    std::array<float, 5> k{};
    std::array<float, 9> c{};
    int width = 0, height = 0;
    double fieldDegrees = 0;  // largest incidence angle of the field the record covers
    double fieldRadius = 0;   // its normalised radius
    double maxError = 0;      // pixel -> angle (c0..c8) -> pixel (k1..k5), over the field
    double rmsError = 0;
    double outsideShare = 0;  // part of the picture beyond the field (a fisheye's dark corners)
};

// From the entries camera_matrix (or K), dist_coeffs (or D, distortion_coefficients) and
// resolution (or image_width and image_height). Throws std::runtime_error for a missing or
// malformed entry, a skewed camera matrix, or a forward polynomial that flattens before 30 degrees. The fit's error is measured, not judged: the caller compares it with the limits.
ImportedLens importOpencvFisheye(const std::map<std::string, format::StoredMatrix>& storage);

// Pixel -> angle -> pixel error of a lens record over the pixels of its picture inside its field
// (every second pixel and the last row and column): worst, root mean square, and the share of
// the picture beyond the field.
void lensRoundTripError(const ImportedLens& lens, double& worst, double& rms, double& outsideShare);

}  // namespace mz::core
