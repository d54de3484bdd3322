#include "app/core/config_loader.h"

#include <bit>
#include <cstring>
#include <iterator>
#include <random>

#include <gtest/gtest.h>

#include "format/config_writer.h"
#include "testing/scripted_ui.h"

namespace mz::core {
namespace {

using test::ScriptedUi;

format::ConfigFile sampleConfig() {
    format::ConfigFile cfg;
    cfg.headerTag = {1, 2, 3, 4};
    cfg.model = "AVM 1.65";
    cfg.parkingGuideLevel = 2;
    for (int i = 0; i < 4; ++i) {
        format::ConfigCamera cam;
        cam.type = static_cast<uint8_t>(format::kRecordFrontCamera + i);
        cam.f = 300.5f + i;
        cam.fx = 1.25f;
        cam.fy = 1.0625f;
        cam.cx = 32.5f;
        cam.cy = 24.25f;
        for (int k = 0; k < 5; ++k) cam.k[k] = 0.1f * (k + 1) + i;
        for (int c = 0; c < 9; ++c) cam.c[c] = -0.01f * (c + 1) - i;
        cam.width = 64;
        cam.height = 48;
        cam.extra1 = -2.9f;
        cam.extra2 = 7.8f;
        cfg.cameras.push_back(cam);
    }
    format::ConfigMultiview mv;
    mv.name = "AVM2D_FULL";
    mv.flags = 0x8001;
    mv.width = 101;
    mv.height = 6;
    mv.centreX = 50.5f;
    mv.centreY = 3;
    mv.mmPerPixel = 14;
    mv.originX = 12.5f;
    mv.originY = -7.25f;
    mv.vehicleWidth = 1850;
    mv.vehicleLength = 4600;
    mv.markerLength = 799.9f;
    mv.lutIds = {1, 2, 3, 4};
    cfg.multiviews.push_back(mv);
    format::ConfigCarImage car;
    car.pixels.resize(static_cast<size_t>(format::paddedImageSize(101, 6)));
    for (size_t i = 0; i < car.pixels.size(); ++i) car.pixels[i] = static_cast<uint8_t>(i * 7);
    cfg.carImages.push_back(car);
    cfg.singleviewHeaderWords = {11, 22, 33};
    for (int i = 0; i < 3; ++i) {
        format::ConfigSingleview sv;
        sv.type = static_cast<uint8_t>(40 + 3 * i);  // 40 front, 43 rear, 46 left
        sv.viewIndex = 3 * i;
        sv.fileName = std::string(kSingleviewFileNames[3 * i]);
        sv.flags = 0x2021;
        sv.wideAngle = 1.5f;
        sv.tiltX = 2;
        sv.tiltY = 3;
        sv.rotation = 4;
        sv.offsetX = 5;
        sv.offsetY = 6;
        sv.scaleX = 7;
        sv.scaleY = 8;
        sv.overlayScale = 9;
        sv.width = 32;
        sv.height = 24;
        sv.centreX = 16;
        sv.centreY = 12;
        sv.lutId = 30 + i;
        cfg.singleviews.push_back(sv);
    }
    return cfg;
}

// Byte offsets of the encoded sample.
constexpr size_t kFirstCamera = format::kConfigHeaderSize;
constexpr size_t kFirstMultiview = kFirstCamera + 4 * (format::kChunkHeaderSize + format::kCameraPayloadSize);
constexpr size_t kFirstCar = kFirstMultiview + format::kChunkHeaderSize + format::kMultiviewPayloadSize;
constexpr size_t kFirstSingleview =
    kFirstCar + format::kChunkHeaderSize + 304 * 6 + format::kSingleviewSectionHeaderSize;

void putI32(std::vector<uint8_t>& b, size_t off, int32_t v) { std::memcpy(b.data() + off, &v, 4); }

TEST(ConfigLoaderTest, ReadsBackWhatTheWriterWrites) {
    const format::ConfigFile cfg = sampleConfig();
    CalibrationState s;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(cfg), s, ui));
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(ui.title(), "Model : AVM 1.65");
    EXPECT_EQ(s.modelName, "AVM 1.65");
    EXPECT_EQ(s.header[0], 1);
    EXPECT_EQ(s.parkingGuideLevel(), 2);
    EXPECT_EQ(s.multiviewCount(), 1);

