#include "geometry/matrix.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

Matrix* mzCreateMat(int rows, int cols) {
    if (rows < 0 || cols < 0) return nullptr;
    auto* m = static_cast<Matrix*>(std::malloc(sizeof(Matrix)));
    if (!m) return nullptr;
    m->rows = rows;
    m->cols = cols;
    // calloc for the row table: a partial failure can then free whatever was allocated.
    m->data = static_cast<float**>(std::calloc(rows > 0 ? rows : 1, sizeof(float*)));
    if (!m->data) {
        std::free(m);
        return nullptr;
    }
    for (int i = 0; i < rows; ++i) {
        m->data[i] = static_cast<float*>(std::malloc(sizeof(float) * (cols > 0 ? cols : 1)));
        if (!m->data[i]) {
            mzReleaseMat(&m);
            return nullptr;
        }
    }
    return m;
}

void mzReleaseMat(Matrix** m) {
    if (!m || !*m) return;
    Matrix* p = *m;
    if (p->data) {
        for (int i = 0; i < p->rows; ++i) std::free(p->data[i]);
        std::free(p->data);
    }
    std::free(p);
    *m = nullptr;
}

void mzMultiplyMat(const Matrix* a, Matrix* c, const Matrix* b) {
    if (!a || !b || !c) return;
    if (a->cols != b->rows || c->rows != a->rows || c->cols != b->cols) {
        std::printf("mzMultiplyMat: dimension miss match");
        return;
    }
    for (int i = 0; i < c->rows; ++i) {
        for (int j = 0; j < c->cols; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < a->cols; ++k) sum += a->data[i][k] * b->data[k][j];
            c->data[i][j] = sum;
        }
    }
}

void mzTransposeMat(Matrix* d, const Matrix* s) {
    if (!d || !s) return;
    if (d->rows != s->cols || d->cols != s->rows) {
        std::printf("mzTransposeMat: dimension miss match");
        return;
    }
    for (int i = 0; i < d->rows; ++i)
        for (int j = 0; j < d->cols; ++j) d->data[i][j] = s->data[j][i];
}

void mzSetIdentityMat(Matrix* m, float x) {
    if (!m) return;
    for (int i = 0; i < m->rows; ++i)
        for (int j = 0; j < m->cols; ++j) m->data[i][j] = 0.0f;
    const int n = m->rows < m->cols ? m->rows : m->cols;
    for (int i = 0; i < n; ++i) m->data[i][i] = x;
}

void mzLUDecompose(float** a, float* const* src, int n, int* index, float* sign) {
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a[i][j] = src[i][j];
    *sign = 1.0f;

    std::vector<float> scale(n);
    for (int i = 0; i < n; ++i) {
        float big = 0.0f;
        for (int j = 0; j < n; ++j) {
            const float v = std::fabs(a[i][j]);
            if (v > big) big = v;
        }
        if (big == 0.0f) std::printf("Singular Matrix!\n");
        scale[i] = 1.0f / big;
    }

    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < j; ++i) {
            float sum = a[i][j];
            for (int k = 0; k < i; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
        }
        float big = 0.0f;
        int pivot = j;
        for (int i = j; i < n; ++i) {
            float sum = a[i][j];
            for (int k = 0; k < j; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
            const float merit = scale[i] * std::fabs(sum);
            if (merit >= big) {  // a later row wins a tie
                big = merit;
                pivot = i;
            }
        }
        if (pivot != j) {
            for (int k = 0; k < n; ++k) {
                const float t = a[pivot][k];
                a[pivot][k] = a[j][k];
                a[j][k] = t;
            }
            *sign = -*sign;
            scale[pivot] = scale[j];
        }
        index[j] = pivot;
        if (a[j][j] == 0.0f) a[j][j] = 1e-20f;
        if (j != n - 1) {
            const float inv = 1.0f / a[j][j];
            for (int i = j + 1; i < n; ++i) a[i][j] *= inv;
        }
    }
}

