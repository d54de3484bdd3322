#include "format/picture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "testing/encoded_pictures.h"
#include "testing/files.h"

namespace {

using mz::format::Bitmap;
using mz::format::PictureRead;

// Samples of a picture with a different value in every channel of every pixel near the origin.
std::vector<uint8_t> samples(int width, int height, int channels) {
    std::vector<uint8_t> s(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                s[(static_cast<size_t>(y) * width + x) * channels + c] = static_cast<uint8_t>(x * 7 + y * 3 + c * 50);
            }
        }
    }
    return s;
}

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void putBigEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(PictureTest, PngColourComesOutAsPaddedBgrRowsOthersKeepTheirDepth) {
    // 13 pixels a row: rows of 39 bytes padded to 40.
    const int w = 13, h = 5;
    const std::vector<uint8_t> bgr = samples(w, h, 3);
    const PictureRead read = mz::format::decodePng(mztest::encodePng(w, h, 3, bgr));
    ASSERT_TRUE(read.picture) << read.problem;
    const Bitmap& p = *read.picture;
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    EXPECT_EQ(p.bitsPerPixel, 24);
    ASSERT_EQ(p.pixels.size(), 40u * h);
    for (int y = 0; y < h; ++y) {
        EXPECT_TRUE(std::equal(p.row(y), p.row(y) + 3 * w, bgr.begin() + 3 * w * y)) << "row " << y;
    }
    // Alpha is dropped (opaque pixels keep their colour); grey stays 8 bits for the callers to refuse.
    std::vector<uint8_t> bgra = samples(w, h, 4);
    for (size_t i = 3; i < bgra.size(); i += 4) bgra[i] = 255;
    const PictureRead withAlpha = mz::format::decodePng(mztest::encodePng(w, h, 4, bgra));
    ASSERT_TRUE(withAlpha.picture);
    EXPECT_EQ(withAlpha.picture->bitsPerPixel, 24);
    EXPECT_EQ(withAlpha.picture->row(2)[3 * 4 + 1], bgra[(2 * w + 4) * 4 + 1]);
    const PictureRead grey = mz::format::decodePng(mztest::encodePng(w, h, 1, samples(w, h, 1)));
    ASSERT_TRUE(grey.picture);
    EXPECT_EQ(grey.picture->bitsPerPixel, 8);
}

TEST(PictureTest, JpegDecodesToBgrCloseToTheSource) {
    const int w = 64, h = 48;
    std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
    // Smooth colours, which JPEG keeps within a few levels at top quality.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* px = &bgr[(static_cast<size_t>(y) * w + x) * 3];
            px[0] = static_cast<uint8_t>(40 + 2 * x);
            px[1] = static_cast<uint8_t>(200 - 3 * y);
            px[2] = static_cast<uint8_t>(100 + x + y);
        }
    }
    const PictureRead read = mz::format::decodeJpeg(mztest::encodeJpeg(w, h, 3, bgr, 100));
    ASSERT_TRUE(read.picture) << read.problem;
    EXPECT_EQ(read.picture->bitsPerPixel, 24);
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        for (int i = 0; i < 3 * w; ++i) {
            worst = std::max(worst, std::abs(read.picture->row(y)[i] - bgr[static_cast<size_t>(y) * w * 3 + i]));
        }
    }
    EXPECT_LE(worst, 4);
    const PictureRead grey = mz::format::decodeJpeg(mztest::encodeJpeg(w, h, 1, samples(w, h, 1), 90));
    ASSERT_TRUE(grey.picture);
    EXPECT_EQ(grey.picture->bitsPerPixel, 8);
}

TEST(PictureTest, DamagedAndOversizedFilesAreRefusedWithAReason) {
    const std::vector<uint8_t> png = mztest::encodePng(32, 32, 3, samples(32, 32, 3));
    const std::vector<uint8_t> jpeg = mztest::encodeJpeg(32, 32, 3, samples(32, 32, 3), 90);
    const auto refusal = [](const PictureRead& r) { return r.picture ? std::string("(decoded)") : r.problem; };

    EXPECT_NE(refusal(mz::format::decodePng({})).find("damaged"), std::string::npos);
    EXPECT_NE(refusal(mz::format::decodeJpeg({})).find("damaged"), std::string::npos);
    const std::vector<uint8_t> halfPng(png.begin(), png.begin() + png.size() / 2);
    EXPECT_NE(refusal(mz::format::decodePng(halfPng)).find("damaged"), std::string::npos);
    // A JPEG cut short decodes with grey rows and a warning: refused all the same.
    const std::vector<uint8_t> halfJpeg(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
    EXPECT_NE(refusal(mz::format::decodeJpeg(halfJpeg)).find("damaged"), std::string::npos);
    std::vector<uint8_t> swapped = png;
    swapped[0] = 'X';
    EXPECT_NE(refusal(mz::format::decodePng(swapped)).find("damaged"), std::string::npos);

    // A valid header claiming 20000 x 20000 pixels: refused before the pixels are read.
    std::vector<uint8_t> bigPng = png;
    ASSERT_EQ(bigEndian(bigPng, 12), 0x49484452u);  // "IHDR"
    putBigEndian(bigPng, 16, 20000);
    putBigEndian(bigPng, 20, 20000);
    putBigEndian(bigPng, 29, static_cast<uint32_t>(crc32(0, bigPng.data() + 12, 17)));
    EXPECT_NE(refusal(mz::format::decodePng(bigPng)).find("20000 x 20000"), std::string::npos);
    std::vector<uint8_t> bigJpeg = jpeg;
    for (size_t i = 2; i + 8 < bigJpeg.size(); ++i) {
        if (bigJpeg[i] == 0xFF && bigJpeg[i + 1] == 0xC0) {  // start of frame: height, then width
            bigJpeg[i + 5] = 0x4E, bigJpeg[i + 6] = 0x20;
            bigJpeg[i + 7] = 0x4E, bigJpeg[i + 8] = 0x20;
            break;
        }
    }
    EXPECT_NE(refusal(mz::format::decodeJpeg(bigJpeg)).find("20000 x 20000"), std::string::npos);
}

TEST(PictureTest, FindPicturePrefersTheBitmap) {
    mztest::TempDir dir;
    EXPECT_FALSE(mz::format::findPicture(dir.path(), "front"));
    mztest::writeBytes(dir.path() / "front.jpg", {1});
    mztest::writeBytes(dir.path() / "front.png", {1});
    EXPECT_EQ(mz::format::findPicture(dir.path(), "front"), dir.path() / "front.png");
    mztest::writeBytes(dir.path() / "front.bmp", {1});
    EXPECT_EQ(mz::format::findPicture(dir.path(), "front"), dir.path() / "front.bmp");
}

}  // namespace
