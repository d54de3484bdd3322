// Image records, row blocks, the in-memory bitmap writer and the 4:2:2 conversion.
#include "geometry/image.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "mz/mzgeometry.h"

namespace mz {

namespace {

constexpr uint32_t kImageHeaderSize = 32;

// malloc(0) may legitimately return null; a zero-sized row is still a distinct block.
void* allocBlock(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

}  // namespace

ImageBuffer* createImageBuffer(int channels, int width, int height) {
    if (width < 0 || height < 0) return nullptr;
    if (channels < 1) channels = 1;
    const int64_t stride = (static_cast<int64_t>(width) * channels + 3) & ~int64_t{3};
    if (stride > INT_MAX || stride * height > INT_MAX) return nullptr;

    auto* image = static_cast<ImageBuffer*>(std::malloc(sizeof(ImageBuffer)));
    if (image == nullptr) return nullptr;
    image->headerSize = kImageHeaderSize;
    image->channels = channels;
    image->reserved = 0;
    image->width = width;
    image->height = height;
    image->stride = static_cast<int32_t>(stride);
    image->imageSize = static_cast<int32_t>(stride * height);
    image->rows = allocRows(height, static_cast<std::size_t>(stride));
    if (image->rows == nullptr) {
        std::free(image);
        return nullptr;
    }
    return image;
}

void releaseImageBuffer(ImageBuffer** image) {
    if (image == nullptr || *image == nullptr) return;
    freeRows((*image)->rows, (*image)->height);
    std::free(*image);
    *image = nullptr;
}

uint8_t** allocRows(int n, std::size_t bytes) {
    if (n < 0) return nullptr;
    auto** rows = static_cast<uint8_t**>(allocBlock(sizeof(uint8_t*) * static_cast<std::size_t>(n)));
    if (rows == nullptr) return nullptr;
    for (int i = 0; i < n; ++i) {
        rows[i] = static_cast<uint8_t*>(allocBlock(bytes));
        if (rows[i] == nullptr) {
            freeRows(rows, i);
            return nullptr;
        }
    }
    return rows;
}

void copyRows(uint8_t* const* dst, const uint8_t* const* src, int n, std::size_t bytes) {
    for (int i = 0; i < n; ++i) std::memcpy(dst[i], src[i], bytes);
}

void clearRows(uint8_t* const* rows, int n, std::size_t bytes) {
    for (int i = 0; i < n; ++i) std::memset(rows[i], 0, bytes);
}

void freeRows(uint8_t** rows, int n) {
    if (rows == nullptr) return;
    for (int i = 0; i < n; ++i) std::free(rows[i]);
    std::free(rows);
}

float** allocFloatRows(int n, int count) {
    if (n < 0 || count < 0) return nullptr;
    auto** rows = static_cast<float**>(allocBlock(sizeof(float*) * static_cast<std::size_t>(n)));
    if (rows == nullptr) return nullptr;
    for (int i = 0; i < n; ++i) {
        rows[i] = static_cast<float*>(std::calloc(count == 0 ? 1 : static_cast<std::size_t>(count), sizeof(float)));
        if (rows[i] == nullptr) {
            freeFloatRows(rows, i);
            return nullptr;
        }
    }
    return rows;
}

void freeFloatRows(float** rows, int n) {
    if (rows == nullptr) return;
    for (int i = 0; i < n; ++i) std::free(rows[i]);
    std::free(rows);
}

}  // namespace mz

extern "C" {

MZ_API uint8_t* mzImageToBmp(const ImageBuffer* image, int* size) {
    if (image == nullptr || image->width < 0 || image->height < 0 || image->channels < 1 ||
        (image->rows == nullptr && image->height > 0))
        return nullptr;
    const int64_t rowBytes = static_cast<int64_t>(image->width) * image->channels;
    const int64_t padded = (rowBytes + 3) & ~int64_t{3};
    const int64_t offset = image->channels == 1 ? 1078 : 54;
    const int64_t pixelBytes = padded * image->height;
    const int64_t fileSize = offset + pixelBytes;
    if (fileSize > INT_MAX || 8 * static_cast<int64_t>(image->channels) > 0xFFFF) return nullptr;

    auto* bmp = static_cast<uint8_t*>(std::calloc(static_cast<std::size_t>(fileSize), 1));
    if (bmp == nullptr) return nullptr;
    bmp[0] = 'B';
    bmp[1] = 'M';
    mz::put32(bmp + 2, static_cast<uint32_t>(fileSize));
    mz::put32(bmp + 10, static_cast<uint32_t>(offset));
    mz::put32(bmp + 14, 40);
    mz::put32(bmp + 18, static_cast<uint32_t>(image->width));
    mz::put32(bmp + 22, static_cast<uint32_t>(image->height));
    mz::put16(bmp + 26, 1);
    mz::put16(bmp + 28, static_cast<uint32_t>(8 * image->channels));
    mz::put32(bmp + 34, static_cast<uint32_t>(pixelBytes));
    if (image->channels == 1) {
        for (uint32_t k = 0; k < 256; ++k) mz::put32(bmp + 54 + 4 * k, k | (k << 8) | (k << 16));
    }
    uint8_t* out = bmp + offset;
    for (int i = image->height - 1; i >= 0; --i, out += padded)
        std::memcpy(out, image->rows[i], static_cast<std::size_t>(rowBytes));
    if (size != nullptr) *size = static_cast<int>(fileSize);
    return bmp;
}

MZ_API void mzRGB24toYUV_UY_VY(const uint8_t* pixels, uint8_t* out, int width, int height) {
    if (pixels == nullptr || out == nullptr || width < 2 || height < 1) return;
    const int64_t pairs = static_cast<int64_t>(height) * (width / 2);
    for (int64_t p = 0; p < pairs; ++p, pixels += 6, out += 4) {
        const float b0 = pixels[0], g0 = pixels[1], r0 = pixels[2];
        const float b1 = pixels[3], g1 = pixels[4], r1 = pixels[5];
        // The coefficients keep every result inside 16..240, so truncation needs no clamp.
        out[0] = static_cast<uint8_t>(0.439f * b0 - (0.291f * g0 + 0.148f * r0) + 128.0f);
        out[1] = static_cast<uint8_t>(0.257f * r0 + 0.504f * g0 + 0.098f * b0 + 16.0f);
        out[2] = static_cast<uint8_t>(0.439f * r0 - 0.368f * g0 - 0.071f * b0 + 128.0f);
        out[3] = static_cast<uint8_t>(0.257f * r1 + 0.504f * g1 + 0.098f * b1 + 16.0f);
    }
}

}  // extern "C"
