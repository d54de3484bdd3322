/* mzview: camera geometry, view engines, image utilities, detection and the display unit's
 * table formats. */
#ifndef MZ_MZVIEW_H
#define MZ_MZVIEW_H

#include "mzgeometry.h"

MZ_EXTERN_C_BEGIN

/* Guide-point table handed to mzMakeBinPGS: the 13 leading words are not read by it. */
typedef struct PgsTable {
    int32_t reserved[13];
    int32_t lineCount; /* number of guide lines */
    int32_t pointsPerLine;
    Point2F* points1; /* lineCount x pointsPerLine points, line by line */
    Point2F* points2; /* the second table, same shape */
} PgsTable;

/* Connected dark regions (every value but 255) of a two-level image, 8-connected, the one-pixel
 * frame counted as background. labels (and contour, which may be null) are `height` caller rows of
 * `width` ints: region numbers 1.., -1 on background pixels a contour trace examined, 0 elsewhere.
 * Returns the number of regions and stores it in *count; 0 when memory runs out. */
MZ_API int mzCCL(int width, int height, const uint8_t** rows, int** labels, int** contour, int* count);

/* A line of size x size dots between two points inside the image; colour bits 16-23 go to a
 * pixel's first byte, 8-15 to its second, 0-7 to its third. Lines with an end point outside the
 * image, or of length zero, draw nothing. */
MZ_API void mzDrawLineBresenham(ImageBuffer* image, int x0, int y0, int x1, int y1, uint32_t colour, int size);

/* Display-unit tables. Each builder writes into dst (sized by its length function, or
 * 4 x width x height for the coordinate tables) and stores the bytes written in *outLen when
 * outLen is not null. Tables of several rows are written even rows first, then odd rows. */
/* mode 0: whole-pixel entries; mode 1: 6 fractional bits; any other mode writes nothing. */
MZ_API void mzMakeBinView(int width, int height, const Point2F* map, uint8_t* dst, int* outLen, int mode);
/* As mzMakeBinView for an output of half the horizontal source resolution. */
MZ_API void mzMakeBinViewHalf(int width, int height, const Point2F* map, uint8_t* dst, int* outLen, int mode);
MZ_API void mzMakeBinMaskRGB16Len(int width, int height, int* len);
MZ_API void mzMakeBinMaskRGB16(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen);
MZ_API void mzMakeBinMaskRGB24Len(int width, int height, int* len);
MZ_API void mzMakeBinMaskRGB24(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen);
MZ_API void mzMakeBinMaskRGB32Len(int width, int height, int* len);
MZ_API void mzMakeBinMaskRGB32(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen);
MZ_API void mzMakeBinMaskYCbCrLen(int width, int height, int* len);
MZ_API void mzMakeBinMaskYCbCr(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen);
/* The image (or world) points of the four cameras, 4 bytes per point. */
MZ_API void mzMakeBinIPoint(const CameraParam* cameras, uint8_t* dst, int* outLen);
MZ_API void mzMakeBinWPoint(const CameraParam* cameras, uint8_t* dst, int* outLen);
/* Guide points of every line (allLines != 0) or of the middle line only, 4 bytes per point. */
MZ_API void mzMakeBinPGS(const PgsTable* table, uint8_t* dst, int* outLen, int useSecondTable, int allLines);

/* View engines behind handles. mzSingleviewCreate accepts kind 0 only; mzMultiviewCreate kind 0, the
 * stitched top view (kinds 1 and 2 give null until they are built). Every operation returns -1 for a
 * null handle or engine (mzSingleviewGetFOV: 0) and 0 otherwise, whether or not it did anything:
 * callers size their buffers from the matching length operation first. Release destroys the engine
 * and nulls the caller's handle. An engine keeps the record given to Init and reads it again later. */
MZ_API ViewHandle mzSingleviewCreate(int index);
MZ_API int mzSingleviewInit(ViewHandle handle, SingleviewParam* param);
MZ_API int mzSingleviewApply(ViewHandle handle, const uint8_t* source, uint8_t* output);
/* width x height x 4 of the view's map at the last Init */
MZ_API int mzSingleviewGetLUTLen(ViewHandle handle, int* length);
MZ_API int mzSingleviewGetLUT(ViewHandle handle, void* buffer, int length);
MZ_API int mzSingleviewSaveLUT(ViewHandle handle, const char* path);
MZ_API int mzSingleviewGetFOV(ViewHandle handle, float* horizontal, float* vertical);
/* Builds the OSD mask of the overlay for a display referenceWidth pixels wide and gives its length;
 * the mask has no fixed limit (a busy overlay may code to two bytes per pixel). */
MZ_API int mzSingleviewGetMaskLen(ViewHandle handle, int* length, int referenceWidth);
MZ_API int mzSingleviewGetMask(ViewHandle handle, void* buffer, int length);
/* clear != 0 blanks the overlay; otherwise width x height BGR rows become the overlay (shown after
 * the next Init). */
MZ_API int mzSingleviewSetImage(ViewHandle handle, int width, int height, const uint8_t* image, int clear);
MZ_API int mzSingleviewSaveImage(ViewHandle handle, const char* path);
MZ_API int mzSingleviewRelease(ViewHandle* handle);

MZ_API ViewHandle mzMultiviewCreate(unsigned index);
MZ_API int mzMultiviewInit(ViewHandle handle, MultiviewParam* param);
/* Camera images in the order front, left, right, rear; a null image keeps that camera's last one. */
MZ_API int mzMultiviewApply(ViewHandle handle, const uint8_t* front, const uint8_t* left, const uint8_t* right,
                            const uint8_t* rear, uint8_t* output);
