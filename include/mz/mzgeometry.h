/*
 * Camera geometry, view geometry and image utilities. Both mzview and mzpattern carry and export
 * these functions under the same names; each library's own calls reach its own copy. The copy in
 * mzpattern does not limit the incidence angle of the inverse lens mapping.
 */
#ifndef MZ_MZGEOMETRY_H
#define MZ_MZGEOMETRY_H

#include "mztypes.h"

MZ_EXTERN_C_BEGIN

/* Camera and lens model */
MZ_API void mzGetFOV(const CameraParam* cam, float x, float y, float* angleDeg);
MZ_API void mzFeatureUndistortion(const Point2F* distorted, Point2F* ideal, const CameraParam* cam);
MZ_API void mzFeatureDistortion(const Point2F* ideal, Point2F* distorted, const CameraParam* cam);
MZ_API Point3F mzImageToWorld(Point2F pixel, const CameraParam* cam, const Matrix* imageToWorld);
MZ_API Point2F mzWorldToImage(const CameraParam* cam, Point3F world, const Matrix* worldToImage);
MZ_API void mzWorldToImage2D(const CameraParam* cam, const Point2F* world, Point2F* pixels, int count);

/* Homography estimation */
MZ_API void mzGetHomography2D(const Point2F* src, const Point2F* dst, int count, Matrix* h);
MZ_API void mzGetHomography2D3P(const Point2F* src, const Point2F* dst, int count, Matrix* a);
MZ_API void mzHomographyTransform(const Point2F* src, Point2F* dst, const Matrix* h);
/* direction 0: ground to ideal plane; any other value: ideal plane to ground */
MZ_API void mzGetHomography(Matrix* h, const CameraParam* cam, int direction);

/* Camera position from a ground-to-ideal homography; any output may be null. */
MZ_API void mzGetCameraPosition(const Matrix* h, float f, float* x, float* y, float* z,
                                float* angleX, float* angleY, float* angleZ);

MZ_EXTERN_C_END

#endif
