// The fisheye lens of the simulated cameras, in the form of the camera record: a forward odd
// polynomial (radius from incidence angle) and a fitted inverse polynomial (angle from radius).
#pragma once

#include <array>
#include <vector>

namespace mz::sim {

struct Lens {
    // Exactly the values written into Config.bin; every projection of the simulator uses them.
    float f = 0, fx = 0, fy = 0, cx = 0, cy = 0;
    std::array<float, 5> k{};  // radius = k1 t + k2 t^3 + ... + k5 t^9, t in radians
    std::array<float, 9> c{};  // angle = c0 + c1 r + ... + c8 r^8
    int width = 0;
    int height = 0;
    double maxAngle = 0;  // radians; rays beyond it fall outside the image circle
};

// The lens for a picture size: the curve of the built-in wide-angle lens table with its pixel
// pitches (720x480, non-square pixels); other sizes keep the angular coverage across the width
// and have square pixels.
Lens makeLens(int width, int height);

// Normalised distorted radius of an incidence angle (radians), in double on the stored floats
// (the nested form of geometry/lens_model.h).
double lensRadius(const Lens& lens, double theta);

// Fast inverse of the forward polynomial, by a dense table: angle (radians) from radius.
class RadiusToAngle {
public:
    explicit RadiusToAngle(const Lens& lens);
    double maxRadius() const { return maxRadius_; }
    // Callers keep rho within [0, maxRadius()].
    double operator()(double rho) const;
    // sin and cos of the angle, interpolated from tables: the renderer's inner loop.
    void sinCos(double rho, double& sinTheta, double& cosTheta) const;

private:
    std::vector<double> angles_;
    std::vector<double> sines_;
    std::vector<double> cosines_;
    double step_ = 0;
    double maxRadius_ = 0;
};

}  // namespace mz::sim
