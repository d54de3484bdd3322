/*
 * Records shared by the calibration program and the libraries mzview, mzpattern and mzcalib.
 *
 * The field order of every record is an interface: the program, the three libraries and the
 * display-unit tooling all read these records through the same layout. Never reorder, never
 * insert; unused words keep their place. The static assertions at the end of this header check
 * the layout wherever it is included (tests/geometry/headers_c.c includes it as C).
 *
 * Valid C and C++.
 */
#ifndef MZ_MZTYPES_H
#define MZ_MZTYPES_H

#include <stdint.h>

#include "mzexport.h"

MZ_EXTERN_C_BEGIN

/* Camera order everywhere: records, LUT camera numbers, calibration results. (Only the picture
 * arguments of mzMultiviewApply and the preview's copies run front, left, right, rear.) */
enum { MZ_CAMERA_FRONT = 0, MZ_CAMERA_REAR = 1, MZ_CAMERA_LEFT = 2, MZ_CAMERA_RIGHT = 3, MZ_CAMERA_COUNT = 4 };

/* Bytes of one row of a 24-bit picture: three bytes a pixel, padded to a multiple of 4 bytes.
 * Computed in the type of `width`. */
#define MZ_ROW_STRIDE24(width) (((width)*3 + 3) & ~3)

/* (-1, -1) marks a missing point in point arrays and look-up tables throughout the system. */
typedef struct Point2F {
    float x;
    float y;
} Point2F;

typedef struct Point3F {
    float x;
    float y;
    float z;
} Point3F;

/* Row-pointer matrix of floats. Every row is its own heap block, so rows swap by pointer.
 * A column vector is a rows x 1 matrix. Every homography is a 3 x 3 Matrix; a point is the
 * column (x, y, 1). */
typedef struct Matrix {
    float** data;
    int32_t rows;
    int32_t cols;
} Matrix;

/* One fisheye camera. Fields 1-23 come from the configuration's camera records, 30-33 from its
 * multiview records, 24-29 are the solved pose, 34-36 the pattern point pairs. The two point
 * arrays belong to the program (room for 6 points each). */
typedef struct CameraParam {
    float f;  /* focal length of the ideal plane, pixels */
    float fx; /* horizontal pixels per unit of normalised distorted radius */
    float fy; /* vertical pixels per unit of normalised distorted radius */
    float cx; /* principal point */
    float cy;
    float k1, k2, k3, k4, k5;                 /* radius from angle: theta, theta^3 .. theta^9 */
    float c0, c1, c2, c3, c4, c5, c6, c7, c8; /* angle from radius: rho^0 .. rho^8 */
    int32_t width;                            /* image size, pixels */
    int32_t height;
    int32_t extra1; /* carried from the configuration; no library reads them */
    int32_t extra2;
    float posX; /* position in the ground frame; posZ is the height (sign: see mzcalib) */
    float posY;
    float posZ;
    float rotX;    /* tilt, degrees */
    float rotZ;    /* roll about the optical axis, degrees */
    float rotY;    /* heading, degrees */
    float originX; /* world origin offset added to every ground point */
    float originY;
    int32_t patternShape; /* 0 equilateral, 1 right isosceles */
    int32_t markerLength; /* triangle side, world units (mm) */
    int32_t pointCount;   /* number of image/world point pairs (6 in the program) */
    Point2F* imagePoints; /* distorted pixels of the pattern points */
    Point2F* worldPoints; /* ground positions of the same points */
} CameraParam;

/* Image record of the view library: rows 4-byte aligned, three-channel pixels stored B, G, R. */
typedef struct ImageBuffer {
    uint32_t headerSize; /* 32 */
    int32_t channels;    /* bytes per pixel, at least 1 */
    uint32_t reserved;   /* 0 */
    int32_t width;
    int32_t height;
    int32_t stride;    /* (width * channels + 3) & ~3 */
    int32_t imageSize; /* stride * height */
    uint8_t** rows;    /* height row pointers, each row its own block of stride bytes */
} ImageBuffer;

/* A coordinate map (CoordMap) is `height` row pointers (float**), each row `width` (x, y) float
 * pairs giving the source-picture position of an output pixel; (-1, -1), or any pair outside the
 * source, marks a pixel without a source. */
