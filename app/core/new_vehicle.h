// A starting configuration for a vehicle nobody has configured yet: its four lenses (as imported
// from OpenCV fisheye calibrations), picture size, body size and floor triangles give the views
// of the built-in sample scaled to that vehicle, with car images left for config build to draw.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/core/lens_import.h"
#include "format/config_model.h"

namespace mz::core {

struct NewVehicle {
    std::array<ImportedLens, 4> lenses;    // front, rear, left, right
    std::array<std::string, 4> lensFiles;  // where each came from, for the messages
    int pictureWidth = 0, pictureHeight = 0;
    int vehicleWidth = 0, vehicleLength = 0;  // mm
    double markerLength = 0;                  // mm, side of the floor triangles
    std::string model = "AVM 1.65";
};

// Sizes past these are typing mistakes, not vehicles (mm).
inline constexpr int kNewVehicleWidth[2] = {500, 6000};
inline constexpr int kNewVehicleLength[2] = {1000, 30000};
inline constexpr double kNewMarkerLength[2] = {100, 5000};
inline constexpr int kNewPictureSide[2] = {64, 4096};

// Why the input cannot make a configuration (one sentence naming the value and what it should
// be), or empty.
std::string newVehicleProblem(const NewVehicle& vehicle);

// The configuration: the full top view, the views beside the front and the rear camera, and the
// single views of the sample, every stitched view scaled so the vehicle and the floor around it
// to about three triangle sides fill it. Car images are not drawn (carImages stays empty).
// Throws std::invalid_argument with newVehicleProblem's sentence.
format::ConfigFile newVehicleConfig(const NewVehicle& vehicle);

// Lines for the top of the JSON: where it came from, what to check, how to build it.
std::vector<std::string> newVehicleNotes(const NewVehicle& vehicle);

}  // namespace mz::core
