// The camera's pose, written once: where a camera stands, how it is turned, the turn between the
// ground and the camera, and the floor point <-> ray pair built on it.
//
// Ground frame of the records (CameraParam as the calibration writes it, calib's CalibCamera, the
// refinement): millimetres, x to the vehicle's right, y to its front, z up. The floor is z = 0 and
// posZ is the camera's height above it (positive). A record's world points are (x, -y) of this
// frame, y growing toward the rear as in a top view. The simulator's floor frame (sim/rig.h) is
// this frame with its origin at the vehicle's centre.
//
// Two camera frames are in use; (x, y, z) of the one is (x, -y, -z) of the other:
//  - lens frame: x to the right of the picture, y up the picture, z backward out of the lens, so
//    a ray the camera sees has z < 0. The calibration, the top view's pose adjustment and the
//    refinement work in it; CameraPose turns into and out of it.
//  - pinhole frame: x right, y down the picture, z forward along the optical axis; a point
//    (X, Y, Z) lies at (f X / Z, f Y / Z) on the ideal plane. The survey, the bowl view and the
//    simulator work in it.
//
// Angles are degrees in the records and radians in CameraPose; each caller keeps its own degree
// conversion, because (deg + delta) * kDegToRad and radians(deg) round differently.
//  - tilt (rotX): how far the optical axis points below the horizon, positive down.
//  - roll (rotZ): turn about the optical axis; positive turns the camera's x axis toward its up
//    axis (counter-clockwise seen from behind the camera), so the scene turns clockwise in the
//    picture.
//  - heading (rotY): direction of the optical axis on the floor, counter-clockwise seen from above
//    from +y: front camera about 0, left 90, rear +-180, right -90. (The simulator counts its
//    heading and roll the other way round.)
// From the ground to the lens frame: take away the centre, undo the heading about z, then the tilt
// about the level x axis, then the roll about the optical axis.
//
// The bowl view reads the same three fields another way: its poses come from the homography
// decomposition (mzGetCameraPosition) in the frame of the world points with z down (x right,
// y rear, z down, posZ negative), as Euler angles of R = Rx(-rotX) Ry(-rotY) Rz(-rotZ) from that
// frame to the pinhole frame. There rotX is the optical axis's angle from straight down and rotZ
// its turn about the vertical. eulerAngles / eulerRotation are that reading.
//
// Templated on the scalar like the lens model (float in the libraries, double in the survey and
// the bowl preview, Jets in the refinement); the order of every operation is the one the stored
// tables were made with, do not reassociate.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace mz {

// The six pose values of a record, in record order: position, height, then tilt, roll and
// heading in degrees. Also the order of the top view's pose delta and of the refinement's
// parameter blocks.
enum PoseValue { kPosX = 0, kPosY, kHeight, kTilt, kRoll, kHeading, kPoseSize };

template <typename T>
using PoseValues = std::array<T, kPoseSize>;

// The pose values of a record (CameraParam, or calib's CalibCamera with its height): the one place
// that reads rotX as tilt, rotZ as roll and rotY as heading.
template <typename T, typename Record>
inline PoseValues<T> poseValues(const Record& cam) {
    if constexpr (requires { cam.posZ; }) {
        return {T(cam.posX), T(cam.posY), T(cam.posZ), T(cam.rotX), T(cam.rotZ), T(cam.rotY)};
    } else {
        return {T(cam.posX), T(cam.posY), T(cam.height), T(cam.rotX), T(cam.rotZ), T(cam.rotY)};
    }
}

// Writes pose values into a record's float fields.
template <typename Record, typename T>
inline void setPoseValues(Record& cam, const PoseValues<T>& v) {
    cam.posX = static_cast<float>(v[kPosX]);
    cam.posY = static_cast<float>(v[kPosY]);
    if constexpr (requires { cam.posZ; }) {
        cam.posZ = static_cast<float>(v[kHeight]);
    } else {
        cam.height = static_cast<float>(v[kHeight]);
    }
    cam.rotX = static_cast<float>(v[kTilt]);
    cam.rotZ = static_cast<float>(v[kRoll]);
    cam.rotY = static_cast<float>(v[kHeading]);
}