typedef float** CoordMap;

/* Multiview flags */
#define MZ_MV_BILINEAR 0x0001u
#define MZ_MV_BICUBIC 0x0002u
#define MZ_MV_SHOW_BLEND 0x4000u
#define MZ_MV_ROTATED 0x8000u

/* Parameter record of a stitched (multi-view) engine: 40 words, field meanings in view/. */
typedef struct MultiviewParam {
    uint32_t flags;
    int32_t reserved1[2];   /* left unset by the program */
    int32_t vehicleWidth;   /* mm */
    int32_t vehicleLength;  /* mm */
    int32_t reserved2[3];   /* left unset by the program */
    float frontFov;         /* degrees (default 150) */
    float rearFov;          /* degrees (default 150) */
    float blendWidth;       /* degrees (default 10) */
    uint32_t vehicleColour; /* 0x00BBGGRR (default 0x010101) */
    int32_t lineWidth;      /* seam line width, pixels (default 4) */
    int32_t blendMode;      /* 0 auto, 1 FOV, 2 Line1, 3 Line2, 4 predefined (default 4) */
    float bowlWallX;        /* bowl views only: the first four of twelve words */
    float bowlWallY;
    float bowlHeight;
    float bowlFloorY;
    int32_t reserved3[8]; /* zero from the program */
    int32_t width;        /* top-view size, pixels (display orientation) */
    int32_t height;
    float centreX; /* vehicle centre, top-view pixels */
    float centreY;
    float mmPerPixel;     /* ground mm per top-view pixel */
    char name[12];        /* view name, e.g. "AVM2D_FULL" (program data) */
    int32_t lutId[4];     /* flash identifiers of the LUTs: front, rear, left, right */
    int32_t maskId;       /* flash identifier of the camera mask */
    CameraParam* cameras; /* four cameras: front, rear, left, right (bowl views: five) */
} MultiviewParam;

/* Single-view flags */
#define MZ_SV_BILINEAR 0x0001u
#define MZ_SV_BICUBIC 0x0002u
#define MZ_SV_LENS 0x0020u
#define MZ_SV_PANORAMA 0x0040u
#define MZ_SV_FLIP_V 0x0100u
#define MZ_SV_FLIP_H 0x0200u
#define MZ_SV_SPLIT 0x1000u
#define MZ_SV_OVERLAY 0x2000u

/* Parameter record of a single-camera view: 26 words. */
typedef struct SingleviewParam {
    uint32_t flags;
    float wideAngle; /* panorama angle, radians (0 disables it) */
    float tiltX;     /* keystone tilt, degrees */
    float tiltY;
    float offsetX; /* view shift, pixels */
    float offsetY;
    float rotation; /* degrees */
    float scaleX;   /* view pixels per camera unit */
    float scaleY;
    float shearX;
    float shearY;
    float bandWidth;      /* split band half-width, pixels */
    int32_t reserved1[2]; /* not read */
    int32_t width;        /* view size, pixels */
    int32_t height;
    float centreX; /* view centre, pixels */
    float centreY;
    float overlayScale;    /* mm per overlay pixel */
    int32_t reserved2[3];  /* not read */
    int32_t lutId;         /* flash identifier of the view's LUT (program data) */
    CameraParam* camera;   /* the camera shown */
    int32_t vehicleWidth;  /* mm, not read */
    int32_t vehicleLength; /* mm, places the overlay picture */
} SingleviewParam;

/* Operator adjustments handed to the calibration. */
typedef struct CalibAdjust {
    float shiftX;           /* added to every camera's ground x after assembly */
    float shiftY;           /* added to every camera's ground y after assembly */
    float sideHeightOffset; /* added to the left and right camera heights before assembly */
    float unused3;
    float rotation; /* extra rotation of the whole rig about the vertical, degrees */
    float unused5;
} CalibAdjust;

