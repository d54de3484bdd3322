// Shared fixtures of the geometry tests: a realistic fisheye camera and ways to compare matrices.
#pragma once

#include <vector>

#include "mz/mztypes.h"

namespace mztest {

// A 720x480 fisheye of about 190 degrees with non-square pixels, its inverse polynomial fitted
// to the forward one by least squares (geometry/lens_fit.h). The point arrays are left empty
// (count 0).
CameraParam makeFisheye(float f = 300.0f);

// Equidistant lens (radius = angle): k1 = 1, c1 = 1, everything else 0, so the forward and
// inverse polynomials are exact inverses.
CameraParam makeEquidistant(int width, int height, float focal = 250.0f);

// Row-major 3x3 helpers for Matrix records that live on the stack of a test.
struct Mat3 {
    float v[3][3];
    float* rows[3];
    Matrix m;
    Mat3();
    explicit Mat3(const double (&values)[3][3]);
    Mat3(const Mat3&) = delete;
    Mat3& operator=(const Mat3&) = delete;
    Matrix* get() { return &m; }
};

// Largest element difference after scaling both matrices so that element [2][2] is 1.
double projectiveDistance(const Matrix* a, const Matrix* b);

}  // namespace mztest
