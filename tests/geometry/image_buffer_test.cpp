#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/image.h"
#include "mz/mzgeometry.h"

namespace {

using mz::ImageBufferPtr;

ImageBufferPtr makeImage(int channels, int width, int height, unsigned seed) {
    ImageBufferPtr image(mz::createImageBuffer(channels, width, height));
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < image->stride; ++j) image->rows[i][j] = static_cast<uint8_t>(seed + 31 * i + 7 * j);
    return image;
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A bitmap reader written from the file format alone, independent of the writer.
struct Bitmap {
    int width = 0, height = 0, bits = 0;
    std::vector<std::vector<uint8_t>> rows;  // top row first, unpadded
    std::vector<uint8_t> palette;            // 4 bytes per entry
};

bool readBitmap(const uint8_t* data, int size, Bitmap* out) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M' || static_cast<int>(le32(data + 2)) != size) return false;
    const uint32_t offset = le32(data + 10);
    if (le32(data + 14) != 40 || le16(data + 26) != 1 || le32(data + 30) != 0) return false;
    out->width = static_cast<int>(le32(data + 18));
    out->height = static_cast<int>(le32(data + 22));
    out->bits = le16(data + 28);
    const int rowBytes = out->width * out->bits / 8;
    const int padded = (rowBytes + 3) / 4 * 4;
    if (offset + static_cast<int64_t>(padded) * out->height != size) return false;
    if (static_cast<int>(le32(data + 34)) != padded * out->height) return false;
    out->palette.assign(data + 54, data + offset);
    out->rows.assign(out->height, {});
    for (int r = 0; r < out->height; ++r) {
        const uint8_t* row = data + offset + static_cast<int64_t>(out->height - 1 - r) * padded;
        out->rows[r].assign(row, row + rowBytes);
        for (int k = rowBytes; k < padded; ++k)
            if (row[k] != 0) return false;
    }
    return true;
}

TEST(ImageBuffer, CreationSizesRowsAndRejectsNegativeSizes) {
    ImageBuffer* image = mz::createImageBuffer(3, 5, 2);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->headerSize, 32u);
    EXPECT_EQ(image->stride, 16);
    EXPECT_EQ(image->imageSize, 32);
    for (int i = 0; i < 2; ++i) std::memset(image->rows[i], i, 16);  // every row is writable
    mz::releaseImageBuffer(&image);
    EXPECT_EQ(image, nullptr);
    mz::releaseImageBuffer(&image);  // a second release is harmless

    ImageBufferPtr grey(mz::createImageBuffer(0, 3, 1));
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->channels, 1);
    EXPECT_EQ(grey->stride, 4);
    EXPECT_EQ(mz::createImageBuffer(3, -1, 4), nullptr);
    EXPECT_EQ(mz::createImageBuffer(3, 4, -1), nullptr);
    EXPECT_EQ(mz::createImageBuffer(4, 1 << 30, 4), nullptr);  // stride overflows
    ImageBufferPtr empty(mz::createImageBuffer(3, 0, 0));
    EXPECT_NE(empty, nullptr);
}

TEST(ImageBuffer, RowHelpers) {
    uint8_t** a = mz::allocRows(3, 5);
    uint8_t** b = mz::allocRows(3, 5);
    ASSERT_TRUE(a && b);
    for (int i = 0; i < 3; ++i) std::memset(a[i], 9 + i, 5);
    mz::copyRows(b, a, 3, 5);
    EXPECT_EQ(b[2][4], 11);
    mz::clearRows(b, 3, 5);
    EXPECT_EQ(b[1][0], 0);
    mz::freeRows(a, 3);
    mz::freeRows(b, 3);
    float** m = mz::allocFloatRows(3, 3);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[2][2], 0.0f);
    mz::freeFloatRows(m, 3);
}

TEST(ImageToBmp, ThreeChannelFileReadsBack) {
    const ImageBufferPtr image = makeImage(3, 5, 2, 1);
    int size = 0;
    uint8_t* bmp = mzImageToBmp(image.get(), &size);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(size, 86);
    EXPECT_EQ(le32(bmp + 10), 54u);
    Bitmap read;
    ASSERT_TRUE(readBitmap(bmp, size, &read));
    EXPECT_EQ(read.width, 5);
    EXPECT_EQ(read.height, 2);
    EXPECT_EQ(read.bits, 24);
    for (int r = 0; r < 2; ++r) EXPECT_EQ(0, std::memcmp(read.rows[r].data(), image->rows[r], 15)) << "row " << r;
    std::free(bmp);
}

TEST(ImageToBmp, OneChannelFileCarriesGreyPalette) {
    const ImageBufferPtr image = makeImage(1, 7, 3, 5);
    int size = 0;
    uint8_t* bmp = mzImageToBmp(image.get(), &size);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(size, 1078 + 3 * 8);
    Bitmap read;
    ASSERT_TRUE(readBitmap(bmp, size, &read));
    EXPECT_EQ(read.bits, 8);
    ASSERT_EQ(read.palette.size(), 1024u);
    for (int k = 0; k < 256; ++k) {
        const uint8_t entry[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k), static_cast<uint8_t>(k), 0};
        ASSERT_EQ(0, std::memcmp(&read.palette[4 * k], entry, 4)) << k;
    }
    for (int r = 0; r < 3; ++r) EXPECT_EQ(0, std::memcmp(read.rows[r].data(), image->rows[r], 7));
    std::free(bmp);
    EXPECT_EQ(mzImageToBmp(nullptr, &size), nullptr);
}

TEST(Yuv422, ReadsPairsAcrossRowsAndConvertsStudioRange) {
    // width 5, height 2: four pairs of the flat input, the last two pixels unused.
    std::vector<uint8_t> in(30, 0);
    for (int k = 0; k < 3; ++k) in[6 + k] = 255;  // pair 1: white, black
    for (int k = 24; k < 30; ++k) in[k] = 200;    // pixels 9 and 10 must not be read
    std::vector<uint8_t> out(20, 0xAB);
    mzRGB24toYUV_UY_VY(in.data(), out.data(), 5, 2);
    const uint8_t black[4] = {128, 16, 128, 16};
    EXPECT_EQ(0, std::memcmp(out.data(), black, 4));
    EXPECT_EQ(out[5], 235);  // white luma
    EXPECT_EQ(out[7], 16);   // the pair's second pixel is black
    EXPECT_EQ(0, std::memcmp(out.data() + 12, black, 4));
    for (int k = 16; k < 20; ++k) EXPECT_EQ(out[k], 0xAB);
    mzRGB24toYUV_UY_VY(nullptr, out.data(), 5, 2);  // no effect, no crash
    mzRGB24toYUV_UY_VY(in.data(), nullptr, 5, 2);
}

}  // namespace
