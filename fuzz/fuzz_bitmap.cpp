// Bitmap files of any bit depth, row order and palette through the bitmap reader.
#include <cstdint>
#include <span>

#include "format/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto bitmap = mz::format::decodeBitmap(std::span<const uint8_t>(data, size));
    if (!bitmap) return 0;
    // The decoded picture is 24-bit rows padded to four bytes: every byte of it must be there.
    if (bitmap->width <= 0 || bitmap->height <= 0) __builtin_trap();
    if (bitmap->pixels.size() < static_cast<size_t>(bitmap->stride()) * bitmap->height) __builtin_trap();
    volatile uint8_t sum = 0;
    for (int y = 0; y < bitmap->height; ++y) sum = sum + bitmap->row(y)[bitmap->stride() - 1];
    const auto encoded = mz::format::encodeBitmap(*bitmap);
    const auto again = mz::format::decodeBitmap(encoded);
    if (!again || again->pixels != bitmap->pixels) __builtin_trap();
    return 0;
}