    for (int i = 0; i < 4; ++i) {
        const CameraParam& cam = s.cameras[i];
        const format::ConfigCamera& src = cfg.cameras[i];
        EXPECT_EQ(std::bit_cast<uint32_t>(cam.f), std::bit_cast<uint32_t>(src.f));
        EXPECT_EQ(cam.cx, src.cx);
        EXPECT_EQ(cam.k5, src.k[4]);
        EXPECT_EQ(cam.c8, src.c[8]);
        EXPECT_EQ(cam.width, 64);
        EXPECT_EQ(cam.height, 48);
        EXPECT_EQ(cam.extra1, -2);  // truncated toward zero
        EXPECT_EQ(cam.extra2, 7);
        EXPECT_EQ(cam.originX, 12.5f);
        EXPECT_EQ(cam.originY, -7.25f);
        EXPECT_EQ(cam.patternShape, 0);
        EXPECT_EQ(cam.markerLength, 799);
        EXPECT_EQ(cam.pointCount, 6);
        EXPECT_EQ(cam.imagePoints, s.imagePoints[i].data());
    }

    const MultiviewParam& mv = s.multiviews[0];
    EXPECT_NE(s.multiviewHandles[0], nullptr);
    EXPECT_EQ(s.multiviewHandles[1], nullptr);
    EXPECT_EQ(mv.flags, 0x8001u);
    EXPECT_EQ(mv.vehicleWidth, 1850);
    EXPECT_EQ(mv.vehicleLength, 4600);
    EXPECT_EQ(mv.frontFov, 150.0f);
    EXPECT_EQ(mv.rearFov, 150.0f);
    EXPECT_EQ(mv.blendWidth, 10.0f);
    EXPECT_EQ(mv.vehicleColour, 0x010101u);
    EXPECT_EQ(mv.lineWidth, 4);
    EXPECT_EQ(mv.blendMode, 4);
    EXPECT_EQ(mv.width, 101);
    EXPECT_EQ(mv.height, 6);
    EXPECT_EQ(mv.centreX, 50.5f);
    EXPECT_EQ(mv.mmPerPixel, 14.0f);
    EXPECT_STREQ(mv.name, "AVM2D_FULL");
    EXPECT_EQ(mv.lutId[0], 1);
    EXPECT_EQ(mv.lutId[3], 4);
    EXPECT_EQ(mv.maskId, 5);
    EXPECT_EQ(mv.cameras, s.cameras.data());

    // 101 pixels make rows of 303 bytes padded to 304.
    ASSERT_TRUE(s.hasCarImage[0]);
    EXPECT_EQ(s.carImages[0].size(), 304u * 6);
    EXPECT_EQ(s.carImages[0], cfg.carImages[0].pixels);

    EXPECT_EQ(s.singleviewHeader[0], 11);
    EXPECT_EQ(s.singleviewHeader[1], 3);
    EXPECT_EQ(s.singleviewHeader[3], 33);
    EXPECT_EQ(s.singleviewCount(), 3);
    const int cameraOf[3] = {kFront, kRear, kLeft};
    for (int i = 0; i < 3; ++i) {
        const SingleviewParam& sv = s.singleviews[i];
        EXPECT_NE(s.singleviewHandles[i], nullptr);
        EXPECT_EQ(singleviewIndex(s.singleviewRaw[i]), 3 * i);
        EXPECT_EQ(singleviewFileName(s.singleviewRaw[i]), kSingleviewFileNames[3 * i]);
        EXPECT_EQ(sv.flags, 0x2021u);
        EXPECT_EQ(sv.wideAngle, 1.5f);
        EXPECT_EQ(sv.rotation, 4.0f);
        EXPECT_EQ(sv.offsetY, 6.0f);
        EXPECT_EQ(sv.scaleY, 8.0f);
        EXPECT_EQ(sv.overlayScale, 9.0f);
        EXPECT_EQ(sv.width, 32);
        EXPECT_EQ(sv.centreY, 12.0f);
        EXPECT_EQ(sv.lutId, 30 + i);
        EXPECT_EQ(sv.shearX, 0.0f);
        EXPECT_EQ(sv.camera, &s.cameras[cameraOf[i]]);
        EXPECT_EQ(sv.vehicleWidth, 1850);
        EXPECT_EQ(sv.vehicleLength, 4600);
    }
    EXPECT_EQ(s.singleviewHandles[3], nullptr);
}