/* Parking-guide record; "in" fields are set by the caller, "out" fields by the function. */
typedef struct PgsParam {
    float lineSpacing;  /* in: distance between the two guide lines, mm */
    float wheelBase;    /* in: mm */
    float segmentEnd;   /* out: working value */
    int32_t steerAngle; /* in: degrees (0: straight lines) */
    int32_t unused4;
    int32_t vehicleLength; /* in: mm */
    int32_t unused6;
    int32_t startOffset;  /* in: from the overhang to the first point, mm */
    int32_t lineShift;    /* in: shift of straight lines along the driving axis, mm */
    int32_t segmentStart; /* out: working value */
    float turnRadius;     /* out */
    float turnOffset;     /* out: 0 */
    int32_t unused12[2];
    int32_t maxPoints; /* in: capacity of the output; out: points written */
    int32_t unused15[2];
    int32_t segmentCount; /* out: 3 */
    int32_t unused18[2];
    int32_t points1;   /* out */
    int32_t distance1; /* in: end of segment 1, mm (taken as unsigned) */
    int32_t unused22[2];
    int32_t points2;   /* out */
    int32_t distance2; /* in */
    int32_t unused26[2];
    int32_t points3;   /* out */
    int32_t distance3; /* in */
} PgsParam;

/* A view engine behind a handle: the operations table of its kind and the engine instance.
 * Every slot but create takes the handle as its first argument and returns an int; the
 * argument lists differ by slot and kind, so the table holds untyped function pointers that
 * the library casts back to the slot's own type. */
typedef void (*MzViewOpFn)(void);

enum {
    MZ_OP_CREATE = 0,
    MZ_OP_INIT = 1,
    MZ_OP_APPLY = 2,
    MZ_OP_GET_LUT_LEN = 3,
    MZ_OP_GET_LUT = 4,
    MZ_OP_SAVE_LUT = 5,
    /* single-view kind */
    MZ_SV_OP_GET_FOV = 6,
    MZ_SV_OP_GET_MASK_LEN = 7,
    MZ_SV_OP_GET_MASK = 8,
    MZ_SV_OP_SET_IMAGE = 9,
    MZ_SV_OP_SAVE_IMAGE = 10,
    /* multi-view kinds */
    MZ_MV_OP_GET_MASK_LEN = 6,
    MZ_MV_OP_GET_MASK = 7,
    MZ_MV_OP_SET_IMAGE = 8,
    MZ_MV_OP_SAVE_IMAGE = 9,
    MZ_MV_OP_ADJUST_CAMERA_POSE = 10,
    MZ_OP_RELEASE = 11,
    MZ_OP_COUNT = 12
};

typedef struct ViewOps {
    MzViewOpFn slot[12];
} ViewOps;

typedef struct ViewHandleRec {
    const ViewOps* ops;
    void* engine;
} ViewHandleRec;

typedef ViewHandleRec* ViewHandle;

/* Calibration handle: the operations of its kind and its state, both opaque to the caller. */
typedef struct CalibOps CalibOps;
typedef struct CalibState CalibState;

typedef struct CalibHandle {
    const CalibOps* ops;
    CalibState* state;
} CalibHandle;

MZ_EXTERN_C_END

/* Layout checks. The 32-bit words keep the order and count of the shared records; pointers take
 * their natural size and alignment on this platform. */
#ifdef __cplusplus
#include <cstddef>
#define MZ_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#include <stddef.h>
#define MZ_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

