#include "format/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>

#include "testing/files.h"

namespace mz::format {
namespace {

using mztest::makeBmp;

uint32_t pixelOf(const Bitmap& b, int x, int y) {
    const uint8_t* p = b.row(y) + 3 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

TEST(BitmapTest, TwentyFourBitBottomUpAndTopDownGiveTheTopRowFirst) {
    auto colour = [](int x, int y) { return static_cast<uint32_t>((x * 40) | (y * 50) << 8 | 0x30 << 16); };
    for (bool topDown : {false, true}) {
        // Width 5: file rows of 15 bytes padded to 16; our rows padded the same way.
        auto b = decodeBitmap(makeBmp(5, 3, 24, topDown, colour));
        ASSERT_TRUE(b);
        EXPECT_EQ(b->width, 5);
        EXPECT_EQ(b->height, 3);
        EXPECT_EQ(b->bitsPerPixel, 24);
        EXPECT_EQ(b->stride(), 16);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(pixelOf(*b, x, y), colour(x, y)) << x << "," << y;
        const std::vector<uint8_t> flat = unpaddedPixels(*b);
        ASSERT_EQ(flat.size(), 45u);
        EXPECT_EQ(flat[15], 0u);       // second row starts at x 0
        EXPECT_EQ(flat[15 + 1], 50u);  // green of row 1
    }
}

TEST(BitmapTest, PalettePicturesAreExpanded) {
    for (int bits : {1, 4, 8}) {
        const int colours = 1 << bits;
        auto index = [&](int x, int y) { return static_cast<uint32_t>((x + 3 * y) % colours); };
        auto b = decodeBitmap(makeBmp(13, 4, bits, false, index));
        ASSERT_TRUE(b) << bits;
        EXPECT_EQ(b->bitsPerPixel, bits);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 13; ++x) {
                const uint32_t g = index(x, y) * 255 / (colours - 1);
                EXPECT_EQ(pixelOf(*b, x, y), g | g << 8 | g << 16) << bits << ":" << x << "," << y;
            }
        }
    }
}

TEST(BitmapTest, RejectsBrokenAndUnsupportedFilesSayingWhy) {
    auto plain = [](int, int) { return 0u; };
    std::vector<uint8_t> good = makeBmp(4, 4, 24, false, plain);
    ASSERT_TRUE(decodeBitmap(good));
    EXPECT_EQ(bitmapFault(good), "");

    std::vector<uint8_t> notBm = good;
    notBm[0] = 'X';
    std::vector<uint8_t> compressed = good;
    compressed[30] = 1;
    std::vector<uint8_t> noWidth = good;
    std::fill(noWidth.begin() + 18, noWidth.begin() + 22, 0);
    std::vector<uint8_t> huge = good;  // a width far beyond the data must not allocate it
    huge[18] = 0xFF;
    huge[19] = 0xFF;
    huge[20] = 0xFF;
    huge[21] = 0x7F;
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {std::vector<uint8_t>(good.begin(), good.end() - 1), "is truncated ("},
        {std::vector<uint8_t>(good.begin(), good.begin() + 20), "is truncated (its header"},
        {notBm, "is not a BMP file"},
        {{}, "is not a BMP file"},
        {compressed, "is compressed (compression 1)"},
        {makeBmp(4, 4, 16, false, plain), "has 16 bits a pixel"},
        {makeBmp(4, 4, 32, false, plain), "has 32 bits a pixel"},
        {noWidth, "declares a size of 0x4"},
        {huge, "declares a size of 2147483647x4"},
    };
    for (const auto& [bytes, why] : cases) {
        SCOPED_TRACE(why);
        EXPECT_FALSE(decodeBitmap(bytes));
        EXPECT_NE(bitmapFault(bytes).find(why), std::string::npos) << bitmapFault(bytes);
    }
}

// Damaged headers and palettes from a fixed stream of mutations: a picture that decodes is whole
// (its pixel block matches its size); anything else is refused, without reading outside the file.
TEST(BitmapTest, SurvivesDamagedFiles) {
    auto ramp = [](int x, int y) { return static_cast<uint32_t>(x * 37 + y * 11); };
    const int32_t extremes[] = {0, -1, 1, 4, 8, 24, 54, INT32_MAX, INT32_MIN, 0x10000, -0x10000};
    std::mt19937 rng(12);
    int decoded = 0;
    for (int bits : {1, 4, 8, 24}) {
        const std::vector<uint8_t> good = makeBmp(7, 5, bits, bits == 8, ramp);
        const size_t headerBytes = std::min<size_t>(good.size(), 54 + (bits < 24 ? 4u << bits : 0u));
        for (int trial = 0; trial < 500; ++trial) {
            std::vector<uint8_t> b = good;
            if (trial % 2 == 0) {
                const int32_t v = extremes[rng() % std::size(extremes)];
                std::memcpy(b.data() + (rng() % (headerBytes - 3)), &v, 4);
            } else {
                b[rng() % headerBytes] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            const std::optional<Bitmap> bmp = decodeBitmap(b);
            if (!bmp) continue;
            ++decoded;
            ASSERT_GT(bmp->width, 0);
            ASSERT_GT(bmp->height, 0);
            ASSERT_EQ(bmp->pixels.size(), static_cast<size_t>(bmp->stride()) * bmp->height);
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(BitmapTest, ReadsOnlyNamesEndingInBmpInAnyCase) {
    mztest::TempDir dir;
    const auto bytes = makeBmp(2, 2, 24, false, [](int, int) { return 0x123456u; });
    for (const char* name : {"a.bmp", "b.BMP", "c.bMp"}) {
        mztest::writeBytes(dir.path() / name, bytes);
        EXPECT_TRUE(readBitmap(dir.path() / name)) << name;
    }
    for (const char* name : {"d.png", "bmp", "e.bmpx"}) {
        mztest::writeBytes(dir.path() / name, bytes);
        EXPECT_FALSE(readBitmap(dir.path() / name)) << name;
    }
    EXPECT_FALSE(readBitmap(dir.path() / "missing.bmp"));
}

}  // namespace
}  // namespace mz::format
