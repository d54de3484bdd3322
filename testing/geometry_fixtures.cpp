#include "testing/geometry_fixtures.h"

#include <algorithm>
#include <cmath>

#include "geometry/lens_fit.h"

namespace mztest {

CameraParam makeFisheye(float f) {
    CameraParam cam{};
    cam.f = f;
    cam.fx = 230.0f;
    cam.fy = 230.0f * 1.125f;  // analogue camera pixels are not square
    cam.cx = 361.5f;
    cam.cy = 238.25f;
    cam.k1 = 1.0f;
    cam.k2 = -0.052f;
    cam.k3 = 0.0042f;
    cam.k4 = -0.0003f;
    cam.k5 = 0.00001f;
    cam.width = 720;
    cam.height = 480;
    const auto c = mz::lens::fitInversePolynomial(mz::lens::forwardCoefficients(cam).data(), 1.66);
    float* out[9] = {&cam.c0, &cam.c1, &cam.c2, &cam.c3, &cam.c4, &cam.c5, &cam.c6, &cam.c7, &cam.c8};
    for (int i = 0; i < 9; ++i) *out[i] = static_cast<float>(c[i]);
    return cam;
}

CameraParam makeEquidistant(int width, int height, float focal) {
    CameraParam cam{};
    cam.f = focal;
    cam.fx = focal;
    cam.fy = focal;
    cam.cx = static_cast<float>(width) / 2.0f;
    cam.cy = static_cast<float>(height) / 2.0f;
    cam.k1 = 1.0f;
    cam.c1 = 1.0f;
    cam.width = width;
    cam.height = height;
    return cam;
}

Mat3::Mat3() : v{}, rows{v[0], v[1], v[2]}, m{rows, 3, 3} {}

Mat3::Mat3(const double (&values)[3][3]) : Mat3() {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) v[i][j] = static_cast<float>(values[i][j]);
}

double projectiveDistance(const Matrix* a, const Matrix* b) {
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double d = std::fabs(double(a->data[i][j]) / a->data[2][2] - double(b->data[i][j]) / b->data[2][2]);
            worst = std::max(worst, d);
        }
    return worst;
}

}  // namespace mztest
