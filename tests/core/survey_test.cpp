// Calibration from surveyed floor points: poses read off the pairs in the calibration's
// conventions, the refusals of unusable pairs, and a survey run that saves the tables.
#include "app/core/survey.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/core/session.h"
#include "sim/rig.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

// The simulator's survey of a camera as the survey reader would hand it on.
std::vector<SurveyPair> surveyOf(const sim::Camera& camera) {
    std::vector<SurveyPair> pairs;
    for (const sim::SurveyPoint& p : sim::surveyGrid(camera))
        pairs.push_back({{static_cast<float>(p.pixel.x), static_cast<float>(p.pixel.y)},
                         {static_cast<float>(p.floor.x), static_cast<float>(p.floor.y)}});
    return pairs;
}

TEST(Survey, PoseOfTheSimulatedCamerasInTheCalibrationsConventions) {
    const sim::Rig& rig = test::simulatedRig();
    for (int c = 0; c < kCameraCount; ++c) {
        const sim::Camera& truth = rig.cameras[c];
        const CameraParam record = sim::cameraRecord(truth);
        const std::vector<SurveyPair> pairs = surveyOf(truth);
        ASSERT_GE(pairs.size(), 6u) << c;
        const SurveyPose pose = surveyPose(record, pairs);
        EXPECT_NEAR(pose.posX, truth.position.x, 5) << c;
        EXPECT_NEAR(pose.posY, truth.position.y, 5) << c;
        EXPECT_NEAR(pose.posZ, truth.position.z, 5) << c;
        EXPECT_NEAR(pose.rotX, truth.tiltDeg, 0.1) << c;
        // The calibration turns heading (counter-clockwise) and roll the other way round from the simulator.
        EXPECT_NEAR(std::remainder(pose.rotY + truth.headingDeg, 360.0), 0.0, 0.1) << c;
        EXPECT_NEAR(pose.rotZ, -truth.rollDeg, 0.1) << c;
        EXPECT_LT(pose.worstPx, 0.5) << c;
    }
}

TEST(Survey, UnusablePairsAreNamed) {
    const sim::Rig& rig = test::simulatedRig();
    std::array<CameraParam, kCameraCount> cameras;
    Survey good;
    for (int c = 0; c < kCameraCount; ++c) {
        cameras[c] = sim::cameraRecord(rig.cameras[c]);
        good[c] = surveyOf(rig.cameras[c]);
    }
    EXPECT_TRUE(checkSurvey(good, cameras).empty());
    const auto problems = [&](const std::function<void(Survey&)>& change) {
        Survey s = good;
        change(s);
        const std::vector<std::string> p = checkSurvey(s, cameras);
        return p.empty() ? std::string("(none)") : p.front();
    };
    EXPECT_EQ(problems([](Survey& s) { s[kRear].resize(3); }), "REAR: 3 surveyed pairs; 4 to 50 are needed.");
    EXPECT_NE(problems([](Survey& s) {
                  s[kLeft][2].image = {-3, 100};
              }).find("LEFT pair 3: picture point"),
              std::string::npos);
    EXPECT_NE(problems([](Survey& s) {
                  s[kRight][4].image = s[kRight][1].image;
              }).find("RIGHT pair 5: same picture point as pair 2"),
              std::string::npos);
    EXPECT_NE(problems([](Survey& s) {
                  s[kFront][3].floor = s[kFront][0].floor;
              }).find("FRONT pair 4: same floor point as pair 1"),
              std::string::npos);
    // Floor points along one line, and four pairs three of which are in line.
    EXPECT_NE(problems([](Survey& s) {
                  for (size_t i = 0; i < s[kFront].size(); ++i) s[kFront][i].floor = {100.0f * i, 3000.0f + 50.0f * i};
              }).find("FRONT: the surveyed floor points lie on one line"),
              std::string::npos);
    EXPECT_NE(problems([](Survey& s) {
                  s[kRear].resize(4);
                  s[kRear][1].floor = {(s[kRear][0].floor.x + s[kRear][2].floor.x) / 2,
                                       (s[kRear][0].floor.y + s[kRear][2].floor.y) / 2};
              }).find("REAR: the surveyed floor points lie on one line (or three of the four do)"),
              std::string::npos);
    // A lens record that gives no angle (an overflowing polynomial, here a NaN) is named, not
    // turned into a number of degrees.
    cameras[kLeft].c0 = std::nanf("");
    EXPECT_EQ(problems([](Survey&) {}),
              "LEFT pair 1: the camera's lens record gives no angle for the picture point; "
              "a floor point must lie within 89 degrees of the lens axis.");
    // A flat angle polynomial sends every picture point along the axis: no pose, said before the
    // rig is built.
    cameras[kLeft].c0 = 0;
    for (float* k : {&cameras[kLeft].c1, &cameras[kLeft].c2, &cameras[kLeft].c3, &cameras[kLeft].c4, &cameras[kLeft].c5,
                     &cameras[kLeft].c6, &cameras[kLeft].c7, &cameras[kLeft].c8})
        *k = 0;
    EXPECT_EQ(problems([](Survey&) {}),
              "LEFT: the camera's lens record turns the surveyed picture points into "
              "directions from which no pose can be found; check its lens fields.");

    EXPECT_THROW(parseSurvey(R"({"frnt": []})"), std::runtime_error);
    EXPECT_THROW(parseSurvey(R"({"front": [{"image": [1, 2]}]})"), std::runtime_error);
}

TEST(Survey, SessionBuildsAndSavesTheViewFromThePairsThenGoesBackToThePattern) {
    test::ScriptedUi ui;
    ui.configAnswers.push_back((test::simulatedBay() / "Config.bin").string());
    SessionOptions options;
    options.detectOnLoad = false;
    Session session(ui, options);
    session.configLoad();
    ui.folderAnswers.push_back(test::simulatedBay().string());
    ASSERT_TRUE(session.imageLoad().done());
    EXPECT_FALSE(session.detection().running());

    Survey survey;
    for (int c = 0; c < kCameraCount; ++c) survey[c] = surveyOf(test::simulatedRig().cameras[c]);
    Survey tooFew = survey;
    tooFew[kLeft].resize(2);
    EXPECT_EQ(session.applySurvey(tooFew).status, CommandStatus::kRefused);
    EXPECT_NE(ui.messageTexts().back().find("LEFT: 2 surveyed pairs"), std::string::npos);

    const ApplyAvmResult applied = session.applySurvey(survey);
    ASSERT_TRUE(applied.done());
    EXPECT_FALSE(applied.calibration.has_value());
    const CameraParam& front = session.calibration().cameras[kFront];
    EXPECT_EQ(front.pointCount, static_cast<int32_t>(survey[kFront].size()));
    EXPECT_EQ(front.worldPoints[0].y, -survey[kFront][0].floor.y);
    EXPECT_NEAR(front.posZ, test::simulatedRig().cameras[kFront].position.z, 5);

    test::TempDir out;
    ui.folderAnswers.push_back(out.path().string());
    EXPECT_TRUE(session.saveLut().done());

    // "Apply AVM" afterwards calibrates from the pattern's six points again.
    session.applyAvm();
    EXPECT_EQ(front.pointCount, kPatternPointCount);
    EXPECT_EQ(front.imagePoints, session.calibration().imagePoints[kFront].data());
}

}  // namespace
}  // namespace mz::core
