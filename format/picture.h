// Camera pictures as PNG or JPEG files, decoded by libpng and libjpeg-turbo into the same 24-bit
// rows as a bitmap file, so that everything past the reader sees one kind of picture.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/bitmap.h"

namespace mz::format {

// A decoded picture, or why there is none (a sentence naming what is wrong with the file).
struct PictureRead {
    std::optional<Bitmap> picture;
    std::string problem;
};

// Colour pictures come out with bitsPerPixel 24 whatever the file's sample depth (alpha is
// dropped, 16-bit samples are scaled down); grey-scale and palette pictures keep 8, so the
// callers' "24-bit only" rule applies to them as it does to bitmap files.
// Pictures wider or taller than 16384 pixels, or of more than 64 million pixels, are refused
// before any pixel memory is taken.
PictureRead decodePng(std::span<const uint8_t> file);
PictureRead decodeJpeg(std::span<const uint8_t> file);

// A JPEG file of BGR rows (`stride` bytes apart, top row first) at quality 1-100, colour halved
// both ways. Throws std::invalid_argument for a size or quality out of range.
std::vector<uint8_t> encodeJpeg(int width, int height, int stride, std::span<const uint8_t> pixels, int quality);

// By the name's ending (.bmp, .png, .jpg, .jpeg in any case); bitmap files go through readBitmap.
// `file`, when given, receives the bytes read, as readBitmap's does.
PictureRead readPicture(const std::filesystem::path& path, std::vector<uint8_t>* file = nullptr);

// The camera picture "<folder>/<stem>" as it is on disk: the ".bmp" file when there is one, else
// the first of ".png", ".jpg", ".jpeg" (lower or upper case) that exists; empty when none does.
std::optional<std::filesystem::path> findPicture(const std::filesystem::path& folder, const std::string& stem);

}  // namespace mz::format
