// The single-camera view engine: field of view, OSD mask, overlay, tables and bad records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "geometry/image.h"
#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/singleview.h"

namespace {

struct Handle {
    ViewHandle h = mzSingleviewCreate(0);
    ~Handle() { mzSingleviewRelease(&h); }
};

int stride(int width) { return MZ_ROW_STRIDE24(width); }

SingleviewParam rearView(mztest::ViewRig& rig, int w, int h) {
    SingleviewParam v{};
    v.flags = MZ_SV_BILINEAR;
    v.scaleX = 1;
    v.scaleY = 1;
    v.width = w;
    v.height = h;
    v.centreX = static_cast<float>(w) / 2;
    v.centreY = static_cast<float>(h) / 2;
    v.overlayScale = 10;
    v.camera = &rig.cameras[1];
    v.vehicleLength = 4600;
    return v;
}

TEST(SingleviewFov, WholePictureAndAMiddleRowWithoutEntries) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig, 720, 480);
    Handle h;
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    float hor = 0, ver = 0;
    ASSERT_EQ(0, mzSingleviewGetFOV(h.h, &hor, &ver));
    // Equidistant lens at 200 pixels per radian: the edges of the 720 x 480 picture.
    EXPECT_NEAR((360.0 + 359.0) / 200 * 57.29578, hor, 1e-3);
    EXPECT_NEAR((240.0 + 239.0) / 200 * 57.29578, ver, 1e-3);

    // Shifted off the picture: the scans end on their far entries, (-1, -1).
    v.offsetY = 1000;
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewGetFOV(h.h, &hor, &ver));
    const double far = std::hypot(361.0, 241.0) / 200 * 57.29578;
    EXPECT_NEAR(2 * far, hor, 1e-3);
}

TEST(OsdMask, PaletteAndRunLength) {
    const mz::OsdColour* p = mz::osdPalette();
    EXPECT_EQ((std::vector<int>{255, 255, 255}), (std::vector<int>{p[0].r, p[0].g, p[0].b}));
    EXPECT_EQ((std::vector<int>{0, 0, 51}), (std::vector<int>{p[214].r, p[214].g, p[214].b}));
    EXPECT_EQ((std::vector<int>{238, 0, 0}), (std::vector<int>{p[215].r, p[215].g, p[215].b}));
    EXPECT_EQ((std::vector<int>{17, 17, 17}), (std::vector<int>{p[254].r, p[254].g, p[254].b}));
    EXPECT_EQ(255, mz::osdPaletteIndex(0, 0, 0));
    EXPECT_EQ(0, mz::osdPaletteIndex(255, 255, 255));
    // (R, G, B) = (10, 0, 10) is as near the red ramp's (17, 0, 0) as the blue ramp's (0, 0, 17):
    // the lower index wins.
    EXPECT_EQ(224, mz::osdPaletteIndex(10, 0, 10));

    // 720 x 2 uniform white: five full units and one of 160 pixels.
    std::vector<uint8_t> code;
    const std::vector<uint8_t> white(1440, 0);
    mz::osdRunLength(white.data(), white.size(), code);
    EXPECT_EQ((std::vector<uint8_t>{0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 159}), code);
    // Alternating pixels take two bytes each: more than the display unit's old fixed buffer.
    std::vector<uint8_t> busy(720 * 800);
    for (size_t i = 0; i < busy.size(); ++i) busy[i] = static_cast<uint8_t>(i & 1);
    code.clear();
    mz::osdRunLength(busy.data(), busy.size(), code);
    EXPECT_EQ(2 * busy.size(), code.size());
}

// A green guide-line picture of 4 x 4 m at 10 mm per pixel behind the vehicle.
std::vector<uint8_t> greenOverlay(int w, int h) {
    std::vector<uint8_t> img(static_cast<size_t>(stride(w)) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((x / 20 + y / 20) % 2 == 0) img[y * stride(w) + 3 * x + 1] = 200;
    return img;
}

int countGreen(const std::vector<uint8_t>& img, int w, int h) {
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &img[y * stride(w) + 3 * x];
            n += p[0] == 0 && p[1] == 200 && p[2] == 0;
        }
    return n;
}

