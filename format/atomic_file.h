// Files are written whole or not at all: a reader never sees half a Config.bin or picture.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace mz::format {

// Writes to a temporary name in the target's folder, then renames it over the target.
// Throws std::runtime_error naming the path when any step fails; the target is then unchanged.
void writeFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);
void writeFileAtomically(const std::filesystem::path& path, std::string_view text);

}  // namespace mz::format