template <typename T>
struct CameraPose {
    T x, y, height;         // the centre: floor position and height, millimetres
    T tilt, roll, heading;  // radians

    // The pose of record-order values, each angle through the caller's degree conversion.
    template <typename ToRadians>
    static CameraPose ofDegrees(const PoseValues<T>& v, ToRadians toRadians) {
        return {v[kPosX], v[kPosY], v[kHeight], toRadians(v[kTilt]), toRadians(v[kRoll]), toRadians(v[kHeading])};
    }

    // Ray of the incidence angle theta and the direction phi around the axis (radians, phi counted
    // from the picture's x axis toward its up axis), in the lens frame.
    static void rayOfAngles(const T& theta, const T& phi, T ray[3]) {
        using std::cos;
        using std::sin;
        ray[0] = cos(phi) * sin(theta);
        ray[1] = sin(phi) * sin(theta);
        ray[2] = -cos(theta);
    }

    // An offset from the centre (ground frame) into the lens frame.
    void offsetToCamera(const T& dx, const T& dy, const T& dz, T out[3]) const {
        using std::cos;
        using std::sin;
        // Undo the heading, then the tilt, then the roll.
        const T side = dx * cos(heading) + dy * sin(heading);
        const T ahead = -dx * sin(heading) + dy * cos(heading);
        const T lift = sin(tilt) * ahead + cos(tilt) * dz;
        const T forward = cos(tilt) * ahead - sin(tilt) * dz;
        out[0] = side * cos(roll) + lift * sin(roll);
        out[1] = -side * sin(roll) + lift * cos(roll);
        out[2] = -forward;
    }

    // A ground point into the lens frame.
    void toCamera(const T p[3], T out[3]) const { offsetToCamera(p[0] - x, p[1] - y, p[2] - height, out); }

    // The floor point (wx, wy, 0) as the ray to it, in the lens frame (not of unit length).
    void floorToRay(const T& wx, const T& wy, T ray[3]) const { offsetToCamera(wx - x, wy - y, -height, ray); }

    // A lens-frame direction with the roll undone: side (level x), lift (up the unrolled picture)
    // and forward (along the optical axis).
    void unroll(const T c[3], T& side, T& lift, T& forward) const {
        using std::cos;
        using std::sin;
        side = c[0] * cos(roll) - c[1] * sin(roll);
        lift = c[0] * sin(roll) + c[1] * cos(roll);
        forward = -c[2];
    }

    // Lift and forward with the tilt undone: ahead on the floor and up.
    void untilt(const T& lift, const T& forward, T& ahead, T& up) const {
        using std::cos;
        using std::sin;
        ahead = sin(tilt) * lift + cos(tilt) * forward;
        up = cos(tilt) * lift - sin(tilt) * forward;
    }

    // A point of the camera's level frame (side, ahead; heading 0, position 0) on the floor.
    void floorOfLocal(const T& side, const T& ahead, T& fx, T& fy) const {
        using std::cos;
        using std::sin;
        fx = x + side * cos(heading) - ahead * sin(heading);
        fy = y + side * sin(heading) + ahead * cos(heading);
    }

    // A lens-frame point into the ground frame.
    void toGround(const T c[3], T out[3]) const {
        T side, lift, forward, ahead, up;
        unroll(c, side, lift, forward);
        untilt(lift, forward, ahead, up);
        floorOfLocal(side, ahead, out[0], out[1]);
        out[2] = height + up;
    }

