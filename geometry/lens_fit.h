// Least-squares fits of the lens polynomials of lens_model.h, in double: the forward polynomial
// to a table of (angle, radius), and the inverse polynomial c0..c8 to a forward polynomial. Used
// by the simulator to make its lenses and by tests to make theirs; the libraries only evaluate.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "geometry/lens_model.h"

namespace mz::lens {

// Least squares by Householder QR on the design matrix: the normal equations of a degree-8
// polynomial lose too many digits.
inline std::vector<double> solveLeastSquares(std::vector<std::vector<double>> a, std::vector<double> b) {
    const size_t m = a.size();
    const size_t n = a.at(0).size();
    for (size_t j = 0; j < n; ++j) {
        double norm = 0;
        for (size_t i = j; i < m; ++i) norm += a[i][j] * a[i][j];
        norm = std::sqrt(norm);
        if (norm == 0) throw std::runtime_error("lens fit: singular design");
        const double alpha = a[j][j] > 0 ? -norm : norm;
        std::vector<double> v(m, 0.0);
        v[j] = a[j][j] - alpha;
        for (size_t i = j + 1; i < m; ++i) v[i] = a[i][j];
        double vv = 0;
        for (size_t i = j; i < m; ++i) vv += v[i] * v[i];
        if (vv == 0) continue;
        for (size_t col = j; col < n; ++col) {
            double dot = 0;
            for (size_t i = j; i < m; ++i) dot += v[i] * a[i][col];
            const double s = 2 * dot / vv;
            for (size_t i = j; i < m; ++i) a[i][col] -= s * v[i];
        }
        double dot = 0;
        for (size_t i = j; i < m; ++i) dot += v[i] * b[i];
        const double s = 2 * dot / vv;
        for (size_t i = j; i < m; ++i) b[i] -= s * v[i];
    }
    std::vector<double> x(n);
    for (size_t j = n; j-- > 0;) {
        double sum = b[j];
        for (size_t col = j + 1; col < n; ++col) sum -= a[j][col] * x[col];
        x[j] = sum / a[j][j];
    }
    return x;
}

// k1..k5 of the odd polynomial through the points (thetas[i] radians, radii[i]).
inline std::array<double, 5> fitForwardPolynomial(const std::vector<double>& thetas, const std::vector<double>& radii) {
    std::vector<std::vector<double>> a;
    for (double t : thetas) {
        std::vector<double> row(5);
        double p = t;
        for (int i = 0; i < 5; ++i, p *= t * t) row[i] = p;
        a.push_back(row);
    }
    const std::vector<double> x = solveLeastSquares(a, radii);
    return {x[0], x[1], x[2], x[3], x[4]};
}

// c0..c8 of the inverse polynomial of the forward polynomial k (k1..k5) over the angles
// 0..maxTheta (radians), sampled at 401 angles through the nested form. c0 stays 0 so that the
// principal point keeps angle 0 exactly.
template <typename C>
std::array<double, 9> fitInversePolynomial(const C* k, double maxTheta) {
    std::vector<std::vector<double>> a;
    std::vector<double> b;
    const int samples = 400;
    for (int i = 0; i <= samples; ++i) {
        const double t = maxTheta * i / samples;
        const double rho = radiusOfAngleNested(k, t);
        std::vector<double> row(8);
        double p = rho;
        for (int j = 0; j < 8; ++j, p *= rho) row[j] = p;
        a.push_back(row);
        b.push_back(t);
    }
    const std::vector<double> x = solveLeastSquares(a, b);
    std::array<double, 9> c{};
    for (int j = 0; j < 8; ++j) c[j + 1] = x[j];
    return c;
}

// c0..c8 of the inverse polynomial that keeps the pixel round trip (radius -> angle -> radius)
// closest to exact over the radii 0..maxRho, for lenses whose forward polynomial flattens near
// the edge of the picture, where an even spread of angles leaves the outer radii poorly fitted.
// The angle error at a radius costs what it moves the radius back (times dr/dtheta); weights are
// then raised where the error is largest (Lawson's iteration), which approaches the smallest
// worst error. thetaOfRho gives the exact angle of a radius. c0 stays 0.
template <typename ThetaOfRho, typename DerivativeAt>
std::array<double, 9> fitInverseForRoundTrip(double maxRho, ThetaOfRho thetaOfRho, DerivativeAt slope,
                                             int iterations = 30) {
    const int samples = 600;
    std::vector<double> rhos, thetas, scale;
    for (int i = 1; i <= samples; ++i) {
        const double rho = maxRho * i / samples;
        rhos.push_back(rho);
        thetas.push_back(thetaOfRho(rho));
        scale.push_back(slope(thetas.back()));
    }
    std::vector<double> weight(rhos.size(), 1.0);
    std::array<double, 9> best{};
    double bestWorst = INFINITY;
    for (int it = 0; it < iterations; ++it) {
        std::vector<std::vector<double>> a;
        std::vector<double> b;
        for (size_t i = 0; i < rhos.size(); ++i) {
            const double w = std::sqrt(weight[i]) * scale[i];
            std::vector<double> row(8);
            double p = rhos[i];
            for (int j = 0; j < 8; ++j, p *= rhos[i]) row[j] = w * p;
            a.push_back(row);
            b.push_back(w * thetas[i]);
        }
        const std::vector<double> x = solveLeastSquares(a, b);
        std::array<double, 9> c{};
        for (int j = 0; j < 8; ++j) c[j + 1] = x[j];
        double worst = 0, total = 0;
        std::vector<double> error(rhos.size());
        for (size_t i = 0; i < rhos.size(); ++i) {
            error[i] = std::fabs(angleOfRadius(c.data(), rhos[i]) - thetas[i]) * scale[i];
            worst = std::max(worst, error[i]);
        }
        if (worst < bestWorst) {
            bestWorst = worst;
            best = c;
        }
        for (size_t i = 0; i < rhos.size(); ++i) {
            weight[i] *= error[i] + 1e-12 * worst;
            total += weight[i];
        }
        for (double& w : weight) w /= total;
    }
    return best;
}

}  // namespace mz::lens