/* Cameras 0 front, 1 rear, 2 left, 3 right. */
MZ_API int mzMultiviewGetLUTLen(ViewHandle handle, int* length, int camera);
MZ_API int mzMultiviewGetLUT(ViewHandle handle, void* buffer, int length, int camera);
MZ_API int mzMultiviewSaveLUT(ViewHandle handle, const char* path, int camera);
/* Pixel formats: 0 RGB16, 1 RGB32, 2 YCbCr, 3 RGB24. GetMask writes only when length equals
 * GetMaskLen's. */
MZ_API int mzMultiviewGetMaskLen(ViewHandle handle, int* length, int pixelFormat);
MZ_API int mzMultiviewGetMask(ViewHandle handle, void* buffer, int length, int pixelFormat);
/* mode MZ_MV_IMAGE_COPY replaces the stitching map, MZ_MV_IMAGE_CLEAR clears the vehicle picture,
 * any other mode places the picture at (x, y) scaled to w x h (display coordinates). */
#define MZ_MV_IMAGE_COPY 0xCC0020u
#define MZ_MV_IMAGE_CLEAR 5u
MZ_API int mzMultiviewSetImage(ViewHandle handle, int width, int height, const uint8_t* image, unsigned mode, int x,
                               int y, int w, int h);
MZ_API int mzMultiviewSaveImage(ViewHandle handle, const char* path);
/* Re-derives one camera's world points from its pose plus delta[0..5] (posX, posY, posZ, rotX, rotZ,
 * rotY) and rebuilds the maps; the pose in the record is not changed. */
MZ_API int mzMultiviewAdjustCameraPose(ViewHandle handle, MultiviewParam* param, const float* delta, int camera);
MZ_API int mzMultiviewRelease(ViewHandle* handle);

/* A look-up-table entry holds X = 64 x and Y = 32 y in 16 bits: only camera pictures of at most
 * 1024 columns and 2048 rows can be addressed. 0 when a width x height picture fits, -1 otherwise;
 * tables of a picture that does not fit must not be saved. */
#define MZ_LUT_MAX_SOURCE_WIDTH 1024
#define MZ_LUT_MAX_SOURCE_HEIGHT 2048
MZ_API int mzCheckLUTSourceSize(int width, int height);

/* Top-view parameters: nine rectangles (x, y, w, h, unsigned 16-bit, halved) of the regions around
 * the vehicle, 72 bytes; *length (when not null) is set to 72. The full variant is for a top view
 * whose output is rotated (front to the left). */
MZ_API void mzMakeTopviewParam(MultiviewParam* view, void* out, int* length);
MZ_API void mzMakeFullTopviewParam(MultiviewParam* view, void* out, int* length);

/* Parking-guide lines for one steering angle: the right line's points, then the left line's in
 * reverse, for each of three distance segments, (-1, -1) after the first two; millimetres on the
 * floor, x across the vehicle, y along it (negative behind the reference). points must hold
 * maxPoints (x, y) pairs; on return maxPoints holds the number written. Returns 0, -5 for a null
 * argument, -1 (nothing written) for maxPoints below 2, a steering angle of 90 degrees or more
 * either way, a zero wheel base while steering, or a spacing or wheel base that is not a number.
 * Straight lines (steerAngle 0) leave turnRadius at 0. */
MZ_API int mzGetPGSWorldPoints(PgsParam* guide, float* points);
/* Pixels of count guide points of mzGetPGSWorldPoints in a calibrated camera (four or more point
 * pairs); separators and points that are not numbers come out as (-1, -1). Returns 0, -5 for a
 * null argument, -1 when the camera has no point pairs to place the floor. */
MZ_API int mzGetPGSWorldToImage(CameraParam* camera, const float* world, float* image, int count);

/* The two corner and marker detectors take a picture of camera->width x camera->height pixels, three
 * bytes each (blue, green, red) without row padding, and look in two fixed search rectangles of a
 * 720 x 480 picture chosen by the layout code: 0 front, 1 rear, 2 left, 3 right camera (a
 * rectangle is clipped to a smaller picture). A code outside 0..3 prints "Invalid mode". */
#define MZ_DETECT_POINT_CAPACITY 50
/* Twelve image points: outer corners of the left then the right target, then the corners of their
 * holes. imagePoints and worldPoints must each hold MZ_DETECT_POINT_CAPACITY points: all of them
 * are cleared to (0, 0) first; world points stay zero. A target not found gets (-1, -1) corners.
 * Returns 0 when both targets were found, -1 when one was not (or the code or the camera's lens or
 * size is unusable; nothing is written for the latter), -5 for a null argument. */
MZ_API int mzDetectCorner(const uint8_t* picture, CameraParam* cam, int layoutCode);
/* Six image points (three corners of the left then the right marker, in the calibration's order)
 * and their world points, an equilateral triangle of side markerLength in each marker's own frame.
 * rectangleList, when not null, replaces the table: x, y, width, height of the left then the right
 * rectangle. Returns 1 when both markers were found, -1 when it ran but a marker was not found
 * (its points are (-1, -1)) or the code is invalid, 0 (nothing written) for a null argument or a
 * picture size that is not positive or cannot be held. */
MZ_API int mzDetectMarker(const uint8_t* picture, CameraParam* cam, int layoutCode, const int32_t* rectangleList);

MZ_EXTERN_C_END

#endif
