// What a station checks before it records or accepts a run: the names it records a run under
// and the solved poses against the vehicle's design.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "station/identity.h"
#include "station/profile.h"

namespace mz::station {
namespace {

std::string identityProblem(const std::string& text) { return checkIdentityText(text, "--vehicle").value_or(""); }

TEST(StationIdentity, OnlyPrintableTextOfSensibleLengthIsRecorded) {
    EXPECT_EQ(identityProblem("WVWZZZ1JZXW000001"), "");
    EXPECT_EQ(identityProblem("Werk 2 / Linie 3: J\xc3\xbcrgen"), "");
    EXPECT_EQ(identityProblem(""), "") << "the identity is optional";
    EXPECT_EQ(identityProblem(std::string(kIdentityMaxCharacters, 'A')), "");

    EXPECT_EQ(identityProblem("WVW\x07ZZZ"),
              "--vehicle holds a control character (U+0007) at character 4; only printable text can be recorded");
    EXPECT_EQ(identityProblem("VIN\n2"),
              "--vehicle holds a control character (U+000A) at character 4; only "
              "printable text can be recorded");
    EXPECT_EQ(identityProblem("x\xc2\x9b"
                              "2J"),
              "--vehicle holds a control character (U+009B) at character 2; "
              "only printable text can be recorded");
    EXPECT_EQ(identityProblem(std::string(10000, 'A')),
              "--vehicle is 10000 characters long; at most 64 can be recorded");
    // Counted in characters, not bytes.
    std::string umlauts;
    for (size_t i = 0; i < kIdentityMaxCharacters; ++i) umlauts += "\xc3\xbc";
    EXPECT_EQ(identityProblem(umlauts), "");
    EXPECT_EQ(identityProblem("VIN\xff"), "--vehicle is not UTF-8 text (a broken byte sequence at byte 4)");
    EXPECT_EQ(identityProblem("VIN\xc3"), "--vehicle is not UTF-8 text (a broken byte sequence at byte 4)");
    EXPECT_EQ(identityProblem("\xc0\xaf"), "--vehicle is not UTF-8 text (a broken byte sequence at byte 1)")
        << "an overlong form";
    EXPECT_EQ(identityProblem(" VIN"), "--vehicle \" VIN\" starts or ends with a space");
}

nlohmann::json profileJson() {
    nlohmann::json cameras;
    const double headings[] = {0, 180, 90, -90};
    for (int c = 0; c < kStationCameras; ++c) {
        cameras[kStationCameraKeys[c]] = {{"x", {{"design", 0}, {"tolerance", 100}}},
                                          {"y", {{"design", 0}, {"tolerance", 3000}}},
                                          {"height", {{"design", 900}, {"tolerance", 200}}},
                                          {"tilt", {{"design", 45}, {"tolerance", 3}}},
                                          {"roll", {{"design", 0}, {"tolerance", 3}}},
                                          {"heading", {{"design", headings[c]}, {"tolerance", 3}}}};
    }
    cameras["left"]["check"] = "the mirror mount";
    return {{"name", "test vehicle"}, {"cameras", cameras}};
}

std::string profileProblem(nlohmann::json j) {
    try {
        parseProfile(j.dump(), "p.json");
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(StationProfile, MissingOrAbsurdValuesAreNamed) {
    EXPECT_EQ(profileProblem(profileJson()), "");
    nlohmann::json j = profileJson();
    j["cameras"]["left"].erase("tilt");
    EXPECT_EQ(profileProblem(j), "p.json: cameras.left: no \"tilt\"");
    j = profileJson();
    j["cameras"]["rear"]["height"].erase("tolerance");
    EXPECT_EQ(profileProblem(j), "p.json: cameras.rear.height: no \"tolerance\"");
    j = profileJson();
    j["cameras"].erase("right");
    EXPECT_EQ(profileProblem(j), "p.json: cameras: no \"right\"");
    j = profileJson();
    j["cameras"]["front"]["height"]["tolerance"] = 0;
    EXPECT_EQ(profileProblem(j), "p.json: cameras.front.height.tolerance 0 must lie above 0 and at most 5000 mm");
    j = profileJson();
    j["cameras"]["front"]["tilt"]["design"] = 4500;
    EXPECT_EQ(profileProblem(j), "p.json: cameras.front.tilt.design 4500 outside -360..360 deg");
    j = profileJson();
    j["cameras"]["front"]["height"]["design"] = 100;
    EXPECT_EQ(profileProblem(j), "p.json: cameras.front.height: design minus tolerance lies below the floor");
    j = profileJson();
    j["cameras"]["front"]["roll"]["design"] = "0";
    EXPECT_EQ(profileProblem(j), "p.json: cameras.front.roll.design is not a number");
    j = profileJson();
    j["cameras"]["front"]["tilit"] = j["cameras"]["front"]["tilt"];
    EXPECT_EQ(profileProblem(j),
              "p.json: cameras.front: unknown key \"tilit\" (x, y, height, tilt, roll, heading, check)");
    EXPECT_EQ(profileProblem(nlohmann::json::array()), "p.json: not a JSON object");
}

TEST(StationProfile, APoseOutsideIsToldInTheOperatorsWordsAndHeadingsWrap) {
    const StationProfile profile = parseProfile(profileJson().dump(), "p.json");
    std::array<PoseValues, kStationCameras> poses{};
    //                x     y      height tilt  roll  heading
    poses[0] = {20, 2300, 850, 46, 0.5, 359};      // heading 359 is 1 deg off 0
    poses[1] = {-20, -2300, 950, 43, -1, -178.7};  // -178.7 is 1.3 deg off 180
    poses[2] = {-60, 300, 1000, 52.1, 0, 89};
    poses[3] = {150, 300, 1000, 45, 0, -93.5};
    const auto checks = checkTolerances(profile, poses);
    EXPECT_TRUE(checks[0].within);
    EXPECT_TRUE(checks[1].within) << (checks[1].outside.empty() ? "" : checks[1].outside[0]);
    ASSERT_FALSE(checks[2].within);
    EXPECT_EQ(checks[2].outside, std::vector<std::string>{"LEFT camera tilt 52.1 deg, design 45 +- 3 deg: check the "
                                                          "mirror mount"});
    EXPECT_EQ(checks[3].outside, (std::vector<std::string>{"RIGHT camera x position 150 mm, design 0 +- 100 mm",
                                                           "RIGHT camera heading -93.5 deg, design -90 +- 3 deg"}));
}

}  // namespace
}  // namespace mz::station
