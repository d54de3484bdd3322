#include "sim/simulated_lens.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "geometry/angles.h"
#include "geometry/lens_fit.h"
#include "geometry/lens_model.h"

namespace mz::sim {

namespace {

// The forward polynomial is fitted to the built-in table's degrees 0..100; its radius peaks past
// 104 degrees.
constexpr size_t kFittedDegrees = 101;
// Half of the lens's field: about 190 degrees across.
constexpr double kHalfField = radians(95.0);

}  // namespace

double lensRadius(const Lens& lens, double theta) { return mz::lens::radiusOfAngleNested(lens.k.data(), theta); }

Lens makeLens(int width, int height) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("lens: image size must be positive");
    Lens lens;
    lens.width = width;
    lens.height = height;
    std::vector<double> thetas, radii;
    for (size_t i = 0; i < kFittedDegrees; ++i) {
        thetas.push_back(radians(static_cast<double>(i)));
        radii.push_back(mz::lens::kBuiltInRadii[i]);
    }
    const std::array<double, 5> k = mz::lens::fitForwardPolynomial(thetas, radii);
    for (int i = 0; i < 5; ++i) lens.k[i] = static_cast<float>(k[i]);

    if (width == mz::lens::kBuiltInWidth && height == mz::lens::kBuiltInHeight) {
        lens.fx = static_cast<float>(1.0 / mz::lens::kBuiltInPitchX);
        lens.fy = static_cast<float>(1.0 / mz::lens::kBuiltInPitchY);
    } else {
        lens.fx = static_cast<float>(width / (mz::lens::kBuiltInWidth * mz::lens::kBuiltInPitchX));
        lens.fy = lens.fx;
    }
    lens.f = std::round(lens.fx * lens.k[0]);
    lens.cx = static_cast<float>(width / 2);
    lens.cy = static_cast<float>(height / 2);
    lens.maxAngle = kHalfField;
    const std::array<double, 9> c = mz::lens::fitInversePolynomial(lens.k.data(), kHalfField);
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
