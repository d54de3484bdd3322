// The camera record's forward fisheye model (floor to camera to ideal plane to distorted pixel),
// templated on the scalar so that Ceres can differentiate it. The pose is the one the rig
// calibration writes: position on the floor (y toward the vehicle's front) and height, tilt,
// roll and heading in degrees.
#pragma once

#include <cmath>

#include "geometry/angles.h"
#include "geometry/lens_model.h"
#include "mz/mztypes.h"

namespace mz::refine {

// Ideal-plane point (focal length f, y down the picture) to distorted pixel.
template <typename T>
void distortIdeal(const CameraParam& cam, const T& ix, const T& iy, T* px, T* py) {
    using std::atan;
    using std::sqrt;
    const T u = ix / T(cam.f);
    const T v = iy / T(cam.f);
    const T r2 = u * u + v * v;
    if (!(r2 > T(0))) {
        *px = T(cam.cx) + T(0) * ix;
        *py = T(cam.cy) + T(0) * iy;
        return;
    }
    const T r = sqrt(r2);
    const T rho = lens::radiusOfAngleNested(lens::forwardCoefficients(cam).data(), atan(r));
    const T s = rho / r;
    *px = s * u * T(cam.fx) + T(cam.cx);
    *py = s * v * T(cam.fy) + T(cam.cy);
}

// Camera pose in record order: posX, posY, posZ (height), rotX (tilt), rotZ (roll), rotY
// (heading), angles in degrees.
enum PoseIndex { kPosX = 0, kPosY, kHeight, kTilt, kRoll, kHeading, kPoseSize };

// Floor point (x, y, 0) to the camera's ray: x right, y up the picture, z backward out of the lens.
template <typename T>
void floorToRay(const T* pose, const T& wx, const T& wy, T ray[3]) {
    using std::cos;
    using std::sin;
    const T deg = T(kDegToRad<double>);
    const T a = pose[kTilt] * deg, b = pose[kRoll] * deg, h = pose[kHeading] * deg;
    const T dx = wx - pose[kPosX], dy = wy - pose[kPosY], up = -pose[kHeight];
    // Undo the heading, then the tilt, then the roll.
    const T side = dx * cos(h) + dy * sin(h);
    const T ahead = -dx * sin(h) + dy * cos(h);
    const T yl = sin(a) * ahead + cos(a) * up;
    const T forward = cos(a) * ahead - sin(a) * up;
    ray[0] = side * cos(b) + yl * sin(b);
    ray[1] = -side * sin(b) + yl * cos(b);
    ray[2] = -forward;
}

// Floor point to distorted pixel; false behind the camera.
template <typename T>
bool floorToPixel(const CameraParam& cam, const T* pose, const T& wx, const T& wy, T* px, T* py) {
    T ray[3];
    floorToRay(pose, wx, wy, ray);
    const T forward = -ray[2];
    if (!(forward > T(1e-9))) {
        *px = T(cam.cx) + T(0) * ray[0];
        *py = T(cam.cy) + T(0) * ray[1];
        return false;
    }
    distortIdeal(cam, T(cam.f) * ray[0] / forward, -T(cam.f) * ray[1] / forward, px, py);
    return true;
}

}  // namespace mz::refine
