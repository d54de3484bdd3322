// Tilt, roll and height of one camera from its two pattern triangles.
#pragma once

#include "calib/calib_state.h"

namespace mz::calib {

// Incidence angle given to a point beyond the table, degrees.
inline constexpr float kNoRowAngle = -6.2831855f;
// A descent whose residual stays above this is retried (side cameras from the vertical normal,
// then every camera from the farther start).
inline constexpr float kRetryResidual = 9600.0f;
inline constexpr float kFirstStart = 1000.0f;
inline constexpr float kSecondStart = 2500.0f;
inline constexpr int kMaxRounds = 100;

struct Plane {
    float nx, ny, nz;  // normal, about unit length
    float m;           // the ground is n . P = -m
};

struct DescentResult {
    float m;
    float rotX;  // radians
    float rotZ;  // radians
    float residual;
};

// Sets the known distances of both triangles; shape is already reduced to its low byte.
void setKnownDistances(float (&distance)[kPointCount][kPointCount], int shape, float size);

// Incidence angle in degrees of a radius on the normalised plane, kNoRowAngle beyond the table.
float incidenceAngle(const LensTable& lens, float rho);

// Unit viewing direction of an image point in the camera frame (x right, y up, z backward).
Point3F rayOfPoint(const CalibCamera& camera, Point2F point);

// Sum of the squared side errors of both triangles on the plane; infinite when a ray runs
// parallel to the plane.
float planeResidual(const Plane& plane, const Point3F (&rays)[kPointCount],
                    const float (&distance)[kPointCount][kPointCount]);

DescentResult descend(const CalibCamera& camera, int cameraIndex, float m0);

// Computes the rays, then height, rotX and rotZ of the camera; returns the residual, or -1
// (camera untouched) when the camera has no lens table.
float solveCamera(CalibCamera& camera, int cameraIndex);

}  // namespace mz::calib
