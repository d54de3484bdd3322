// Pictures the command line writes: 24-bit bitmap files, whole or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mz::cli {

// pixels: BGR rows padded to 4 bytes, top row first. Throws std::runtime_error, naming `what`, when
// the picture is short or cannot be encoded, or when the file cannot be written.
void writeBitmapFile(const std::string& path, int width, int height, std::span<const uint8_t> pixels,
                     const std::string& what);

}  // namespace mz::cli
