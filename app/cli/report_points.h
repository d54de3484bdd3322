// The six calibrated points of one camera in the report of calibration-cli run, as bowl and
// parking-guide read them back: each a finite pair, pixels inside the picture, floor points
// within the bay's reach, no two alike (coincident points leave the pose undetermined and the
// tables without a source).
#pragma once

#include <array>
#include <string>

#include <nlohmann/json.hpp>

#include "app/core/calibration_state.h"

namespace mz::cli {

// Floor points farther than this (mm) from the vehicle's centre belong to no bay.
inline constexpr double kMaxFloorMm = 100000;

// camera: the report's object of one camera; where: how messages name it ("the report R:
// cameras.rear"). Picture points lie within 0..width x 0..height. Throws std::runtime_error.
std::array<Point2F, core::kPatternPointCount> reportImagePoints(const nlohmann::json& camera, const std::string& where,
                                                                int width, int height);
std::array<Point2F, core::kPatternPointCount> reportWorldPoints(const nlohmann::json& camera, const std::string& where);

}  // namespace mz::cli
