// Camera pose from a ground-to-ideal-plane homography: scale it into two rotation columns and a
// translation, complete and orthonormalise the rotation, read the position and the Euler angles.
#include <algorithm>
#include <cmath>

#include "geometry/angles.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"

namespace {

constexpr double kPi = mz::kPi<double>;

// asin of a value that rounding may have pushed just past +-1: such a value means +-90 degrees.
double safeAsin(double v) { return std::asin(std::clamp(v, -1.0, 1.0)); }

void store(float* out, float value) {
    if (out) *out = value;
}

}  // namespace

void mzGetCameraPosition(const Matrix* h, float f, float* x, float* y, float* z, float* angleX, float* angleY,
                         float* angleZ) {
    if (!h || !h->data || h->rows != 3 || h->cols != 3) return;
    MatrixPtr k(3, 3), m(3, 3), r(3, 3), vt(3, 3), v(3, 3), rInv(3, 3), t(3, 1), j(3, 1);
    if (!k || !m || !r || !vt || !v || !rInv || !t || !j) return;

    mzSetIdentityMat(k.get(), 1.0f);
    k[2][2] = f;
    mzMultiplyMat(k.get(), m.get(), h);

    const float m22 = m[2][2];
    const float lambda = (m22 / std::fabs(m22)) / std::sqrt(m[0][0] * m[0][0] + m[1][0] * m[1][0] + m[2][0] * m[2][0]);
    float r1[3], r2[3], r3[3];
    for (int i = 0; i < 3; ++i) {
        r1[i] = lambda * m[i][0];
        r2[i] = lambda * m[i][1];
        t[i][0] = lambda * m[i][2];
    }
    r3[0] = r1[1] * r2[2] - r1[2] * r2[1];
    r3[1] = r1[2] * r2[0] - r1[0] * r2[2];
    r3[2] = r1[0] * r2[1] - r1[1] * r2[0];

    // The nearest rotation to Q = [r1 r2 r3] is U V^T.
    float a[4][4] = {}, w[4] = {}, sv[4][4] = {};
    for (int i = 0; i < 3; ++i) {
        a[i + 1][1] = r1[i];
        a[i + 1][2] = r2[i];
        a[i + 1][3] = r3[i];
    }
    mzSVD3(a, w, sv);
    MatrixPtr u(3, 3);
    if (!u) return;
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 3; ++c) {
            u[i][c] = a[i + 1][c + 1];
            v[i][c] = sv[i + 1][c + 1];
        }
    }
    mzTransposeMat(vt.get(), v.get());
    mzMultiplyMat(u.get(), r.get(), vt.get());

    mzInverseMat(rInv.get(), r.get());
    mzMultiplyMat(rInv.get(), j.get(), t.get());
    const float camX = -j[0][0];
    const float camY = -j[1][0];
    float camZ = -j[2][0];

    const double beta = safeAsin(r[0][2]);
    const double cb = std::cos(beta);
    const double alpha = -safeAsin(r[1][2] / cb);
    const double o = -r[0][1] / cb;
    const double p = r[0][0] / cb;
    double gamma = safeAsin(o);
    if (o > 0.0 && p < 0.0) gamma = kPi - safeAsin(o);
    else if (o < 0.0 && p < 0.0) gamma = -kPi - safeAsin(o);
    const double alphaDeg = alpha / kPi * 180.0;
    const double betaDeg = beta / kPi * 180.0;
    double gammaDeg = gamma / kPi * 180.0;

    // A camera is above the ground: the decomposition's mirror solution is turned half a turn.
    if (camZ > 0.0f) {
        camZ = -camZ;
        gammaDeg = gammaDeg >= 0.0 ? gammaDeg - 180.0 : gammaDeg + 180.0;
    }

    store(x, camX);
    store(y, camY);
    store(z, camZ);
    store(angleX, static_cast<float>(-alphaDeg));
    store(angleY, static_cast<float>(-betaDeg));
    store(angleZ, static_cast<float>(-gammaDeg));
}
