// Dense float matrices for the geometry code: homographies (3x3), the normal equations of the
// estimators (8x8, 2n x 8), the camera pose. Internal to the libraries; nothing here is exported.
// Misuse is reported by a line on standard output and the operation carries on, as callers of
// the exported geometry expect no error results.
#pragma once

#include "mz/mztypes.h"

// Allocates a rows x cols matrix with uninitialised elements. Returns null when any part of it
// cannot be allocated (nothing is leaked); the geometry functions check for that.
Matrix* mzCreateMat(int rows, int cols);

// Frees the matrix and nulls *m. Tolerates a null address, a null matrix and a matrix without rows.
void mzReleaseMat(Matrix** m);

// c = a x b. c must be a different matrix from a and b.
void mzMultiplyMat(const Matrix* a, Matrix* c, const Matrix* b);

// d = transpose of s.
void mzTransposeMat(Matrix* d, const Matrix* s);

// d = inverse of s (LU decomposition with implicit partial pivoting); s is not modified.
void mzInverseMat(Matrix* d, const Matrix* s);

// Every element 0, then the first min(rows, cols) diagonal elements x.
void mzSetIdentityMat(Matrix* m, float x);

// Copies src into work and decomposes it in place (Crout's method, implicit partial pivoting).
void mzLUDecompose(float** work, float* const* src, int n, int* index, float* sign);

// Solves LU x = b in place; b holds n floats.
void mzLUBackSubstitute(float* b, float* const* lu, int n, const int* index);

// a = U diag(w) V^T for a 3x3 matrix. All arrays are 1-based (index 0 unused): a and v are 4x4,
// w has 4 entries. a is replaced by U. Singular values are not sorted.
void mzSVD3(float a[4][4], float w[4], float v[4][4]);

// sqrt(a*a + b*b) without destructive overflow.
float mzHypot(float a, float b);

// Scoped owner for the temporaries of the geometry code.
class MatrixPtr {
public:
    MatrixPtr(int rows, int cols) : m_(mzCreateMat(rows, cols)) {}
    ~MatrixPtr() { mzReleaseMat(&m_); }
    MatrixPtr(const MatrixPtr&) = delete;
    MatrixPtr& operator=(const MatrixPtr&) = delete;
    Matrix* get() const { return m_; }
    Matrix* operator->() const { return m_; }
    explicit operator bool() const { return m_ != nullptr; }
    float* operator[](int row) const { return m_->data[row]; }

private:
    Matrix* m_;
};
