#include "sim/lens_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace mz::sim {

namespace {

// Radii of the built-in wide-angle lens table, one per whole degree 0..104 (its monotone part).
constexpr double kWideTableRadii[] = {
    0, 0.013991, 0.027987, 0.041991, 0.056007, 0.070039, 0.084092, 0.09817, 0.112276, 0.126416,
    0.140592, 0.154809, 0.169072, 0.183384, 0.197749, 0.212172, 0.226657, 0.241208, 0.255828,
    0.270522, 0.285294, 0.300149, 0.315089, 0.330119, 0.345244, 0.360466, 0.375791, 0.391221,
    0.40676, 0.422413, 0.438183, 0.454074, 0.470089, 0.486231, 0.502504, 0.518912, 0.535457,
    0.552142, 0.56897, 0.585944, 0.603066, 0.62034, 0.637765, 0.655346, 0.673083, 0.690978,
    0.709031, 0.727244, 0.745618, 0.764152, 0.782846, 0.8017, 0.820713, 0.839883, 0.859209,
    0.878687, 0.898316, 0.918091, 0.938009, 0.958066, 0.978254, 0.99857, 1.019005, 1.039552,
    1.060204, 1.08095, 1.101781, 1.122685, 1.143651, 1.164665, 1.185713, 1.20678, 1.22785,
    1.248903, 1.269922, 1.290885, 1.311771, 1.332556, 1.353215, 1.373722, 1.394048, 1.414162,
    1.434033, 1.453627, 1.472907, 1.491837, 1.510374, 1.528478, 1.546102, 1.563199, 1.579721,
    1.595613, 1.610822, 1.625288, 1.63895, 1.651746, 1.663606, 1.674462, 1.684238, 1.692857,
    1.700239,
};
constexpr double kWidePitchX = 0.004437;
constexpr double kWidePitchY = 0.004868;
constexpr int kWideWidth = 720;
constexpr int kWideHeight = 480;
// Half of the lens's field: about 190 degrees across.
constexpr double kHalfField = 95.0 * std::numbers::pi / 180.0;

// Least squares by Householder QR on the design matrix: the normal equations of a degree-8
// polynomial lose too many digits.
std::vector<double> solveLeastSquares(std::vector<std::vector<double>> a, std::vector<double> b) {
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

}  // namespace

double lensRadius(const Lens& lens, double theta) {
    const double t2 = theta * theta;
    double r = 0;
    for (int i = 4; i >= 0; --i) r = r * t2 + lens.k[i];
    return r * theta;
}

std::array<double, 5> fitForwardPolynomial(const std::vector<double>& thetas,
                                           const std::vector<double>& radii) {
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

std::array<double, 9> fitInversePolynomial(const Lens& lens, double maxTheta) {
    // c0 stays 0 so that the principal point keeps angle 0 exactly.
    std::vector<std::vector<double>> a;
    std::vector<double> b;
    const int samples = 400;
    for (int i = 0; i <= samples; ++i) {
        const double t = maxTheta * i / samples;
        const double rho = lensRadius(lens, t);
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

Lens makeLens(int width, int height) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("lens: image size must be positive");
    Lens lens;
    lens.width = width;
    lens.height = height;
    std::vector<double> thetas, radii;
    for (size_t i = 0; i < std::size(kWideTableRadii); ++i) {
        thetas.push_back(static_cast<double>(i) * std::numbers::pi / 180.0);
        radii.push_back(kWideTableRadii[i]);
    }
    const std::array<double, 5> k = fitForwardPolynomial(thetas, radii);
    for (int i = 0; i < 5; ++i) lens.k[i] = static_cast<float>(k[i]);

    if (width == kWideWidth && height == kWideHeight) {
        lens.fx = static_cast<float>(1.0 / kWidePitchX);
        lens.fy = static_cast<float>(1.0 / kWidePitchY);
    } else {
        lens.fx = static_cast<float>(width / (kWideWidth * kWidePitchX));
        lens.fy = lens.fx;
    }
    lens.f = std::round(lens.fx * lens.k[0]);
    lens.cx = static_cast<float>(width / 2);
    lens.cy = static_cast<float>(height / 2);
    lens.maxAngle = kHalfField;
    const std::array<double, 9> c = fitInversePolynomial(lens, kHalfField);
    for (int i = 0; i < 9; ++i) lens.c[i] = static_cast<float>(c[i]);
    return lens;
}

RadiusToAngle::RadiusToAngle(const Lens& lens) {
    // The stored forward polynomial is monotone over the field; its inverse is tabulated densely
    // (Newton on every entry), so interpolating it is off by far less than a thousandth of a pixel.
    maxRadius_ = lensRadius(lens, lens.maxAngle);
    const int n = 16384;
    step_ = maxRadius_ / n;
    angles_.resize(n + 2);
    double theta = 0;
    for (int i = 0; i < n + 2; ++i) {
        const double rho = std::min(i * step_, maxRadius_ * 1.0001);
        for (int it = 0; it < 20; ++it) {
            const double h = 1e-7;
            const double r = lensRadius(lens, theta) - rho;
            const double d = (lensRadius(lens, theta + h) - lensRadius(lens, theta - h)) / (2 * h);
            const double next = theta - r / d;
            if (std::abs(next - theta) < 1e-14) {
                theta = next;
                break;
            }
            theta = next;
        }
        angles_[i] = theta;
    }
    for (double a : angles_) {
        sines_.push_back(std::sin(a));
        cosines_.push_back(std::cos(a));
    }
}

void RadiusToAngle::sinCos(double rho, double& sinTheta, double& cosTheta) const {
    const double pos = rho / step_;
    const size_t i = std::min(static_cast<size_t>(pos), angles_.size() - 2);
    const double t = pos - static_cast<double>(i);
    sinTheta = sines_[i] + (sines_[i + 1] - sines_[i]) * t;
    cosTheta = cosines_[i] + (cosines_[i + 1] - cosines_[i]) * t;
}

double RadiusToAngle::operator()(double rho) const {
    const double pos = rho / step_;
    const size_t i = std::min(static_cast<size_t>(pos), angles_.size() - 2);
    const double t = pos - static_cast<double>(i);
    return angles_[i] + (angles_[i + 1] - angles_[i]) * t;
}

}  // namespace mz::sim