    // Where a lens-frame ray meets the floor, in the level frame (heading 0, position 0). A ray
    // that does not point below the horizon, or has no direction, gives (0, 0): the floor under
    // the camera.
    void localFloorOfRay(const T ray[3], T& side, T& ahead) const {
        using std::atan2;
        using std::isfinite;
        T s, lift, forward, a, up;
        unroll(ray, s, lift, forward);
        side = T(0);
        ahead = T(0);
        if (!(tilt - atan2(lift, forward) > T(0))) return;
        untilt(lift, forward, a, up);
        if (up == T(0)) return;
        const T k = -height / up;
        const T px = s * k, py = a * k;
        if (isfinite(px) && isfinite(py)) {
            side = px;
            ahead = py;
        }
    }

    // Where a lens-frame ray meets the floor, in the ground frame (under the camera when it does
    // not reach the floor).
    void floorOfRay(const T ray[3], T& fx, T& fy) const {
        T side, ahead;
        localFloorOfRay(ray, side, ahead);
        floorOfLocal(side, ahead, fx, fy);
    }
};

// Tilt and roll (radians) as the calibration reads them off the floor's normal n (pointing up,
// lens frame); planar is the length of (n.x, n.y) as the caller measures it.
template <typename T>
inline void tiltAndRollOfNormal(const T& nx, const T& ny, const T& nz, const T& planar, T& tilt, T& roll) {
    using std::asin;
    using std::cos;
    using std::sin;
    using std::sqrt;
    auto asinClamped = [](const T& v) { return asin(std::clamp(v, T(-1), T(1))); };
    roll = planar == T(0) ? T(0) : asinClamped(nx / planar);
    const T qx = sin(roll);
    const T qy = cos(roll);
    const T wx = qy * nz;
    const T wy = -qx * nz;
    const T wz = qx * ny - qy * nx;
    tilt = asinClamped(sqrt(wx * wx + wy * wy + wz * wz));
    if (nz * qy < T(0)) tilt = -tilt;
}

// The bowl's reading of a record: rotX, rotY, rotZ (degrees) as Euler angles.
template <typename T, typename Record>
inline std::array<T, 3> eulerAngles(const Record& cam) {
    return {T(cam.rotX), T(cam.rotY), T(cam.rotZ)};
}

// R = Rx(a) Ry(b) Rz(g) (radians), multiplied in that order, entries summed left to right.
template <typename T>
inline void eulerRotation(const T& a, const T& b, const T& g, T r[3][3]) {
    using std::cos;
    using std::sin;
    const T ca = cos(a), sa = sin(a), cb = cos(b), sb = sin(b);
    const T cg = cos(g), sg = sin(g);
    const T o(0), l(1);
    const T rx[3][3] = {{l, o, o}, {o, ca, -sa}, {o, sa, ca}};
    const T ry[3][3] = {{cb, o, sb}, {o, l, o}, {-sb, o, cb}};
    const T rz[3][3] = {{cg, -sg, o}, {sg, cg, o}, {o, o, l}};
    T xy[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) xy[i][j] = rx[i][0] * ry[0][j] + rx[i][1] * ry[1][j] + rx[i][2] * ry[2][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r[i][j] = xy[i][0] * rz[0][j] + xy[i][1] * rz[1][j] + xy[i][2] * rz[2][j];
}

// The optical axis in the bowl's frame (y rear, z down) of the Euler reading with rotY left out:
// down the angle `down` from straight down, turned by `turn` about the vertical (radians).
template <typename T>
inline void eulerAxis(const T& down, const T& turn, T axis[3]) {
    using std::cos;
    using std::sin;
    axis[0] = sin(turn) * sin(down);
    axis[1] = -cos(turn) * sin(down);
    axis[2] = cos(down);
}

// The inverse of eulerAxis for a unit direction d: its angle from straight down and its turn
// (radians); a direction straight up or down has no turn.
template <typename T>
inline void eulerOfAxis(const T d[3], T& down, T& turn) {
    using std::acos;
    using std::atan2;
    using std::hypot;
    down = acos(std::clamp(d[2], T(-1), T(1)));
    turn = hypot(d[0], d[1]) < T(1e-9) ? T(0) : -atan2(-d[0], -d[1]);
}

}  // namespace mz
