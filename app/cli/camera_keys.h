// The cameras' keys in the terminal program's reports and picture file names, in the workflow's
// camera order.
#pragma once

#include "app/core/calibration_state.h"

namespace mz::cli {

inline constexpr const char* kCameraKeys[core::kCameraCount] = {"front", "rear", "left", "right"};

}  // namespace mz::cli
