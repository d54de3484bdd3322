// The camera record's forward fisheye model (floor to camera to ideal plane to distorted pixel),
// templated on the scalar so that Ceres can differentiate it. The pose is the one the rig
// calibration writes (geometry/camera_pose.h), as a parameter block of six values in record order.
#pragma once

#include <cmath>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
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

// The pose of a parameter block in record order (geometry/camera_pose.h), angles in degrees.
template <typename T>
CameraPose<T> poseOfBlock(const T* pose) {
    return CameraPose<T>::ofDegrees({pose[kPosX], pose[kPosY], pose[kHeight], pose[kTilt], pose[kRoll], pose[kHeading]},
                                    [](const T& deg) { return deg * T(kDegToRad<double>); });
}

// Floor point (x, y, 0) to the camera's ray in the lens frame: x right, y up the picture, z
// backward out of the lens.
template <typename T>
void floorToRay(const T* pose, const T& wx, const T& wy, T ray[3]) {
    poseOfBlock(pose).floorToRay(wx, wy, ray);
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
