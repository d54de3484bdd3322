// The bowl view of a calibrated bay: the four cameras projected onto a bowl around the vehicle and
// seen by a virtual camera placed by eye point and target, rendered into a picture and exported as
// the display unit's tables and mask.
//
// Points are given in the vehicle's frame, the one users think in: millimetres from the vehicle's
// centre on the floor, x to its right, y to its front, z up. The camera records' ground frame has
// y toward the rear and z down; the conversion happens here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/output_writer.h"
#include "format/flash_data.h"
#include "mz/mztypes.h"

namespace mz::core {

struct VehiclePoint {
    double x = 0, y = 0, z = 0;
};

// The bowl's shape in millimetres: the floor ellipse has semi-axes wallX / wallY * floorY across
// and floorY along the vehicle; the wall rises by `height` while it widens by wallX across and
// wallY along.
struct BowlShape {
    float wallX = 0, wallY = 0, height = 0, floorY = 0;
};

struct BowlEye {
    VehiclePoint eye;
    VehiclePoint target;
    double fovDeg = 90;  // horizontal
};

// Named places of the virtual camera around the vehicle.
struct BowlPreset {
    const char* name;
    double azimuthDeg;  // where the eye stands, seen from above: 0 ahead, 90 right, 180 behind
    bool overhead;      // straight down onto the vehicle, front up
};
inline constexpr std::array<BowlPreset, 9> kBowlPresets = {{{"rear", 180, false},
                                                            {"rear-left", 225, false},
                                                            {"left", 270, false},
                                                            {"front-left", 315, false},
                                                            {"front", 0, false},
                                                            {"front-right", 45, false},
                                                            {"right", 90, false},
                                                            {"rear-right", 135, false},
                                                            {"top", 0, true}}};
const BowlPreset* findBowlPreset(const std::string& name);

// How far the floor markers reach from the vehicle's centre, across and along (from the world
// points of the calibrated cameras; the vehicle's own size when there are none).
struct BayExtent {
    double halfWidth = 0, halfLength = 0;
};
BayExtent bayExtent(const CalibrationState& state);

// A bowl whose floor ends a little beyond the floor markers, with a wall 2.5 m high.
BowlShape defaultBowlShape(const BayExtent& bay);

// The virtual camera of a preset for a bowl: inside the rim, looking across the vehicle.
BowlEye presetEye(const BowlPreset& preset, const BowlShape& shape);

struct BowlRequest {
    int kind = 2;  // multi-view kind 1 or 2
    int width = 1280, height = 720;
    BowlShape shape;
    BowlEye eye;
    bool tables = true;  // the four tables and the mask too, not only the picture
};

struct BowlRendering {
    int width = 0, height = 0;
    std::vector<uint8_t> picture;                         // BGR rows padded to 4 bytes
    std::array<std::vector<uint8_t>, kCameraCount> luts;  // front, rear, left, right (empty without tables)
    std::vector<uint8_t> mask;                            // kStitchedMaskFormat (empty without tables)
    std::array<CameraParam, kCameraCount> cameras{};      // the poses the engine solved (no points)
    double initMs = 0, applyMs = 0;
};

// Renders the bowl view of the state's cameras (lens records and the calibrated image and world
// points) from four pictures (front, rear, left, right; each the cameras' size). Throws
// std::runtime_error when the request cannot give a view.
BowlRendering renderBowl(const CalibrationState& state, const BowlRequest& request,
                         const std::array<const uint8_t*, kCameraCount>& pictures);

// The tables and mask in the flash data container, staged into `set` below Lut/: name + "Front.bin",
// "Rear", "Left", "Right" with identifiers firstId to firstId + 3, name + "Cmask.bin" with firstId + 4.
SaveReport writeBowlFiles(format::OutputSet& set, const std::string& name, int32_t firstId,
                          const BowlRendering& rendering, const format::FlashDate& date, int32_t major, int32_t minor);

// The name of the set the bowl tables of `name` make in their folder: each stem is a set of its own.
std::string bowlSetName(const std::string& name);

}  // namespace mz::core
