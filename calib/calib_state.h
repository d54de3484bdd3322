// The per-handle data of the multi-camera calibration.
#pragma once

#include <cstdint>

#include "mz/mztypes.h"

namespace mz::calib {

inline constexpr int kCameraCount = MZ_CAMERA_COUNT;  // front, rear, left, right
inline constexpr int kPointCount = 6;
inline constexpr int kRegistrySize = 16;
inline constexpr int kLensNameSize = 32;
// A table read from a file is cut to this many rows.
inline constexpr int kMaxFileRows = 100;
// Rows of the built-in table; a camera's own table never holds more.
inline constexpr int kBuiltInRows = 113;

struct LensRow {
    float angle;   // incidence angle, degrees
    float radius;  // radius on the normalised image plane
};

struct LensTable {
    int32_t width;
    int32_t height;
    float pitchX;  // normalised-plane length per pixel
    float pitchY;
    int32_t rowCount;
    LensRow* rows;
    float coeff[9];  // carried from the camera record, not used by any computation
};

struct LensEntry {
    int32_t useCount;
    const LensTable* table;  // null: free entry
    char name[kLensNameSize];
};

struct CalibCamera {
    Point2F imagePoints[kPointCount];
    Point3F rays[kPointCount];
    float knownDistance[kPointCount][kPointCount];  // -1 where no distance is required
    int32_t mirror;
    float posX;
    float posY;
    float height;
    float rotX;  // tilt, degrees
    float rotZ;  // roll, degrees
    float rotY;  // heading, degrees
    LensTable* lens;
    float cx;
    float cy;
    float scaleX;
    float scaleY;
};

}  // namespace mz::calib

struct CalibState {
    mz::calib::LensEntry registry[mz::calib::kRegistrySize];
    int32_t mode;
    float adjust[6];
    mz::calib::CalibCamera cameras[mz::calib::kCameraCount];
    int32_t reserved;

    // Storage behind the pointers above, so a state is one allocation and owns all its tables.
    mz::calib::LensTable fileTables[mz::calib::kRegistrySize];
    mz::calib::LensRow fileRows[mz::calib::kRegistrySize][mz::calib::kMaxFileRows];
    mz::calib::LensTable cameraTables[mz::calib::kCameraCount];
    mz::calib::LensRow cameraRows[mz::calib::kCameraCount][mz::calib::kBuiltInRows];
};

struct CalibOps {
    CalibState* (*create)();
    int32_t (*init)(CalibHandle* handle, int32_t shape, int32_t size, int32_t reserved);
    int32_t (*apply)(CalibHandle* handle, CameraParam* cameras, const CalibAdjust* adjust);
    int32_t (*getMarker)(CalibHandle* handle);
    int32_t (*imageToWorld)(CalibHandle* handle, const Point2F* pixel, Point2F* ground, int32_t camera);
    int32_t (*release)(CalibHandle* handle);
};
