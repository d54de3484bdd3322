#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "geometry/matrix.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void fill(Matrix* m, std::initializer_list<float> values) {
    auto it = values.begin();
    for (int i = 0; i < m->rows; ++i)
        for (int j = 0; j < m->cols; ++j) m->data[i][j] = *it++;
}

TEST(MatrixToolkit, CreateAndReleaseTolerateEmptyInput) {
    Matrix* m = mzCreateMat(3, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, 3);
    EXPECT_EQ(m->cols, 4);
    mzReleaseMat(&m);
    EXPECT_EQ(m, nullptr);
    mzReleaseMat(&m);
    mzReleaseMat(nullptr);
    EXPECT_EQ(mzCreateMat(-1, 3), nullptr);
}

TEST(MatrixToolkit, MultiplyChecksDimensionsAndLeavesResultOnMismatch) {
    MatrixPtr a(3, 3), v(3, 1), c(3, 1), row(1, 3), bad(3, 3);
    fill(a.get(), {1, 2, 3, 4, 5, 6, 7, 8, 10});
    fill(v.get(), {1, -1, 2});
    mzMultiplyMat(a.get(), c.get(), v.get());
    EXPECT_FLOAT_EQ(c[0][0], 5.0f);
    EXPECT_FLOAT_EQ(c[1][0], 11.0f);
    EXPECT_FLOAT_EQ(c[2][0], 19.0f);

    fill(row.get(), {1, 2, 3});
    fill(bad.get(), {9, 9, 9, 9, 9, 9, 9, 9, 9});
    CaptureStdout();
    mzMultiplyMat(a.get(), bad.get(), row.get());
    EXPECT_EQ(GetCapturedStdout(), "mzMultiplyMat: dimension miss match");
    EXPECT_FLOAT_EQ(bad[1][1], 9.0f);
}

TEST(MatrixToolkit, TransposeChecksShape) {
    MatrixPtr s(2, 3), d(3, 2), same(2, 3);
    fill(s.get(), {1, 2, 3, 4, 5, 6});
    mzTransposeMat(d.get(), s.get());
    EXPECT_FLOAT_EQ(d[2][1], 6.0f);
    EXPECT_FLOAT_EQ(d[0][1], 4.0f);
    CaptureStdout();
    mzTransposeMat(same.get(), s.get());
    EXPECT_EQ(GetCapturedStdout(), "mzTransposeMat: dimension miss match");
}

TEST(MatrixToolkit, InverseOfIdentityAndOfRandomMatrices) {
    MatrixPtr id(4, 4), inv(4, 4);
    mzSetIdentityMat(id.get(), 1.0f);
    mzInverseMat(inv.get(), id.get());
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(inv[i][j], i == j ? 1.0f : 0.0f);

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-10.0f, 10.0f);
    MatrixPtr a(5, 5), ai(5, 5), p(5, 5), copy(5, 5);
    for (int trial = 0; trial < 20; ++trial) {
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) copy[i][j] = a[i][j] = u(rng);
        mzInverseMat(ai.get(), a.get());
        mzMultiplyMat(a.get(), p.get(), ai.get());
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) {
                EXPECT_EQ(a[i][j], copy[i][j]) << "source modified";
                EXPECT_NEAR(p[i][j], i == j ? 1.0f : 0.0f, 2e-3f);
            }
    }
}

TEST(MatrixToolkit, InverseReportsSingularAndMismatchedInput) {
    MatrixPtr s(3, 3), d(3, 3), wrong(2, 3);
    fill(s.get(), {1, 2, 3, 0, 0, 0, 4, 5, 7});
    CaptureStdout();
    mzInverseMat(d.get(), s.get());
    EXPECT_EQ(GetCapturedStdout(), "Singular Matrix!\n");

    fill(d.get(), {5, 5, 5, 5, 5, 5, 5, 5, 5});
    CaptureStdout();
    mzInverseMat(d.get(), wrong.get());
    EXPECT_EQ(GetCapturedStdout(), "mzInverseMat: dimension miss match");
    EXPECT_EQ(d[0][0], 5.0f);
}

