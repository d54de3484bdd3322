// A plant's fixed calibration bay: the vehicle always stops at the same place and every camera
// sees its two targets inside the fixed search rectangles of the corner and marker detectors
// (layout code = camera index: 0 front, 1 rear, 2 left, 3 right).
#pragma once

#include <string>
#include <vector>

#include "sim/rig.h"

namespace mz::sim {

// The triangles at fixed places around the vehicle's corners (band an eighth of the side) and
// each camera's pose solved so that its targets sit well inside both detectors' rectangles.
// Nothing is drawn at random: the seed only changes the picture noise and the floor's mottling.
// Throws std::runtime_error when some camera cannot be posed (picture sizes other than 720x480).
Rig fixedRig(const RigOptions& options);

// Every reason a fixed bay would not serve the two detectors; empty when it passes.
std::vector<std::string> checkFixedRig(const Rig& rig);

}  // namespace mz::sim
