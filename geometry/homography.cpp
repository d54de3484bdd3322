// Plane-to-plane transforms by linear least squares on Hartley-normalised points, and the
// homography of one camera between its ideal plane and the ground.
#include <cmath>
#include <vector>

#include "geometry/matrix.h"
#include "mz/mzgeometry.h"

namespace {

// Moves the points to their centroid and scales them to a mean distance of sqrt(2); fills the
// scale and translation entries of t (the rest of t is left to the caller).
void normalise(const Point2F* in, int n, std::vector<Point2F>& out, Matrix* t) {
    float mx = 0.0f, my = 0.0f;
    for (int i = 0; i < n; ++i) {
        mx += in[i].x;
        my += in[i].y;
    }
    mx /= static_cast<float>(n);
    my /= static_cast<float>(n);
    float d = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float dx = in[i].x - mx;
        const float dy = in[i].y - my;
        d += std::sqrt(dx * dx + dy * dy);
    }
    d /= static_cast<float>(n);
    const float s = std::sqrt(2.0f) / d;
    out.resize(n);
    for (int i = 0; i < n; ++i) {
        out[i].x = s * (in[i].x - mx);
        out[i].y = s * (in[i].y - my);
    }
    t->data[0][0] = s;
    t->data[0][2] = -s * mx;
    t->data[1][1] = s;
    t->data[1][2] = -s * my;
}

// Solves the normal equations (A^T A) x = A^T b; returns false when memory is short.
bool solveNormalEquations(const Matrix* a, const Matrix* b, std::vector<float>& x) {
    const int unknowns = a->cols;
    MatrixPtr at(unknowns, a->rows), ata(unknowns, unknowns), atb(unknowns, 1), lu(unknowns, unknowns);
    if (!at || !ata || !atb || !lu) return false;
    mzTransposeMat(at.get(), a);
    mzMultiplyMat(at.get(), ata.get(), a);
    mzMultiplyMat(at.get(), atb.get(), b);
    std::vector<int> index(unknowns);
    float sign = 0.0f;
    mzLUDecompose(lu->data, ata->data, unknowns, index.data(), &sign);
    x.resize(unknowns);
    for (int i = 0; i < unknowns; ++i) x[i] = atb[i][0];
    mzLUBackSubstitute(x.data(), lu->data, unknowns, index.data());
    return true;
}

// result = Td^-1 x normalised x Ts
void denormalise(const Matrix* td, const Matrix* normalised, const Matrix* ts, Matrix* result) {
    MatrixPtr tdInv(3, 3), tmp(3, 3);
    if (!tdInv || !tmp) return;
    mzInverseMat(tdInv.get(), td);
    mzMultiplyMat(tdInv.get(), tmp.get(), normalised);
    mzMultiplyMat(tmp.get(), result, ts);
}

bool isMatrix3x3(const Matrix* m) { return m && m->data && m->rows == 3 && m->cols == 3; }

// Shared by the projective (8 unknowns) and the affine (6 unknowns) estimators.
void estimate(const Point2F* src, const Point2F* dst, int count, Matrix* result, bool projective) {
    if (!src || !dst || count <= 0 || !isMatrix3x3(result)) return;
    const int unknowns = projective ? 8 : 6;
    MatrixPtr ts(3, 3), td(3, 3), hn(3, 3), a(2 * count, unknowns), b(2 * count, 1);
    if (!ts || !td || !hn || !a || !b) return;
    mzSetIdentityMat(ts.get(), 1.0f);
    mzSetIdentityMat(td.get(), 1.0f);
    mzSetIdentityMat(hn.get(), 1.0f);
    std::vector<Point2F> p, q;
    normalise(src, count, p, ts.get());
    normalise(dst, count, q, td.get());

    for (int i = 0; i < count; ++i) {
        const float x = p[i].x, y = p[i].y, u = q[i].x, v = q[i].y;
        float* r0 = a[2 * i];
        float* r1 = a[2 * i + 1];
        r0[0] = x;
        r0[1] = y;
        r0[2] = 1.0f;
        r0[3] = 0.0f;
        r0[4] = 0.0f;
        r0[5] = 0.0f;
        r1[0] = 0.0f;
        r1[1] = 0.0f;
        r1[2] = 0.0f;
        r1[3] = x;
        r1[4] = y;
        r1[5] = 1.0f;
        if (projective) {
            r0[6] = -x * u;
            r0[7] = -y * u;
            r1[6] = -x * v;
            r1[7] = -y * v;
        }
        b[2 * i][0] = u;
        b[2 * i + 1][0] = v;
    }
    std::vector<float> h;
    if (!solveNormalEquations(a.get(), b.get(), h)) return;
    for (int i = 0; i < 6; ++i) hn[i / 3][i % 3] = h[i];
    if (projective) {
        hn[2][0] = h[6];
        hn[2][1] = h[7];
        hn[2][2] = 1.0f;
    }
    denormalise(td.get(), hn.get(), ts.get(), result);
}

}  // namespace

void mzGetHomography2D(const Point2F* src, const Point2F* dst, int count, Matrix* h) {
    estimate(src, dst, count, h, true);
}

void mzGetHomography2D3P(const Point2F* src, const Point2F* dst, int count, Matrix* a) {
    estimate(src, dst, count, a, false);
}

void mzHomographyTransform(const Point2F* src, Point2F* dst, const Matrix* h) {
    if (!src || !dst || !isMatrix3x3(h)) return;
    float* const* m = h->data;
    const float x = src->x, y = src->y;
    const float w = m[2][0] * x + m[2][1] * y + m[2][2];
    const float u = m[0][0] * x + m[0][1] * y + m[0][2];
    const float v = m[1][0] * x + m[1][1] * y + m[1][2];
    dst->x = u / w;
    dst->y = v / w;
}

void mzGetHomography(Matrix* h, const CameraParam* cam, int direction) {
    if (!cam || !isMatrix3x3(h)) return;
    int n = cam->pointCount;
    if (n >= 50) n = 50;
    if (n < 4 || !cam->imagePoints || !cam->worldPoints) return;
    std::vector<Point2F> ground(n), ideal(n);
    for (int i = 0; i < n; ++i) {
        ground[i].x = cam->worldPoints[i].x - cam->originX;
        ground[i].y = cam->worldPoints[i].y - cam->originY;
        mzFeatureUndistortion(&cam->imagePoints[i], &ideal[i], cam);
    }
    if (direction == 0) mzGetHomography2D(ground.data(), ideal.data(), n, h);
    else mzGetHomography2D(ideal.data(), ground.data(), n, h);
}