TEST(ConfigLoaderTest, HeaderChecksRejectTheFileAndKeepTheLoadedOne) {
    CalibrationState s;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(sampleConfig()), s, ui));
    const auto before = s.header;

    auto damaged = [](int offset, uint8_t value) {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        b[offset] = value;
        return b;
    };
    for (auto bytes : {damaged(20, 3), damaged(20, 5), damaged(21, 0), damaged(22, 2)}) {
        ui.clearRecords();
        EXPECT_FALSE(loadConfiguration(bytes, s, ui));
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_EQ(ui.messages()[0].text, "Config file header error!");
        EXPECT_EQ(ui.messages()[0].title, "Ovantis Calibration Tool");
        EXPECT_EQ(ui.messages()[0].icon, MessageIcon::kError);
        EXPECT_EQ(s.header, before);
        EXPECT_NE(s.multiviewHandles[0], nullptr);
    }
}

TEST(ConfigLoaderTest, MalformedSectionsFailTheLoad) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    {
        format::ConfigFile cfg = sampleConfig();
        std::vector<uint8_t> b = format::encodeConfig(cfg);
        b[kFirstCamera] = 14;
        cases.push_back({"unknown camera type", b});
    }
    {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        b[kFirstMultiview] = 23;
        cases.push_back({"unknown multiview type", b});
    }
    {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        b[kFirstSingleview + format::kChunkHeaderSize + format::kSingleviewPayloadSize] = 50;
        cases.push_back({"unknown single-view type", b});
    }
    {
        format::ConfigFile cfg = sampleConfig();
        cfg.carImages[0].pixels.resize(303 * 6);  // unpadded rows
        cases.push_back({"car image length", format::encodeConfig(cfg)});
    }
    {
        format::ConfigFile cfg = sampleConfig();
        while (cfg.singleviews.size() < 11) cfg.singleviews.push_back(cfg.singleviews[0]);
        cases.push_back({"eleven single views", format::encodeConfig(cfg)});
    }
    {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        putI32(b, kFirstCamera + 4, -1);
        cases.push_back({"negative payload length", b});
    }
    for (const auto& [width, height] : {std::pair{0, 48}, {64, -5}, {format::kMaxCameraSide + 1, 48}, {64, 1 << 30}}) {
        format::ConfigFile cfg = sampleConfig();
        cfg.cameras[2].width = width;
        cfg.cameras[2].height = height;
        cases.push_back({"camera picture size out of range", format::encodeConfig(cfg)});
    }
    {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        putI32(b, kFirstCar + 4, -8);
        cases.push_back({"negative car-image length", b});
    }
    {
        std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
        putI32(b, kFirstCar + 4, 0x7FFFFFF0);
        cases.push_back({"car image longer than the file", b});
    }
    const std::vector<uint8_t> whole = format::encodeConfig(sampleConfig());
    for (size_t cut :
         {size_t{10}, kFirstCamera + 50, kFirstMultiview + 20, kFirstCar + 100, whole.size() - 60, whole.size() - 1}) {
        cases.push_back({"file ends early", std::vector<uint8_t>(whole.begin(), whole.begin() + cut)});
    }

    for (const Case& c : cases) {
        CalibrationState s;
        ScriptedUi ui;
        EXPECT_FALSE(loadConfiguration(c.bytes, s, ui)) << c.what;
        EXPECT_TRUE(ui.messages().empty()) << c.what;
    }
}

TEST(ConfigLoaderTest, OversizedPayloadIsReadAsFarAsItFitsAndTheRestSkipped) {
    std::vector<uint8_t> b = format::encodeConfig(sampleConfig());
    const size_t payloadEnd = kFirstCamera + format::kChunkHeaderSize + format::kCameraPayloadSize;
    b.insert(b.begin() + payloadEnd, 8, 0xEE);
    putI32(b, kFirstCamera + 4, format::kCameraPayloadSize + 8);
    CalibrationState s;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(b, s, ui));
    EXPECT_EQ(s.cameras[kFront].width, 64);
    EXPECT_EQ(s.cameras[kRear].width, 64);
    EXPECT_EQ(s.singleviews[2].lutId, 32);
}

TEST(ConfigLoaderTest, RepeatedMultiviewSlotReplacesItsEngine) {
    format::ConfigFile cfg = sampleConfig();
    format::ConfigMultiview second = cfg.multiviews[0];
    second.vehicleWidth = 2000;
    cfg.multiviews.push_back(second);
    cfg.carImages.push_back(cfg.carImages[0]);
    CalibrationState s;
    ScriptedUi ui;
    // The first engine is released before the second is made; the leak checker sees the rest.
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(cfg), s, ui));
    EXPECT_NE(s.multiviewHandles[0], nullptr);
    EXPECT_EQ(s.multiviewHandles[1], nullptr);
    EXPECT_EQ(s.multiviews[0].vehicleWidth, 2000);
}