void mzLUBackSubstitute(float* b, float* const* lu, int n, const int* index) {
    int first = -1;  // position of the first non-zero right-hand value
    for (int i = 0; i < n; ++i) {
        const int ip = index[i];
        float sum = b[ip];
        b[ip] = b[i];
        if (first >= 0) {
            for (int k = first; k < i; ++k) sum -= lu[i][k] * b[k];
        } else if (sum != 0.0f) {
            first = i;
        }
        b[i] = sum;
    }
    for (int i = n - 1; i >= 0; --i) {
        float sum = b[i];
        for (int k = i + 1; k < n; ++k) sum -= lu[i][k] * b[k];
        b[i] = sum / lu[i][i];
    }
}

void mzInverseMat(Matrix* d, const Matrix* s) {
    if (!d || !s) return;
    const int n = s->rows;
    if (s->cols != n || d->rows != n || d->cols != n) {
        std::printf("mzInverseMat: dimension miss match");
        return;
    }
    MatrixPtr work(n, n);
    if (!work) return;
    std::vector<float> col(n);
    std::vector<int> index(n);
    float sign = 0.0f;
    mzLUDecompose(work->data, s->data, n, index.data(), &sign);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) col[i] = 0.0f;
        col[j] = 1.0f;
        mzLUBackSubstitute(col.data(), work->data, n, index.data());
        for (int i = 0; i < n; ++i) d->data[i][j] = col[i];
    }
}

float mzHypot(float a, float b) {
    const float absA = std::fabs(a);
    const float absB = std::fabs(b);
    if (absA > absB) {
        const float r = absB / absA;
        return absA * std::sqrt(1.0f + r * r);
    }
    if (absB == 0.0f) return 0.0f;
    const float r = absA / absB;
    return absB * std::sqrt(1.0f + r * r);
}

namespace {

float withSign(float a, float b) { return b >= 0.0f ? std::fabs(a) : -std::fabs(a); }

}  // namespace

