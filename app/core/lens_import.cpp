#include "app/core/lens_import.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "geometry/lens_fit.h"
#include "geometry/lens_model.h"

namespace mz::core {

namespace {

const format::StoredMatrix& entry(const std::map<std::string, format::StoredMatrix>& storage,
                                  std::initializer_list<const char*> names, size_t count) {
    for (const char* name : names) {
        const auto it = storage.find(name);
        if (it == storage.end()) continue;
        if (it->second.data.size() != count) {
            throw std::runtime_error(std::string(name) + " holds " + std::to_string(it->second.data.size()) +
                                     " numbers, not " + std::to_string(count));
        }
        return it->second;
    }
    throw std::runtime_error(std::string("no ") + *names.begin() + " in the file");
}

// The normalised radius rho at the angle theta, with the coefficients as the record stores them.
double forward(const ImportedLens& lens, double theta) {
    const std::array<double, 5> k{lens.k[0], lens.k[1], lens.k[2], lens.k[3], lens.k[4]};
    return lens::radiusOfAngle(k.data(), theta);
}

}  // namespace

void lensRoundTripError(const ImportedLens& lens, double& worst, double& rms, double& outsideShare) {
    const std::array<double, 9> c{lens.c[0], lens.c[1], lens.c[2], lens.c[3], lens.c[4],
                                  lens.c[5], lens.c[6], lens.c[7], lens.c[8]};
    worst = 0;
    double sum = 0;
    size_t n = 0, outside = 0;
    const auto step = [](int i, int last) { return i == last ? last + 1 : std::min(i + 2, last); };
    for (int y = 0; y < lens.height; y = step(y, lens.height - 1)) {
        for (int x = 0; x < lens.width; x = step(x, lens.width - 1)) {
            const double u = (x - double{lens.cx}) / lens.fx;
            const double v = (y - double{lens.cy}) / lens.fy;
            const double rho = std::hypot(u, v);
            if (rho == 0) continue;
            if (rho > lens.fieldRadius) {
                ++outside;
                continue;
            }
            const double back = forward(lens, lens::angleOfRadius(c.data(), rho)) / rho;
            const double e = std::hypot((back - 1) * u * lens.fx, (back - 1) * v * lens.fy);
            worst = std::max(worst, e);
            sum += e * e;
            ++n;
        }
    }
    rms = n ? std::sqrt(sum / n) : 0;
    outsideShare = n + outside ? static_cast<double>(outside) / static_cast<double>(n + outside) : 0;
}

ImportedLens importOpencvFisheye(const std::map<std::string, format::StoredMatrix>& storage) {
    const format::StoredMatrix& k = entry(storage, {"camera_matrix", "K"}, 9);
    const format::StoredMatrix& d = entry(storage, {"dist_coeffs", "D", "distortion_coefficients"}, 4);
    double width = 0, height = 0;
    if (storage.count("resolution")) {
        const format::StoredMatrix& r = entry(storage, {"resolution"}, 2);
        width = r.data[0];
        height = r.data[1];
    } else {
        width = entry(storage, {"image_width"}, 1).data[0];
        height = entry(storage, {"image_height"}, 1).data[0];
    }
    if (width < 1 || height < 1 || width > 4096 || height > 4096 || width != std::floor(width) ||
        height != std::floor(height)) {
        throw std::runtime_error("the resolution must be two whole numbers from 1 to 4096");
    }
    const double fx = k.data[0], fy = k.data[4], cx = k.data[2], cy = k.data[5];
    if (!(fx > 0) || !(fy > 0) || !std::isfinite(cx) || !std::isfinite(cy)) {
        throw std::runtime_error("camera_matrix needs positive fx, fy and a finite principal point");
    }
    if (std::fabs(k.data[1]) > 1e-6 * fx || k.data[3] != 0 || k.data[6] != 0 || k.data[7] != 0 || k.data[8] != 1) {
        throw std::runtime_error(
            "camera_matrix is not [fx 0 cx; 0 fy cy; 0 0 1]: a skew term has no place in the lens record");
    }
    for (double v : d.data) {
        if (!std::isfinite(v)) throw std::runtime_error("dist_coeffs holds a number that is not finite");
    }

    ImportedLens lens;
    lens.width = static_cast<int>(width);
    lens.height = static_cast<int>(height);
    lens.fx = static_cast<float>(fx);
    lens.fy = static_cast<float>(fy);
    lens.cx = static_cast<float>(cx);
    lens.cy = static_cast<float>(cy);
    lens.f = lens.fx;  // the ideal plane of the undistorted picture keeps the calibration's focal length
    lens.k = {1.0f, static_cast<float>(d.data[0]), static_cast<float>(d.data[1]), static_cast<float>(d.data[2]),
              static_cast<float>(d.data[3])};

    // The field the record covers: out to the farthest pixel of the picture, or to where the
    // forward polynomial flattens (a fisheye's dark corners lie beyond the calibrated circle; past
    // that the polynomial no longer tells neighbouring rays apart, and then turns back).
    double rhoMax = 0;
    for (double x : {0.0, width - 1}) {
        for (double y : {0.0, height - 1}) {
            rhoMax = std::max(rhoMax, std::hypot((x - cx) / fx, (y - cy) / fy));
        }
    }
    const auto slope = [&lens](double t) { return (forward(lens, t + 1e-6) - forward(lens, t - 1e-6)) / 2e-6; };
    const auto inField = [&](double t) { return slope(t) >= kLensMinSlope && t <= kLensMaxField; };
    const double kStep = 1e-3;
    double theta = 0;
    while (forward(lens, theta + kStep) < rhoMax && inField(theta + kStep)) theta += kStep;
    // Bisection on the last step: the angle of the farthest pixel, or the end of the field.
    double lo = theta, hi = theta + kStep;
    const bool wholePicture = inField(hi);
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (forward(lens, mid) < rhoMax && inField(mid) ? lo : hi) = mid;
    }
    theta = wholePicture ? hi : lo;
    if (theta < 0.5) {
        throw std::runtime_error("the lens model flattens at " + std::to_string(theta * 180 / M_PI) +
                                 " degrees: dist_coeffs do not describe a fisheye lens");
    }
    lens.fieldDegrees = theta * 180 / M_PI;
    lens.fieldRadius = forward(lens, theta);
    const auto thetaOfRho = [&lens, theta](double rho) {
        double a = 0, b = theta;
        for (int i = 0; i < 60; ++i) {
            const double mid = (a + b) / 2;
            (forward(lens, mid) < rho ? a : b) = mid;
        }
        return (a + b) / 2;
    };
    const std::array<double, 9> c = lens::fitInverseForRoundTrip(lens.fieldRadius, thetaOfRho, slope);
    for (int i = 0; i < 9; ++i) lens.c[i] = static_cast<float>(c[i]);
    lensRoundTripError(lens, lens.maxError, lens.rmsError, lens.outsideShare);
    return lens;
}

}  // namespace mz::core
