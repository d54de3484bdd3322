// Image records and row blocks shared by the view engines, detection and the pattern pipeline.
// Not exported: each library carries its own copy.
#ifndef MZ_GEOMETRY_IMAGE_H
#define MZ_GEOMETRY_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mz/mztypes.h"

namespace mz {

// Returns null for a negative width or height, when the sizes overflow, or when any allocation
// fails (nothing is left allocated then). A channel count below 1 becomes 1. Rows are not cleared.
ImageBuffer* createImageBuffer(int channels, int width, int height);

// Frees every row, the row table and the record, and nulls the owner's pointer.
void releaseImageBuffer(ImageBuffer** image);

struct ImageBufferDeleter {
    void operator()(ImageBuffer* image) const { releaseImageBuffer(&image); }
};
using ImageBufferPtr = std::unique_ptr<ImageBuffer, ImageBufferDeleter>;

// A table of n rows of `bytes` bytes each, every row its own block: all or nothing (null on any
// failure). Rows are not cleared.
uint8_t** allocRows(int n, std::size_t bytes);
void copyRows(uint8_t* const* dst, const uint8_t* const* src, int n, std::size_t bytes);
void clearRows(uint8_t* const* rows, int n, std::size_t bytes);
// Frees the n rows and the table; a null table is ignored.
void freeRows(uint8_t** rows, int n);

// n rows of `count` floats (the engines' 3 x 3 matrices and coordinate maps are built this way),
// cleared to zero; null on any failure.
float** allocFloatRows(int n, int count);
void freeFloatRows(float** rows, int n);

// Rounds v half away from zero into *out; false when v is not a number or lies outside the range
// of int.
inline bool roundToInt(float v, int* out) {
    if (!(v >= -2147483648.0f && v < 2147483648.0f)) return false;
    int t = static_cast<int>(v);
    // The fractional part of a float is exactly representable, so this comparison is exact.
    const float r = v - static_cast<float>(t);
    t += static_cast<int>(r >= 0.5f) - static_cast<int>(r <= -0.5f);
    *out = t;
    return true;
}

}  // namespace mz

#endif