// Golub-Reinsch: Householder bidiagonalisation, then implicit-shift QR sweeps. m = n = 3.
void mzSVD3(float a[4][4], float w[4], float v[4][4]) {
    constexpr int m = 3;
    constexpr int n = 3;
    float rv1[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float g = 0.0f, scale = 0.0f, anorm = 0.0f;
    float c, f, h, s, x, y, z;
    int l = 1;
    int nm = 0;

    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        rv1[i] = scale * g;
        g = s = scale = 0.0f;
        if (i <= m) {
            for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
            if (scale != 0.0f) {
                for (int k = i; k <= m; ++k) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                f = a[i][i];
                g = -withSign(std::sqrt(s), f);
                h = f * g - s;
                a[i][i] = f - g;
                for (int j = l; j <= n; ++j) {
                    s = 0.0f;
                    for (int k = i; k <= m; ++k) s += a[k][i] * a[k][j];
                    f = s / h;
                    for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
                }
                for (int k = i; k <= m; ++k) a[k][i] *= scale;
            }
        }
        w[i] = scale * g;
        g = s = scale = 0.0f;
        if (i <= m && i != n) {
            for (int k = l; k <= n; ++k) scale += std::fabs(a[i][k]);
            if (scale != 0.0f) {
                for (int k = l; k <= n; ++k) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                f = a[i][l];
                g = -withSign(std::sqrt(s), f);
                h = f * g - s;
                a[i][l] = f - g;
                for (int k = l; k <= n; ++k) rv1[k] = a[i][k] / h;
                for (int j = l; j <= m; ++j) {
                    s = 0.0f;
                    for (int k = l; k <= n; ++k) s += a[j][k] * a[i][k];
                    for (int k = l; k <= n; ++k) a[j][k] += s * rv1[k];
                }
                for (int k = l; k <= n; ++k) a[i][k] *= scale;
            }
        }
        const float rowSum = std::fabs(w[i]) + std::fabs(rv1[i]);
        if (rowSum > anorm) anorm = rowSum;
    }

    // Right-hand transformations into v.
    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != 0.0f) {
                for (int j = l; j <= n; ++j) v[j][i] = (a[i][j] / a[i][l]) / g;
                for (int j = l; j <= n; ++j) {
                    s = 0.0f;
                    for (int k = l; k <= n; ++k) s += a[i][k] * v[k][j];
                    for (int k = l; k <= n; ++k) v[k][j] += s * v[k][i];
                }
            }
            for (int j = l; j <= n; ++j) v[i][j] = v[j][i] = 0.0f;
        }
        v[i][i] = 1.0f;
        g = rv1[i];
        l = i;
    }

    // Left-hand transformations into a.
    for (int i = n; i >= 1; --i) {
        l = i + 1;
        g = w[i];
        for (int j = l; j <= n; ++j) a[i][j] = 0.0f;
        if (g != 0.0f) {
            g = 1.0f / g;
            for (int j = l; j <= n; ++j) {
                s = 0.0f;
                for (int k = l; k <= m; ++k) s += a[k][i] * a[k][j];
                f = (s / a[i][i]) * g;
                for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
            }
            for (int j = i; j <= m; ++j) a[j][i] *= g;
        } else {
            for (int j = i; j <= m; ++j) a[j][i] = 0.0f;
        }
        a[i][i] += 1.0f;
    }

    // Diagonalise the bidiagonal form, last singular value first.
    for (int k = n; k >= 1; --k) {
        for (int its = 1; its <= 30; ++its) {
            bool split = true;
            for (l = k; l >= 1; --l) {
                nm = l - 1;
                if (std::fabs(rv1[l]) + anorm == anorm) {
                    split = false;
                    break;
                }
                if (std::fabs(w[nm]) + anorm == anorm) break;
            }
            if (split) {
                c = 0.0f;
                s = 1.0f;
                for (int i = l; i <= k; ++i) {
                    f = s * rv1[i];
                    rv1[i] = c * rv1[i];
                    if (std::fabs(f) + anorm == anorm) break;
                    g = w[i];
                    h = mzHypot(f, g);
                    w[i] = h;
                    h = 1.0f / h;
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        y = a[j][nm];
                        z = a[j][i];
                        a[j][nm] = y * c + z * s;
                        a[j][i] = z * c - y * s;
                    }
                }
            }
            z = w[k];
            if (l == k) {  // converged
                if (z < 0.0f) {
                    w[k] = -z;
                    for (int j = 1; j <= n; ++j) v[j][k] = -v[j][k];
                }
                break;
            }
            if (its == 30) break;  // not converged: keep the value as it stands
            x = w[l];
            nm = k - 1;
            y = w[nm];
            g = rv1[nm];
            h = rv1[k];
            f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0f * h * y);
            g = mzHypot(f, 1.0f);
            f = ((x - z) * (x + z) + h * ((y / (f + withSign(g, f))) - h)) / x;
            c = s = 1.0f;
            for (int j = l; j <= nm; ++j) {
                const int i = j + 1;
                g = rv1[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = mzHypot(f, h);
                rv1[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                for (int jj = 1; jj <= n; ++jj) {
                    x = v[jj][j];
                    z = v[jj][i];
                    v[jj][j] = x * c + z * s;
                    v[jj][i] = z * c - x * s;
                }
                z = mzHypot(f, h);
                w[j] = z;
                if (z != 0.0f) {
                    z = 1.0f / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                for (int jj = 1; jj <= m; ++jj) {
                    y = a[jj][j];
                    z = a[jj][i];
                    a[jj][j] = y * c + z * s;
                    a[jj][i] = z * c - y * s;
                }
            }
            rv1[l] = 0.0f;
            rv1[k] = f;
            w[k] = x;
        }
    }
}
