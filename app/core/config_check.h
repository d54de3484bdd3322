// Values of a loaded configuration that the view engines depend on and the file's layout does not
// guard: a lens that maps nothing, a ground scale of zero, a view without pixels or of absurd size,
// two output files under one identifier. Without this check such a file ends in "Output file
// saved successfully." with blank, garbage or enormous tables.
#pragma once

#include <string>

#include "app/core/calibration_state.h"

namespace mz::core {

// Largest view side the engines are asked to build (the preview shows at most 1280 x 800).
inline constexpr int kMaxViewSide = 4096;

// The first problem found, naming the record and the field ("camera record 12 (LEFT): fx is 0"),
// or an empty string when the configuration can be used.
std::string configurationProblem(const CalibrationState& state);

}  // namespace mz::core
