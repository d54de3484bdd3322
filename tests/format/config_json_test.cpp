// Config.bin to JSON and back: the simulator's configuration comes back byte for byte, and every
// kind of bad JSON names its field.
#include "format/config_json.h"

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "format/bitmap.h"
#include "format/config_reader.h"
#include "format/config_writer.h"
#include "format/picture.h"
#include "sim/rig.h"
#include "sim/scene.h"
#include "testing/encoded_pictures.h"
#include "testing/files.h"

namespace mz::format {
namespace {

struct Saved {
    mztest::TempDir dir;
    std::vector<uint8_t> bytes;
    std::string json;
};

// The simulated vehicle's Config.bin shown as JSON, with its car images in `dir`.
void save(Saved& s, bool png) {
    s.bytes = encodeConfig(sim::buildConfig(sim::drawRig({})));
    const ConfigFile config = decodeConfig(s.bytes);
    std::vector<std::string> files;
    for (const ConfigCarImage& car : config.carImages) {
        Bitmap picture;
        for (const ConfigMultiview& mv : config.multiviews) {
            if (mv.type - kRecordMultiview0 == car.type - kRecordCarImage0)
                picture.width = mv.width, picture.height = mv.height;
        }
        picture.bitsPerPixel = 24;
        picture.pixels = car.pixels;
        const std::string name = "car" + std::to_string(files.size()) + (png ? ".png" : ".bmp");
        mztest::writeBytes(s.dir.path() / name,
                           png ? mztest::encodePng(picture.width, picture.height, 3, unpaddedPixels(picture))
                               : encodeBitmap(picture));
        files.push_back(name);
    }
    s.json = configToJson(config, files);
}

TEST(ConfigJson, SimulatedConfigurationComesBackByteForByte) {
    for (bool png : {false, true}) {
        Saved s;
        save(s, png);
        EXPECT_EQ(encodeConfig(configFromJson(s.json, s.dir.path())), s.bytes) << (png ? "png" : "bmp");
    }
}

TEST(ConfigJson, EveryRefusalNamesItsField) {
    Saved s;
    save(s, false);
    const nlohmann::json good = nlohmann::json::parse(s.json);
    const auto pointerOf = [&](const std::function<void(nlohmann::json&)>& change) -> std::string {
        nlohmann::json j = good;
        change(j);
        try {
            configFromJson(j.dump(), s.dir.path());
        } catch (const ConfigJsonError& e) {
            return e.pointer() + " | " + e.what();
        }
        return "(accepted)";
    };
    const auto starts = [](const std::string& text, const std::string& pointer) {
        return text.rfind(pointer + " | ", 0) == 0;
    };
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"][2].erase("fx"); }), "/cameras/2/fx");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"][1]["k3"] = "0.1"; }), "/cameras/1/k3");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"][0]["width"] = 0; }), "/cameras/0/width");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"][3]["camera"] = "front"; }), "/cameras/3/camera");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"].erase(3); }), "/cameras");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["cameras"][0]["f"] = 1e39; }), "/cameras/0/f");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["header"]["model"] = "AVM 1.65 long name"; }), "/header/model");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["multiviews"][0]["name"] = "AVM2D_FULL_VIEW"; }),
                 "/multiviews/0/name");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["multiviews"][0]["lutIds"][1] = 1.5; }), "/multiviews/0/lutIds/1");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["multiviews"][0]["flags"] = -1; }), "/multiviews/0/flags");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["singleviews"][0]["fileName"] = "AVeryLongTableName.bin"; }),
                 "/singleviews/0/fileName");
    // A car image of another size than its view, and one that is not there.
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["carImages"][0]["file"] = "car1.bmp"; }), "/carImages/0/file");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["carImages"][2]["file"] = "missing.png"; }), "/carImages/2/file");
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["carImages"].erase(2); }), "/carImages");
    // Drawn car images: "auto" only, not beside a file, and no style the stitcher would misread.
    EXPECT_PRED2(starts, pointerOf([](auto& j) { j["carImages"][1]["carImage"] = "auto"; }), "/carImages/1/file");
    const auto drawn = [](nlohmann::json& j, const char* key, nlohmann::json value) {
        j["carImages"][1] = {{"slot", 1}, {"carImage", "auto"}};
        j["carImages"][1][key] = value;
    };
    EXPECT_PRED2(starts, pointerOf([&](auto& j) { drawn(j, "carImage", "manual"); }), "/carImages/1/carImage");
    EXPECT_PRED2(starts, pointerOf([&](auto& j) {
                     drawn(j, "vehicleColour", {255, 0, 0});
                 }),
                 "/carImages/1/vehicleColour/0");
    EXPECT_PRED2(starts, pointerOf([&](auto& j) { drawn(j, "seamAngle", 85); }), "/carImages/1/seamAngle");
    EXPECT_PRED2(starts, pointerOf([&](auto& j) { drawn(j, "blendWidth", -2); }), "/carImages/1/blendWidth");
    EXPECT_EQ(pointerOf([&](auto& j) { drawn(j, "blendWidth", 0); }), "(accepted)");

    try {
        configFromJson("{\"header\": ", s.dir.path());
        ADD_FAILURE() << "truncated JSON accepted";
    } catch (const ConfigJsonError& e) {
        EXPECT_EQ(e.pointer(), "");
        EXPECT_NE(std::string(e.what()).find("invalid JSON"), std::string::npos);
    }
    // A number beyond a double is a fault of the text too, not an escaping exception.
    std::string huge = s.json;
    huge.replace(huge.find("\"f\": ") + 5, 0, "1e999, \"g\": ");
    EXPECT_THROW(configFromJson(huge, s.dir.path()), ConfigJsonError);
}