TEST(ConfigLoaderTest, EmptyMultiviewPayloadMakesAnEngineAndKeepsTheRecord) {
    format::ConfigFile cfg = sampleConfig();
    std::vector<uint8_t> b = format::encodeConfig(cfg);
    // Cut the payload out of the multiview record: length 0.
    b.erase(b.begin() + kFirstMultiview + format::kChunkHeaderSize,
            b.begin() + kFirstMultiview + format::kChunkHeaderSize + format::kMultiviewPayloadSize);
    putI32(b, kFirstMultiview + 4, 0);
    CalibrationState s;
    s.multiviews[0].width = 101;  // as a previous configuration left it
    s.multiviews[0].height = 6;
    s.multiviews[0].vehicleWidth = 77;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(b, s, ui));
    EXPECT_NE(s.multiviewHandles[0], nullptr);
    EXPECT_EQ(s.multiviews[0].vehicleWidth, 77);
}

TEST(ConfigLoaderTest, ReloadReleasesAndRebuildsTheViews) {
    CalibrationState s;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(sampleConfig()), s, ui));
    format::ConfigFile fewer = sampleConfig();
    fewer.singleviews.resize(1);
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(fewer), s, ui));
    EXPECT_NE(s.singleviewHandles[0], nullptr);
    EXPECT_EQ(s.singleviewHandles[1], nullptr);
    EXPECT_EQ(singleviewIndex(s.singleviewRaw[1]), 0);  // raw records are cleared
    format::ConfigFile none = sampleConfig();
    none.singleviews.clear();
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(none), s, ui));
    EXPECT_EQ(s.singleviewCount(), 0);
    EXPECT_EQ(s.singleviewHandles[0], nullptr);
}

TEST(ConfigLoaderTest, ViewNameRunsIntoTheTwoBytesAfterItsField) {
    format::ConfigFile cfg = sampleConfig();
    cfg.multiviews[0].name = "AVM2D_FRONT";
    CalibrationState s;
    ScriptedUi ui;
    ASSERT_TRUE(loadConfiguration(format::encodeConfig(cfg), s, ui));
    EXPECT_STREQ(s.multiviews[0].name, "AVM2D_FRONT");
}

// Damaged files from a fixed stream of mutations: flipped bytes, cut files, and words set to
// extreme values (sizes, counts, lengths). Whatever the reader makes of them, it must neither
// crash nor read outside the file (the sanitizer build watches), and a good file must load
// afterwards into the same state.
TEST(ConfigLoaderTest, SurvivesDamagedFiles) {
    const std::vector<uint8_t> good = format::encodeConfig(sampleConfig());
    const int32_t extremes[] = {0, -1, 1, INT32_MAX, INT32_MIN, 0x10000, 100000, 0x3F800000};
    std::mt19937 rng(2026);
    CalibrationState s;
    int refused = 0;
    for (int trial = 0; trial < 600; ++trial) {
        std::vector<uint8_t> bytes = good;
        switch (trial % 3) {
        case 0:
            for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n)
                bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: bytes.resize(rng() % bytes.size()); break;
        default: putI32(bytes, (rng() % (bytes.size() / 4)) * 4, extremes[rng() % std::size(extremes)]); break;
        }
        ScriptedUi ui;
        refused += !loadConfiguration(bytes, s, ui);
        if (trial % 50 == 49) {
            ScriptedUi fresh;
            ASSERT_TRUE(loadConfiguration(good, s, fresh)) << "trial " << trial;
            ASSERT_EQ(s.multiviewCount(), 1);
        }
    }
    EXPECT_GT(refused, 200);  // every cut file, at least, is refused
}

TEST(ConfigLoaderTest, ModelCodes) {
    EXPECT_EQ(modelCodeOf("AVM 1.65"), 165);
    EXPECT_EQ(modelCodeOf("AVM 1.67"), 167);
    EXPECT_EQ(modelCodeOf("AVM 1.66"), 166);
    EXPECT_EQ(modelCodeOf("AVM 2.0"), 200);
    EXPECT_EQ(modelCodeOf("AVM"), 0);
    EXPECT_EQ(modelCodeOf("AVM abc"), 0);
    EXPECT_EQ(modelCodeOf("AVM 1e300"), INT32_MAX);
}

}  // namespace
}  // namespace mz::core
