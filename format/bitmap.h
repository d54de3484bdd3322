// Reader of bitmap files: camera pictures, the four-quadrant picture, car and overlay pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mz/mztypes.h"

namespace mz::format {

// A picture as the libraries take it: 24-bit rows of blue, green, red, padded to a multiple of 4
// bytes, top row first. Palette pictures are expanded; bitsPerPixel keeps the file's depth.
struct Bitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<uint8_t> pixels;

    int stride() const { return MZ_ROW_STRIDE24(width); }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(stride()) * y; }
};

// Whether a file name ends in ".BMP", in any case.
bool hasBitmapExtension(const std::filesystem::path& path);

// Uncompressed 1-, 4-, 8- and 24-bit pictures, stored bottom-up or top-down. Empty for anything
// else: a name without the ".BMP" ending, a file that cannot be read, a broken or truncated file.
// `file`, when given, receives the bytes the picture was read from (a record's checksum is of
// what was used, not of whatever the file holds later).
std::optional<Bitmap> readBitmap(const std::filesystem::path& path, std::vector<uint8_t>* file = nullptr);
std::optional<Bitmap> decodeBitmap(std::span<const uint8_t> file);
// As readBitmap, whatever the file's name (the picture choosers of the preview).
std::optional<Bitmap> readBitmapFile(const std::filesystem::path& path, std::vector<uint8_t>* file = nullptr);

// Why decodeBitmap refuses the bytes ("is truncated (...)", "is compressed (...)", "has 32 bits a
// pixel; ...", "is not a BMP file ..."), or empty when it takes them; unreadableBitmap says the
// same of a file, or why the file cannot be read at all ("cannot be opened: Permission denied").
std::string bitmapFault(std::span<const uint8_t> file);
std::string unreadableBitmap(const std::filesystem::path& path);

// A 24-bit bottom-up bitmap file of the picture (whatever its bitsPerPixel says: the pixels are
// always 24-bit rows).
std::vector<uint8_t> encodeBitmap(const Bitmap& bitmap);

// The pixels of the picture without row padding (3 x width bytes a row), top row first.
std::vector<uint8_t> unpaddedPixels(const Bitmap& bitmap);

}  // namespace mz::format
