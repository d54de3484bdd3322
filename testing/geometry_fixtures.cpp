#include "testing/geometry_fixtures.h"

#include <cmath>
#include <utility>

namespace mztest {

CameraParam makeFisheye(float f)
{
    CameraParam cam{};
    cam.f = f;
    cam.fx = 230.0f;
    cam.fy = 230.0f * 1.125f; // analogue camera pixels are not square
    cam.cx = 361.5f;
    cam.cy = 238.25f;
    cam.k1 = 1.0f;
    cam.k2 = -0.052f;
    cam.k3 = 0.0042f;
    cam.k4 = -0.0003f;
    cam.k5 = 0.00001f;
    cam.width = 720;
    cam.height = 480;
    fitInversePolynomial(cam, 1.66);
    return cam;
}

CameraParam makeEquidistant(int width, int height, float focal)
{
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

void fitInversePolynomial(CameraParam& cam, double thetaMax)
{
    constexpr int kTerms = 9;
    constexpr int kSamples = 400;
    long double ata[kTerms][kTerms + 1] = {};
    for (int s = 0; s <= kSamples; ++s) {
        const double t = thetaMax * s / kSamples;
        const double rho = cam.k1 * t + cam.k2 * std::pow(t, 3) + cam.k3 * std::pow(t, 5) +
                           cam.k4 * std::pow(t, 7) + cam.k5 * std::pow(t, 9);
        long double p[kTerms];
        p[0] = 1.0L;
        for (int i = 1; i < kTerms; ++i)
            p[i] = p[i - 1] * rho;
        for (int i = 0; i < kTerms; ++i) {
            for (int j = 0; j < kTerms; ++j)
                ata[i][j] += p[i] * p[j];
            ata[i][kTerms] += p[i] * t;
        }
    }
    for (int col = 0; col < kTerms; ++col) {
        int pivot = col;
        for (int r = col + 1; r < kTerms; ++r)
            if (std::fabs(ata[r][col]) > std::fabs(ata[pivot][col]))
                pivot = r;
        for (int c = 0; c <= kTerms; ++c)
            std::swap(ata[col][c], ata[pivot][c]);
        for (int r = 0; r < kTerms; ++r) {
            if (r == col)
                continue;
            const long double factor = ata[r][col] / ata[col][col];
            for (int c = col; c <= kTerms; ++c)
                ata[r][c] -= factor * ata[col][c];
        }
    }
    float* c[kTerms] = {&cam.c0, &cam.c1, &cam.c2, &cam.c3, &cam.c4,
                        &cam.c5, &cam.c6, &cam.c7, &cam.c8};
    for (int i = 0; i < kTerms; ++i)
        *c[i] = static_cast<float>(ata[i][kTerms] / ata[i][i]);
}

Mat3::Mat3() : v{}, rows{v[0], v[1], v[2]}, m{rows, 3, 3} {}

Mat3::Mat3(const double (&values)[3][3]) : Mat3()
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            v[i][j] = static_cast<float>(values[i][j]);
}

double projectiveDistance(const Matrix* a, const Matrix* b)
{
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double d = std::fabs(double(a->data[i][j]) / a->data[2][2] -
                                       double(b->data[i][j]) / b->data[2][2]);
            worst = std::max(worst, d);
        }
    return worst;
}

} // namespace mztest
