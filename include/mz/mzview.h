/* mzview: camera geometry, view engines, image utilities, detection and the display unit's
 * table formats. */
#ifndef MZ_MZVIEW_H
#define MZ_MZVIEW_H

#include "mzgeometry.h"

MZ_EXTERN_C_BEGIN

/* Guide-point table handed to mzMakeBinPGS: the 13 leading words are not read by it. */
typedef struct PgsTable {
    int32_t reserved[13];
    int32_t lineCount;          /* number of guide lines */
    int32_t pointsPerLine;
    Point2F* points1;           /* lineCount x pointsPerLine points, line by line */
    Point2F* points2;           /* the second table, same shape */
} PgsTable;

/* Connected dark regions (every value but 255) of a two-level image, 8-connected, the one-pixel
 * frame counted as background. labels (and contour, which may be null) are `height` caller rows of
 * `width` ints: region numbers 1.., -1 on background pixels a contour trace examined, 0 elsewhere.
 * Returns the number of regions and stores it in *count; 0 when memory runs out. */
MZ_API int mzCCL(int width, int height, const uint8_t** rows, int** labels, int** contour, int* count);

/* A line of size x size dots between two points inside the image; colour bits 16-23 go to a
 * pixel's first byte, 8-15 to its second, 0-7 to its third. Lines with an end point outside the
 * image, or of length zero, draw nothing. */
MZ_API void mzDrawLineBresenham(ImageBuffer* image, int x0, int y0, int x1, int y1, uint32_t colour,
                                int size);

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

MZ_EXTERN_C_END

#endif
