/* mzcalib: multi-camera extrinsic calibration from the pattern points of four cameras.
 *
 * Camera order everywhere: 0 front, 1 rear, 2 left, 3 right.
 *
 * Pose conventions of the solved records (what apply writes into CameraParam):
 *   posX, posY  camera position on the floor, millimetres, in a frame whose x axis points to the
 *               vehicle's right and whose y axis points to the vehicle's FRONT; the origin is the
 *               middle between the side cameras (x) and between front and rear camera (y).
 *   posZ        height above the floor, positive.
 *   rotX        tilt: how far the optical axis points below the horizon, degrees (positive down).
 *   rotZ        roll about the optical axis, degrees.
 *   rotY        heading: direction of the optical axis on the floor, degrees counter-clockwise
 *               (seen from above) from the vehicle's forward direction; front ~0, left ~90,
 *               rear ~180 or -180, right ~-90.
 *   worldPoints (x, -y) of the same frame, i.e. y grows toward the REAR, as in a top-view image.
 * mzMultiCalibGetImage2World returns (x, y) of the posX/posY frame, not negated.
 */
#ifndef MZ_MZCALIB_H
#define MZ_MZCALIB_H

#include "mztypes.h"

MZ_EXTERN_C_BEGIN

/* Kind 0 is the only kind; any other kind, or a failed allocation, gives null. */
MZ_API CalibHandle* mzMultiCalibCreate(int32_t kind);

/* Resets the state. Only the low byte of shape counts: 1 right isosceles triangles with legs of
 * length size, anything else equilateral triangles with side size. reserved is stored, unused.
 * 0, or -1 for a null handle or state. */
MZ_API int32_t mzMultiCalibInit(CalibHandle* handle, int32_t shape, int32_t size, int32_t reserved);

/* Solves four contiguous camera records (front, rear, left, right), each with pointCount 6 and
 * room for 6 image and 6 world points. adjust may be null. 0 success; -1 .. -4 the rig does not
 * fit (-1 - result names the camera with the worst individual fit; poses are written all the
 * same); -5 a camera without 6 points or a null argument (no record changed); -1 null handle. */
MZ_API int32_t mzMultiCalibApply(CalibHandle* handle, CameraParam* cameras, const CalibAdjust* adjust);

/* Not supported: -9 on a live handle, -1 otherwise. */
MZ_API int32_t mzMultiCalibGetMarker(CalibHandle* handle);

/* Maps a picture point of camera 0..3 onto the floor with its current solved pose (y not
 * negated). 0, or -1 for a null handle or state, a camera index outside 0..3 or a camera
 * without lens table; -5 for a null point. */
MZ_API int32_t mzMultiCalibGetImage2World(CalibHandle* handle, const Point2F* pixel, Point2F* ground, int32_t camera);

/* Frees the handle and sets *handle to null. 0 also when handle or *handle is null; -1 when the
 * handle has no operations table or no release operation. */
MZ_API int32_t mzMultiCalibRelease(CalibHandle** handle);

MZ_EXTERN_C_END

#endif
