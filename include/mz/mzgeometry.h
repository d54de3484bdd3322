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
MZ_API void mzGetCameraPosition(const Matrix* h, float f, float* x, float* y, float* z, float* angleX, float* angleY,
                                float* angleZ);

/* Image utilities. Images cross as ImageBuffer records (rows of stride bytes, three-channel pixels
 * B, G, R); a coordinate map is `height` row pointers of `width` (x, y) float pairs, (-1, -1) or
 * any pair outside the source marking a pixel without a source. */
#define MZ_REMAP_NEAREST 0
#define MZ_REMAP_BILINEAR 1
#define MZ_REMAP_BICUBIC 2

/* flags bit 1 bicubic, else bit 0 bilinear, else nearest. Pixels without a source get the fill
 * bytes (one per channel) when fill is given and keep their content otherwise. Returns 0, -5 for a
 * null image or map, -1 when the two images differ in channel count. */
MZ_API int mzRemap(const ImageBuffer* source, ImageBuffer* target, float** map, int flags, const uint8_t* fill);
/* flags bit 0: bilinear that never blends the key colour into a pixel (key: one byte per
 * channel); else nearest. Pixels without a source get the key. Results as mzRemap. */
MZ_API int mzRemapAlpha(const ImageBuffer* source, ImageBuffer* target, float** map, int flags, const uint8_t* key);
/* Scales source onto target about the centres; flags as for mzRemap. Results as mzRemap. */
MZ_API int mzResizeImage(const ImageBuffer* source, ImageBuffer* target, int flags);
/* A complete bitmap file in a new heap block (release it with free), its length in *size; null
 * when the image is unusable or the block cannot be allocated. */
MZ_API uint8_t* mzImageToBmp(const ImageBuffer* image, int* size);
/* Packed B, G, R pixel pairs to U, Y0, V, Y1 (studio range); height x (width / 2) pairs, rows
 * unpadded. Does nothing when either pointer is null. */
MZ_API void mzRGB24toYUV_UY_VY(const uint8_t* pixels, uint8_t* out, int width, int height);

/* View geometry of a single-camera view (SingleviewParam). A coordinate map is view height rows of
 * view width (x, y) float pairs, (-1, -1) where a view pixel has nothing under it. */
/* Camera pixel of every view pixel, (-1, -1) outside sourceWidth x sourceHeight. */
MZ_API void mzGetviewModeLUT(int sourceWidth, int sourceHeight, float** rows, SingleviewParam* view);
/* View pixel of one camera pixel (two floats in, two floats out). */
MZ_API void mzGetViewModePoint(const float* cameraPoint, float* viewPoint, SingleviewParam* view);
/* Pixel of a ground-plane overlay picture (overlayScale mm per pixel) under every view pixel. */
MZ_API void mzGetOverlayLUT(int overlayWidth, int overlayHeight, float** rows, SingleviewParam* view);

MZ_EXTERN_C_END

#endif
