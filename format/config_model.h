// Plain description of a vehicle configuration file (Config.bin), shared by its writer and reader.
//
// Each record keeps its own type byte, so a file read back and written again keeps its record
// order and types. Counts in the file header are taken from the vectors; nothing here checks
// that a configuration makes sense (four cameras, car-image sizes): the reader decides that.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mz/mztypes.h"

namespace mz::format {

inline constexpr int kConfigHeaderSize = 24;
inline constexpr int kChunkHeaderSize = 8;
inline constexpr int kCameraPayloadSize = 92;
inline constexpr int kMultiviewPayloadSize = 72;
inline constexpr int kSingleviewSectionHeaderSize = 16;
inline constexpr int kSingleviewPayloadSize = 88;
inline constexpr int kModelNameField = 16;  // NUL-terminated within the field
inline constexpr int kViewNameField = 10;   // NUL-padded, need not be terminated
// The writer lets a longer name such as "AVM2D_FRONT" run on into the two uninterpreted bytes
// after the field (the program's view record holds 12 bytes of name).
inline constexpr int kViewNameWritten = 12;
inline constexpr int kLutFileNameField = 20;  // NUL-terminated within the field
// Largest camera picture side a configuration may declare. The workflow keeps several pictures of
// the camera's size in memory; a damaged size field must not turn into a request for gigabytes.
// (The display unit's tables address at most 1024 x 2048 source pixels; bigger pictures still
// serve detection and calibration.)
inline constexpr int kMaxCameraSide = 4096;

enum RecordType : uint8_t {
    kRecordFrontCamera = 10,
    kRecordRearCamera = 11,
    kRecordLeftCamera = 12,
    kRecordRightCamera = 13,
    kRecordMultiview0 = 20,
    kRecordCarImage0 = 30,
    kRecordSingleviewFirst = 40,
    kRecordSingleviewLast = 49,
};

// Payload of record types 10 to 13.
struct ConfigCamera {
    uint8_t type = kRecordFrontCamera;
    float f = 0, fx = 0, fy = 0, cx = 0, cy = 0;
    std::array<float, 5> k{};  // forward lens polynomial k1..k5
    std::array<float, 9> c{};  // inverse lens polynomial c0..c8
    int32_t width = 0;
    int32_t height = 0;
    float extra1 = 0;  // stored as floats, truncated to integers on load
    float extra2 = 0;
};

// The camera record of a lens for camera 0..3 (front, rear, left, right): any lens type with
// f, fx, fy, cx, cy, k, c, width and height, the simulator's or one imported from a calibration file.
template <class Lens>
ConfigCamera cameraRecordOf(const Lens& lens, int camera) {
    ConfigCamera cam;
    cam.type = static_cast<uint8_t>(kRecordFrontCamera + camera);
    cam.f = lens.f;
    cam.fx = lens.fx;
    cam.fy = lens.fy;
    cam.cx = lens.cx;
    cam.cy = lens.cy;
    cam.k = lens.k;
    cam.c = lens.c;
    cam.width = lens.width;
    cam.height = lens.height;
    return cam;
}

// Payload of record types 20 to 22.
struct ConfigMultiview {
    uint8_t type = kRecordMultiview0;
    std::string name;  // at most 12 characters (see kViewNameWritten)
    uint32_t flags = 0;
    int32_t width = 0;
    int32_t height = 0;
    float centreX = 0, centreY = 0, mmPerPixel = 0;
    float originX = 0, originY = 0;
    int32_t vehicleWidth = 0;         // mm
    int32_t vehicleLength = 0;        // mm
    float markerLength = 0;           // mm
    std::array<int32_t, 4> lutIds{};  // front, rear, left, right; <= 0: not exported
};

// Payload of record types 30 to 32: padded 24-bit rows, B, G, R, top row first.
struct ConfigCarImage {
    uint8_t type = kRecordCarImage0;
    std::vector<uint8_t> pixels;
};

// Payload of record types 40 to 49.
struct ConfigSingleview {
    uint8_t type = kRecordSingleviewFirst;
    int32_t viewIndex = 0;
    std::string fileName;  // at most 19 characters
    uint32_t flags = 0;
    float wideAngle = 0, tiltX = 0, tiltY = 0, rotation = 0;
    float offsetX = 0, offsetY = 0, scaleX = 1, scaleY = 1;
    std::array<uint8_t, 4> unused{};
    int32_t overlayScale = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t centreX = 0;
    int32_t centreY = 0;
    int32_t lutId = 0;
};

struct ConfigFile {
    std::array<uint8_t, 4> headerTag{};  // header bytes 0-3, not interpreted
    std::string model;                   // at most 15 characters, e.g. "AVM 1.65"
    uint8_t parkingGuideLevel = 0;       // header byte 23
    std::vector<ConfigCamera> cameras;
    std::vector<ConfigMultiview> multiviews;
    std::vector<ConfigCarImage> carImages;
    // Words 0, 2 and 3 of the single-view section header; word 1 is the record count.
    std::array<int32_t, 3> singleviewHeaderWords{};
    std::vector<ConfigSingleview> singleviews;
};

// Byte size of a 24-bit picture with rows padded to a multiple of 4 bytes. Sizes read from a
// file can be anything: a product beyond 64 bits saturates (to the largest value, or the smallest
// for a negative product) instead of wrapping round to a size that some record might match.
inline int64_t paddedImageSize(int32_t width, int32_t height) {
    int64_t bytes = 0;
    if (__builtin_mul_overflow(MZ_ROW_STRIDE24(int64_t{width}), int64_t{height}, &bytes))
        return (width < 0) != (height < 0) ? INT64_MIN : INT64_MAX;
    return bytes;
}

}  // namespace mz::format
