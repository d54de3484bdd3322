// Fitting the four cameras together on the floor.
#pragma once

#include "calib/calib_state.h"

namespace mz::calib {

// An assembly residual above this is a failed calibration.
inline constexpr float kMaxAssemblyResidual = 43200.0f;
inline constexpr float kStartAngle = 90.0f;

// Floor point of a ray in the camera's own frame (heading 0, position 0; x to the camera's right,
// y ahead). Rays that do not reach the floor land on the camera's own position.
Point2F groundLocal(const Point3F& ray, float height, float rotXDeg, float rotZDeg);

// Floor point of a ray with the camera's full pose.
Point2F groundPoint(const CalibCamera& camera, const Point3F& ray);

struct LocalView {
    Point2F points[kPointCount];
    Point2F a;  // centroid of points 0..2
    Point2F b;  // centroid of points 3..5
    float d;    // |a - b|
};

LocalView localView(const CalibCamera& camera);

// Places every camera for the quadrilateral angle s (degrees), writing headings and positions
// into the blocks, and returns the squared mismatch of the shared triangles. Infinite when the
// four centroid distances cannot close a quadrilateral at s; the poses are then those of the
// nearest degenerate closure, so they stay finite.
float rigResidual(CalibCamera (&cameras)[kCameraCount], const LocalView (&views)[kCameraCount], float s);

struct SearchResult {
    float angle;
    float residual;
    int evaluations;
};

// The one-dimensional search over the quadrilateral angle with steps 1, 0.1 and 0.01 degree.
SearchResult searchAngle(CalibCamera (&cameras)[kCameraCount], const LocalView (&views)[kCameraCount]);

// Finds headings and positions of all cameras, levels the front and centres the rig.
float assemble(CalibCamera (&cameras)[kCameraCount]);

void turnAndCentre(CalibCamera (&cameras)[kCameraCount], float angleDeg);

}  // namespace mz::calib