// Apply reads through offsets and weights made once; the bytes equal the remap of the picture
// through the view's map, in every interpolation.
TEST(SingleviewApply, EqualsTheRemapThroughTheViewMap) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    const std::vector<uint8_t> source = mztest::noisePicture(720, 480, 4);
    for (uint32_t mode : {0u, 1u, 2u}) {
        SingleviewParam v = rearView(*rig, 320, 200);
        v.flags = mode | MZ_SV_LENS;
        v.scaleX = v.scaleY = 0.4f;
        Handle h;
        ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
        std::vector<uint8_t> out(stride(320) * 200);
        ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));

        mz::ImageBufferPtr src(mz::createImageBuffer(3, 720, 480)), ref(mz::createImageBuffer(3, 320, 200));
        for (int r = 0; r < 480; ++r) std::memcpy(src->rows[r], &source[r * stride(720)], stride(720));
        float** map = mz::allocFloatRows(200, 2 * 320);
        mzGetviewModeLUT(720, 480, map, &v);
        const uint8_t red[3] = {0, 0, 255};
        ASSERT_EQ(0, mzRemap(src.get(), ref.get(), map, static_cast<int>(mode), red));
        mz::freeFloatRows(map, 200);
        int differing = 0;
        for (int r = 0; r < 200; ++r) differing += std::memcmp(ref->rows[r], &out[r * stride(320)], 3 * 320) != 0;
        EXPECT_EQ(0, differing) << "mode " << mode;
    }
}

TEST(SingleviewOverlay, SetImageBeforeInitShowsTheOverlay) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig, 360, 240);
    v.scaleX = 0.5f;
    v.scaleY = 0.5f;
    v.flags |= MZ_SV_OVERLAY;
    const std::vector<uint8_t> source = mztest::noisePicture(720, 480, 9);
    const std::vector<uint8_t> overlay = greenOverlay(400, 400);
    std::vector<uint8_t> out(stride(360) * 240);

    Handle h;
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewSetImage(h.h, 400, 400, overlay.data(), 0));
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_EQ(0, countGreen(out, 360, 240));  // set after Init: not shown yet
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_GT(countGreen(out, 360, 240), 1000);
    // Clearing blanks the overlay from the next Init on.
    ASSERT_EQ(0, mzSingleviewSetImage(h.h, 0, 0, nullptr, 1));
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_EQ(0, countGreen(out, 360, 240));
}

TEST(SingleviewOverlay, MaskIsTheRunLengthCodeOfTheScaledOverlay) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig, 800, 240);
    v.scaleX = 0.9f;
    v.scaleY = 0.5f;
    v.centreX = 300;
    v.flags |= MZ_SV_OVERLAY;
    const std::vector<uint8_t> overlay = greenOverlay(400, 400);
    Handle h;
    int len = -1;
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewGetMaskLen(h.h, &len, 800));
    EXPECT_EQ(0, len);  // no overlay yet
    ASSERT_EQ(0, mzSingleviewSetImage(h.h, 400, 400, overlay.data(), 0));
    ASSERT_EQ(0, mzSingleviewGetMaskLen(h.h, &len, 800));
    ASSERT_GT(len, 0);
    EXPECT_EQ(400.0f, v.centreX);  // the record's centre is left in the middle
    EXPECT_EQ(800, v.width);
    EXPECT_EQ(0.9f, v.scaleX);

    std::vector<uint8_t> mask(len, 0xEE);
    EXPECT_EQ(0, mzSingleviewGetMask(h.h, mask.data(), len - 1));
    EXPECT_EQ(std::vector<uint8_t>(len, 0xEE), mask);
    ASSERT_EQ(0, mzSingleviewGetMask(h.h, mask.data(), len));
    std::vector<uint8_t> indices;
    for (int i = 0; i < len; i += 2) indices.insert(indices.end(), mask[i + 1] + 1, mask[i]);
    ASSERT_EQ(static_cast<size_t>(720 * 240), indices.size());  // 800 scaled to the OSD's 720

    // The same picture as a bitmap: quantised, it is what the mask codes.
    const std::string path = testing::TempDir() + "osd.bmp";
    ASSERT_EQ(0, mzSingleviewSaveImage(h.h, path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(static_cast<size_t>(54 + stride(720) * 240), bmp.size());
    int green = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 720; ++x) {
            const uint8_t* p = &bmp[54 + (239 - y) * stride(720) + 3 * x];
            ASSERT_EQ(mz::osdPaletteIndex(p[0], p[1], p[2]), indices[y * 720 + x]) << x << "," << y;
            green += p[1] == 200;
        }
    EXPECT_GT(green, 1000);
    std::remove(path.c_str());

    // With the OSD's own width the view keeps its width.
    ASSERT_EQ(0, mzSingleviewGetMaskLen(h.h, &len, 720));
    mask.assign(len, 0);
    ASSERT_EQ(0, mzSingleviewGetMask(h.h, mask.data(), len));
    size_t pixels = 0;
    for (int i = 0; i < len; i += 2) pixels += mask[i + 1] + 1;
    EXPECT_EQ(static_cast<size_t>(800 * 240), pixels);
}