// The real rig's car.png was drawn by its script, pixel by pixel in Python, before config build
// drew maps: the same zone rule and shares, a plainer vehicle. "auto" must agree with it on every
// zone code and on every corner share within 1 (the script rounds halves to even), and neither
// may put a camera code inside the vehicle.
TEST(ConfigJson, DrawnCarImageAgreesWithTheRigsHandDrawnMap) {
    const std::filesystem::path rig = std::filesystem::path(MZ_SOURCE_DIR) / "tests/data/fisheye-rig-960x640/rig";
    std::ifstream in(rig / "config.json");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    nlohmann::json j = nlohmann::json::parse(text);
    j["carImages"][0] = {{"slot", 0}, {"carImage", "auto"}};
    const ConfigFile drawn = configFromJson(j.dump(), rig);
    j["carImages"][0] = {{"slot", 0}, {"file", "car.png"}};
    const ConfigFile drawnByHand = configFromJson(j.dump(), rig);
    const ConfigMultiview& mv = drawn.multiviews[0];
    const std::vector<uint8_t>& a = drawnByHand.carImages[0].pixels;
    const std::vector<uint8_t>& b = drawn.carImages[0].pixels;
    ASSERT_EQ(a.size(), b.size());
    auto key = [](uint8_t v) { return v == 0 || v == 255; };
    int vehicle = 0, shares = 0, worst = 0;
    for (int y = 0; y < mv.height; ++y) {
        for (int x = 0; x < mv.width; ++x) {
            const size_t at = static_cast<size_t>(MZ_ROW_STRIDE24(mv.width)) * y + 3 * x;
            const bool cameraA = key(a[at]) && key(a[at + 1]), cameraB = key(b[at]) && key(b[at + 1]);
            ASSERT_EQ(cameraA, cameraB) << x << "," << y;
            if (!cameraA) {
                ++vehicle;
                continue;
            }
            ASSERT_EQ(a[at], b[at]) << x << "," << y;
            ASSERT_EQ(a[at + 1], b[at + 1]) << x << "," << y;
            if (a[at + 2] != 0) ++shares;
            worst = std::max(worst, std::abs(a[at + 2] - b[at + 2]));
        }
    }
    EXPECT_GT(vehicle, 0);
    EXPECT_GT(shares, 1000);
    EXPECT_LE(worst, 1);
}

TEST(ConfigJson, StrictReaderRefusesWhatCouldNotComeBackTheSame) {
    const std::vector<uint8_t> bytes = encodeConfig(sim::buildConfig(sim::drawRig({})));
    EXPECT_NO_THROW(decodeConfig(bytes));
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_THROW(decodeConfig(longer), std::invalid_argument);
    EXPECT_THROW(decodeConfig(std::span(bytes).first(bytes.size() - 1)), std::invalid_argument);
    std::vector<uint8_t> wrongType = bytes;
    wrongType[kConfigHeaderSize] = 14;  // the first camera record
    EXPECT_THROW(decodeConfig(wrongType), std::invalid_argument);
}

}  // namespace
}  // namespace mz::format
