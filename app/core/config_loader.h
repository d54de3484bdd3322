// Reader of the vehicle configuration file Config.bin into the calibration state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "app/core/calibration_state.h"
#include "app/core/ui.h"

namespace mz::core {

// Reads the file into the state, creating one view engine per configured view. False when the
// file cannot be read or breaks the layout; the caller reports "Config File error!". A header
// that fails its checks is reported here ("Config file header error!") and changes nothing; a
// later fault leaves what was read before it in the state. The window title becomes
// "Model : " and the model name once the header passed. beforeRelease runs right before the
// first engine of the state is released, so that whoever shows those engines lets go of them.
bool loadConfiguration(const std::filesystem::path& path, CalibrationState& state, Ui& ui,
                       const std::function<void()>& beforeRelease = {});
bool loadConfiguration(std::span<const uint8_t> bytes, CalibrationState& state, Ui& ui,
                       const std::function<void()>& beforeRelease = {});

// Model code of a model name: the number after the first blank times 100, truncated; 0 when
// there is no blank or no number.
int32_t modelCodeOf(const std::string& modelName);

}  // namespace mz::core
