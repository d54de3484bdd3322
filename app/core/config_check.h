// Values of a loaded configuration that the view engines depend on and the file's layout does not
// guard: a lens that maps nothing, a ground scale of zero or below, a view without pixels or of
// absurd size, a vehicle centre the view cannot reach, cameras of different picture sizes, file
// names that leave their folder, identifiers that do not fit a file header's 16 bits or that two
// files share. Without this check such a file ends in "Output file saved successfully." with
// blank, garbage or enormous tables. Every entry point that takes a configuration asks here: the
// workflow's Config Load, the detectors, the bowl view, the parking guide and config build.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "app/core/calibration_state.h"

namespace mz::core {

// Largest view side the engines are asked to build (the preview shows at most 1280 x 800).
inline constexpr int kMaxViewSide = 4096;
// Identifiers of the flash data files: 16 bits in the file's header.
inline constexpr int32_t kMaxFileId = 65535;

enum class ConfigRecord { kWhole, kCamera, kStitchedView, kSingleView };

// One value that cannot be used: its record (camera 0..3 in the workflow's order, stitched view
// slot, single view in file order), the field as config build's JSON names it ("fx",
// "lutIds/3"), and the whole sentence ("camera record 12 (LEFT): fx is 0").
struct ConfigProblem {
    ConfigRecord record = ConfigRecord::kWhole;
    int index = -1;
    std::string field;
    std::string text;
};

std::optional<ConfigProblem> findConfigurationProblem(const CalibrationState& state);

// The sentence of the first problem, or an empty string when the configuration can be used.
std::string configurationProblem(const CalibrationState& state);

// A configuration file's bytes read as Config Load reads them and checked as above; a layout
// fault is told as layoutFault tells it.
std::optional<ConfigProblem> checkConfigurationBytes(std::span<const uint8_t> bytes);

// Why Config Load could not read a file, for a file it refused: what keeps it from being read
// ("is a folder", "cannot be opened: Permission denied") or "does not follow the Config.bin
// layout" with the record, field and offset the strict reader names.
std::string unreadableConfiguration(const std::filesystem::path& path);
std::string layoutFault(std::span<const uint8_t> bytes);

}  // namespace mz::core