MZ_STATIC_ASSERT(sizeof(Point2F) == 8, "Point2F");
MZ_STATIC_ASSERT(sizeof(Point3F) == 12, "Point3F");
MZ_STATIC_ASSERT(offsetof(CameraParam, k1) == 5 * 4, "CameraParam.k1");
MZ_STATIC_ASSERT(offsetof(CameraParam, c0) == 10 * 4, "CameraParam.c0");
MZ_STATIC_ASSERT(offsetof(CameraParam, width) == 19 * 4, "CameraParam.width");
MZ_STATIC_ASSERT(offsetof(CameraParam, posX) == 23 * 4, "CameraParam.posX");
MZ_STATIC_ASSERT(offsetof(CameraParam, rotX) == 26 * 4, "CameraParam.rotX");
MZ_STATIC_ASSERT(offsetof(CameraParam, rotZ) == 27 * 4, "CameraParam.rotZ");
MZ_STATIC_ASSERT(offsetof(CameraParam, rotY) == 28 * 4, "CameraParam.rotY");
MZ_STATIC_ASSERT(offsetof(CameraParam, originX) == 29 * 4, "CameraParam.originX");
MZ_STATIC_ASSERT(offsetof(CameraParam, pointCount) == 33 * 4, "CameraParam.pointCount");
MZ_STATIC_ASSERT(offsetof(CameraParam, imagePoints) >= 34 * 4, "CameraParam.imagePoints");
MZ_STATIC_ASSERT(offsetof(ImageBuffer, stride) == 5 * 4, "ImageBuffer.stride");
MZ_STATIC_ASSERT(MZ_ROW_STRIDE24(721) == 2164, "MZ_ROW_STRIDE24");
MZ_STATIC_ASSERT(offsetof(ImageBuffer, rows) >= 7 * 4, "ImageBuffer.rows");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, vehicleWidth) == 3 * 4, "MultiviewParam.vehicleWidth");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, frontFov) == 8 * 4, "MultiviewParam.frontFov");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, blendMode) == 13 * 4, "MultiviewParam.blendMode");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, bowlWallX) == 14 * 4, "MultiviewParam.bowlWallX");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, width) == 26 * 4, "MultiviewParam.width");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, mmPerPixel) == 30 * 4, "MultiviewParam.mmPerPixel");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, name) == 31 * 4, "MultiviewParam.name");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, lutId) == 34 * 4, "MultiviewParam.lutId");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, maskId) == 38 * 4, "MultiviewParam.maskId");
MZ_STATIC_ASSERT(offsetof(MultiviewParam, cameras) >= 39 * 4, "MultiviewParam.cameras");
MZ_STATIC_ASSERT(offsetof(SingleviewParam, bandWidth) == 11 * 4, "SingleviewParam.bandWidth");
MZ_STATIC_ASSERT(offsetof(SingleviewParam, width) == 14 * 4, "SingleviewParam.width");
MZ_STATIC_ASSERT(offsetof(SingleviewParam, overlayScale) == 18 * 4, "SingleviewParam.overlayScale");
MZ_STATIC_ASSERT(offsetof(SingleviewParam, lutId) == 22 * 4, "SingleviewParam.lutId");
MZ_STATIC_ASSERT(offsetof(SingleviewParam, camera) >= 23 * 4, "SingleviewParam.camera");
MZ_STATIC_ASSERT(sizeof(CalibAdjust) == 6 * 4, "CalibAdjust");
MZ_STATIC_ASSERT(offsetof(PgsParam, steerAngle) == 3 * 4, "PgsParam.steerAngle");
MZ_STATIC_ASSERT(offsetof(PgsParam, vehicleLength) == 5 * 4, "PgsParam.vehicleLength");
MZ_STATIC_ASSERT(offsetof(PgsParam, startOffset) == 7 * 4, "PgsParam.startOffset");
MZ_STATIC_ASSERT(offsetof(PgsParam, segmentStart) == 9 * 4, "PgsParam.segmentStart");
MZ_STATIC_ASSERT(offsetof(PgsParam, turnOffset) == 11 * 4, "PgsParam.turnOffset");
MZ_STATIC_ASSERT(offsetof(PgsParam, maxPoints) == 14 * 4, "PgsParam.maxPoints");
MZ_STATIC_ASSERT(offsetof(PgsParam, distance1) == 21 * 4, "PgsParam.distance1");
MZ_STATIC_ASSERT(offsetof(PgsParam, points2) == 24 * 4, "PgsParam.points2");
MZ_STATIC_ASSERT(offsetof(PgsParam, distance2) == 25 * 4, "PgsParam.distance2");
MZ_STATIC_ASSERT(offsetof(PgsParam, points3) == 28 * 4, "PgsParam.points3");
MZ_STATIC_ASSERT(offsetof(PgsParam, segmentCount) == 17 * 4, "PgsParam.segmentCount");
MZ_STATIC_ASSERT(offsetof(PgsParam, points1) == 20 * 4, "PgsParam.points1");
MZ_STATIC_ASSERT(offsetof(PgsParam, distance3) == 29 * 4, "PgsParam.distance3");
MZ_STATIC_ASSERT(sizeof(PgsParam) == 30 * 4, "PgsParam");
MZ_STATIC_ASSERT(sizeof(ViewOps) == 12 * sizeof(MzViewOpFn), "ViewOps");

#endif
