// Writer of the vehicle configuration file Config.bin. All numbers little-endian.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "format/config_model.h"

namespace mz::format {

// The whole file as bytes. Throws std::invalid_argument for what the layout cannot hold: a text
// longer than its field, more than 255 records in a header-counted section, a record type
// outside its section.
std::vector<uint8_t> encodeConfig(const ConfigFile& config);

// encodeConfig, then written whole (temporary file and rename).
void writeConfigFile(const std::filesystem::path& path, const ConfigFile& config);

}  // namespace mz::format