TEST(SingleviewTables, LutLengthShortBufferAndSaveLut) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig, 40, 30);
    v.scaleX = 0.05f;  // wider than the picture: the edges have no source
    v.scaleY = 0.05f;
    Handle h;
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    int len = 0;
    ASSERT_EQ(0, mzSingleviewGetLUTLen(h.h, &len));
    ASSERT_EQ(40 * 30 * 4, len);
    std::vector<uint8_t> lut(len, 0x33);
    EXPECT_EQ(0, mzSingleviewGetLUT(h.h, lut.data(), len - 1));
    EXPECT_EQ(std::vector<uint8_t>(len, 0x33), lut);
    ASSERT_EQ(0, mzSingleviewGetLUT(h.h, lut.data(), len));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}), std::vector<uint8_t>(lut.begin(), lut.begin() + 4));

    const std::string path = testing::TempDir() + "single_lut.txt";
    ASSERT_EQ(0, mzSingleviewSaveLUT(h.h, path.c_str()));
    std::ifstream in(path);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ("0 0 36245.000000 36245.000000", first);
    std::remove(path.c_str());
}

TEST(SingleviewInit, BadRecordsLeaveTheEngineNotReady) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    const std::vector<uint8_t> source = mztest::noisePicture(720, 480, 3);
    std::vector<uint8_t> out(stride(64) * 48, 0x42);
    Handle h;
    // Apply before any Init writes nothing.
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_EQ(std::vector<uint8_t>(stride(64) * 48, 0x42), out);
    EXPECT_EQ(0, mzSingleviewInit(h.h, nullptr));
    SingleviewParam v = rearView(*rig, 0, 48);
    EXPECT_EQ(0, mzSingleviewInit(h.h, &v));
    v.width = -64;
    EXPECT_EQ(0, mzSingleviewInit(h.h, &v));
    v.width = 64;
    v.camera = nullptr;
    EXPECT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_EQ(std::vector<uint8_t>(stride(64) * 48, 0x42), out);
    int len = 9;
    ASSERT_EQ(0, mzSingleviewGetLUTLen(h.h, &len));
    EXPECT_EQ(0, len);
    float hor = -1, ver = -1;
    ASSERT_EQ(0, mzSingleviewGetFOV(h.h, &hor, &ver));
    EXPECT_EQ(-1.0f, hor);

    // A camera without point pairs still gives a picture; its overlay finds no ground.
    v.camera = &rig->cameras[1];
    v.flags |= MZ_SV_OVERLAY;
    rig->cameras[1].pointCount = 0;
    const std::vector<uint8_t> overlay = greenOverlay(100, 100);
    ASSERT_EQ(0, mzSingleviewSetImage(h.h, 100, 100, overlay.data(), 0));
    ASSERT_EQ(0, mzSingleviewInit(h.h, &v));
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), out.data()));
    EXPECT_EQ(0, countGreen(out, 64, 48));
    EXPECT_NE(std::vector<uint8_t>(stride(64) * 48, 0x42), out);

    // The record made smaller and its new Init refused: nothing lands in the smaller buffer.
    v.width = 8;
    v.height = -1;
    EXPECT_EQ(0, mzSingleviewInit(h.h, &v));
    std::vector<uint8_t> small(stride(8) * 4, 0x42);
    ASSERT_EQ(0, mzSingleviewApply(h.h, source.data(), small.data()));
    EXPECT_EQ(std::vector<uint8_t>(stride(8) * 4, 0x42), small);
}

}  // namespace
