#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "format/atomic_file.h"
#include "format/config_writer.h"

namespace mz::format {
namespace {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
int32_t i32At(const std::vector<uint8_t>& b, size_t at) { return static_cast<int32_t>(u32At(b, at)); }
float f32At(const std::vector<uint8_t>& b, size_t at) { return std::bit_cast<float>(u32At(b, at)); }
std::string textAt(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

ConfigFile smallConfig() {
    ConfigFile cfg;
    cfg.headerTag = {1, 2, 3, 4};
    cfg.model = "AVM 1.65";
    cfg.parkingGuideLevel = 2;
    for (uint8_t t = kRecordFrontCamera; t <= kRecordRightCamera; ++t) {
        ConfigCamera cam;
        cam.type = t;
        cam.f = 180.5f;
        cam.fx = 225.4f;
        cam.fy = 205.4f;
        cam.cx = 360;
        cam.cy = 240;
        cam.k = {0.8f, -0.01f, 0.002f, -0.0003f, 0.00001f};
        for (int i = 0; i < 9; ++i) cam.c[i] = 0.1f * i;
        cam.width = 720;
        cam.height = 480;
        cam.extra1 = 3.9f;
        cam.extra2 = -1.5f;
        cfg.cameras.push_back(cam);
    }
    ConfigMultiview mv;
    mv.name = "AVM2D_FRONT";
    mv.flags = 0x8001;
    mv.width = 101;
    mv.height = 2;
    mv.centreX = 50.5f;
    mv.centreY = 1;
    mv.mmPerPixel = 14;
    mv.originX = -3;
    mv.originY = 4;
    mv.vehicleWidth = 1850;
    mv.vehicleLength = 4600;
    mv.markerLength = 800;
    mv.lutIds = {1, 2, 3, 4};
    cfg.multiviews.push_back(mv);
    ConfigCarImage car;
    car.pixels.assign(static_cast<size_t>(paddedImageSize(101, 2)), 0x7F);
    cfg.carImages.push_back(car);
    cfg.singleviewHeaderWords = {11, 22, 33};
    ConfigSingleview sv;
    sv.type = 42;
    sv.viewIndex = 2;
    sv.fileName = "Rearvw.bin";
    sv.flags = 0x2021;
    sv.wideAngle = 0.5f;
    sv.tiltX = 1;
    sv.tiltY = 2;
    sv.rotation = 3;
    sv.offsetX = 4;
    sv.offsetY = 5;
    sv.scaleX = 6;
    sv.scaleY = 7;
    sv.unused = {9, 9, 9, 9};
    sv.overlayScale = 10;
    sv.width = 720;
    sv.height = 480;
    sv.centreX = 360;
    sv.centreY = 240;
    sv.lutId = 16;
    cfg.singleviews.push_back(sv);
    return cfg;
}

TEST(ConfigWriter, HeaderAndCameraRecordBytes) {
    const std::vector<uint8_t> b = encodeConfig(smallConfig());
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    EXPECT_EQ(textAt(b, 4, 16), std::string("AVM 1.65\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(b[20], 4);
    EXPECT_EQ(b[21], 1);
    EXPECT_EQ(b[22], 1);
    EXPECT_EQ(b[23], 2);
    // First camera record: chunk header at 24, payload at 32.
    EXPECT_EQ(b[24], 10);
    EXPECT_EQ(b[25] | b[26] | b[27], 0);
    EXPECT_EQ(i32At(b, 28), 92);
    EXPECT_EQ(f32At(b, 32), 180.5f);
    EXPECT_EQ(f32At(b, 32 + 8), 205.4f);
    EXPECT_EQ(f32At(b, 32 + 20), 0.8f);
    EXPECT_EQ(f32At(b, 32 + 36), 0.00001f);
    EXPECT_EQ(f32At(b, 32 + 40), 0.0f);
    EXPECT_EQ(f32At(b, 32 + 72), 0.8f);
    EXPECT_EQ(i32At(b, 32 + 76), 720);
    EXPECT_EQ(i32At(b, 32 + 80), 480);
    EXPECT_EQ(f32At(b, 32 + 84), 3.9f);
    EXPECT_EQ(f32At(b, 32 + 88), -1.5f);
    // Records follow one another: the right camera is the fourth.
    EXPECT_EQ(b[24 + 3 * 100], 13);
}

TEST(ConfigWriter, MultiviewCarImageAndSingleviewBytes) {
    const std::vector<uint8_t> b = encodeConfig(smallConfig());
    const size_t mv = 24 + 4 * 100;
    EXPECT_EQ(b[mv], 20);
    EXPECT_EQ(i32At(b, mv + 4), 72);
    const size_t p = mv + 8;
    // An eleven-letter name runs into the two bytes after the ten-byte field.
    EXPECT_EQ(textAt(b, p, 12), std::string("AVM2D_FRONT\0", 12));
    EXPECT_EQ(u32At(b, p + 12), 0x8001u);
    EXPECT_EQ(i32At(b, p + 16), 101);
    EXPECT_EQ(i32At(b, p + 20), 2);
    EXPECT_EQ(f32At(b, p + 24), 50.5f);
    EXPECT_EQ(f32At(b, p + 32), 14.0f);
    EXPECT_EQ(f32At(b, p + 36), -3.0f);
    EXPECT_EQ(f32At(b, p + 40), 4.0f);
    EXPECT_EQ(i32At(b, p + 44), 1850);
    EXPECT_EQ(i32At(b, p + 48), 4600);
    EXPECT_EQ(f32At(b, p + 52), 800.0f);
    EXPECT_EQ(i32At(b, p + 56), 1);
    EXPECT_EQ(i32At(b, p + 68), 4);

    const size_t car = p + 72;
    EXPECT_EQ(b[car], 30);
    EXPECT_EQ(i32At(b, car + 4), 2 * 304);  // 101 pixels: 303 bytes padded to 304
    const size_t sect = car + 8 + 608;
    EXPECT_EQ(i32At(b, sect), 11);
    EXPECT_EQ(i32At(b, sect + 4), 1);
    EXPECT_EQ(i32At(b, sect + 8), 22);
    EXPECT_EQ(i32At(b, sect + 12), 33);

    const size_t sv = sect + 16;
    EXPECT_EQ(b[sv], 42);
    EXPECT_EQ(i32At(b, sv + 4), 88);
    const size_t q = sv + 8;
    EXPECT_EQ(i32At(b, q), 2);
    EXPECT_EQ(textAt(b, q + 4, 20), std::string("Rearvw.bin\0\0\0\0\0\0\0\0\0\0", 20));
    EXPECT_EQ(u32At(b, q + 24), 0x2021u);
    EXPECT_EQ(f32At(b, q + 28), 0.5f);
    EXPECT_EQ(f32At(b, q + 40), 3.0f);  // rotation comes before the offsets in the file
    EXPECT_EQ(f32At(b, q + 44), 4.0f);
    EXPECT_EQ(f32At(b, q + 56), 7.0f);
    EXPECT_EQ(b[q + 60], 9);
    EXPECT_EQ(i32At(b, q + 64), 10);
    EXPECT_EQ(i32At(b, q + 68), 720);
    EXPECT_EQ(i32At(b, q + 76), 360);
    EXPECT_EQ(i32At(b, q + 84), 16);
    EXPECT_EQ(b.size(), q + 88);
}

TEST(ConfigWriter, RefusesWhatTheLayoutCannotHold) {
    ConfigFile cfg = smallConfig();
    cfg.model = "A model name too long";
    EXPECT_THROW(encodeConfig(cfg), std::invalid_argument);
    cfg = smallConfig();
    cfg.multiviews[0].name = "AVM2D_FRONT_X";
    EXPECT_THROW(encodeConfig(cfg), std::invalid_argument);
    cfg = smallConfig();
    cfg.singleviews[0].fileName = "TwentyCharactersLong";
    EXPECT_THROW(encodeConfig(cfg), std::invalid_argument);
    cfg = smallConfig();
    cfg.singleviews[0].type = 50;
    EXPECT_THROW(encodeConfig(cfg), std::invalid_argument);
    cfg = smallConfig();
    cfg.cameras[1].type = 20;
    EXPECT_THROW(encodeConfig(cfg), std::invalid_argument);
    // Fifteen characters still fit with their terminator; nineteen in a file name too.
    cfg = smallConfig();
    cfg.model = "AVM 1.65 abcdef";
    cfg.singleviews[0].fileName = "NineteenCharacters.";
    EXPECT_NO_THROW(encodeConfig(cfg));
}

// Sizes read from a damaged file: a product beyond 64 bits must not wrap round to a small size
// that a car-picture record could match.
TEST(ConfigModel, PictureSizeSaturatesInsteadOfWrapping) {
    EXPECT_EQ(paddedImageSize(721, 3), 2164 * 3);
    EXPECT_EQ(paddedImageSize(0, 480), 0);
    EXPECT_EQ(paddedImageSize(INT32_MAX, INT32_MAX), INT64_MAX);
    EXPECT_EQ(paddedImageSize(INT32_MIN, INT32_MIN), INT64_MAX);
    EXPECT_EQ(paddedImageSize(INT32_MAX, INT32_MIN), INT64_MIN);
    EXPECT_EQ(paddedImageSize(-5, 2), -24);  // small negative sizes as before
}

TEST(AtomicFile, WritesWholeAndLeavesNoTemporary) {
    const auto dir = std::filesystem::temp_directory_path() / ("mz_format_atomic_test_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    writeConfigFile(dir / "Config.bin", smallConfig());
    writeConfigFile(dir / "Config.bin", smallConfig());  // replaces an existing file
    std::ifstream in(dir / "Config.bin", std::ios::binary);
    const std::vector<uint8_t> read{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(read, encodeConfig(smallConfig()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    EXPECT_THROW(writeFileAtomically(dir / "missing" / "x.bin", std::string_view("x")), std::runtime_error);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mz::format