TEST(MatrixToolkit, PivotTieChoosesTheLaterRow) {
    // Column 0 has equal figures of merit in rows 0 and 2 (each row's largest element is its
    // first); the later row becomes the pivot.
    MatrixPtr s(3, 3), lu(3, 3);
    fill(s.get(), {2, 1, 1, 1, 3, 2, 4, 2, 1});
    int index[3];
    float sign = 0.0f;
    mzLUDecompose(lu->data, s->data, 3, index, &sign);
    EXPECT_EQ(index[0], 2);
    EXPECT_EQ(sign, -1.0f);
    EXPECT_EQ(lu[0][0], 4.0f);

    float b[3] = {1, 2, 3};  // solve and check against the source
    mzLUBackSubstitute(b, lu->data, 3, index);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(s[i][0] * b[0] + s[i][1] * b[1] + s[i][2] * b[2], i + 1.0f, 1e-5f);
}

TEST(MatrixToolkit, SetIdentityCoversNonSquareMatrices) {
    MatrixPtr m(2, 3);
    fill(m.get(), {7, 7, 7, 7, 7, 7});
    mzSetIdentityMat(m.get(), 2.5f);
    EXPECT_EQ(m[0][0], 2.5f);
    EXPECT_EQ(m[1][1], 2.5f);
    EXPECT_EQ(m[0][2], 0.0f);
    EXPECT_EQ(m[1][0], 0.0f);
}

TEST(MatrixToolkit, Hypot) {
    EXPECT_EQ(mzHypot(0.0f, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(mzHypot(3.0f, 4.0f), 5.0f);
    EXPECT_FLOAT_EQ(mzHypot(-4.0f, 3.0f), 5.0f);
    EXPECT_FLOAT_EQ(mzHypot(3e30f, 4e30f), 5e30f);  // no overflow in the squares
}

void svdOf(const float m[3][3], float u[4][4], float w[4], float v[4][4]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) u[i + 1][j + 1] = m[i][j];
    mzSVD3(u, w, v);
}

TEST(MatrixToolkit, SvdReconstructsRandomMatrices) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> d(-5.0f, 5.0f);
    for (int trial = 0; trial < 200; ++trial) {
        float m[3][3], u[4][4] = {}, w[4] = {}, v[4][4] = {};
        for (auto& row : m)
            for (float& x : row) x = d(rng);
        svdOf(m, u, w, v);
        for (int i = 1; i <= 3; ++i) {
            EXPECT_GE(w[i], 0.0f);
            for (int j = 1; j <= 3; ++j) {
                float sum = 0.0f;
                for (int k = 1; k <= 3; ++k) sum += u[i][k] * w[k] * v[j][k];
                EXPECT_NEAR(sum, m[i - 1][j - 1], 1e-4f) << "trial " << trial;
                float utu = 0.0f, vtv = 0.0f;  // orthonormal columns
                for (int k = 1; k <= 3; ++k) {
                    utu += u[k][i] * u[k][j];
                    vtv += v[k][i] * v[k][j];
                }
                EXPECT_NEAR(utu, i == j ? 1.0f : 0.0f, 1e-5f);
                EXPECT_NEAR(vtv, i == j ? 1.0f : 0.0f, 1e-5f);
            }
        }
    }
}

TEST(MatrixToolkit, SvdOfRotationHasUnitValuesAndUVtIsTheRotation) {
    const float a = 0.3f, b = -1.1f;
    const float r[3][3] = {{std::cos(a), -std::sin(a) * std::cos(b), std::sin(a) * std::sin(b)},
                           {std::sin(a), std::cos(a) * std::cos(b), -std::cos(a) * std::sin(b)},
                           {0.0f, std::sin(b), std::cos(b)}};
    float u[4][4] = {}, w[4] = {}, v[4][4] = {};
    svdOf(r, u, w, v);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NEAR(w[i], 1.0f, 1e-5f);
        for (int j = 1; j <= 3; ++j) {
            float sum = 0.0f;
            for (int k = 1; k <= 3; ++k) sum += u[i][k] * v[j][k];
            EXPECT_NEAR(sum, r[i - 1][j - 1], 1e-5f);
        }
    }
}

}  // namespace
