// The preview's adjustments, settings and view selection on the simulated bay.
#include <gtest/gtest.h>

#include <cstring>

#include "app/core/bowl_view.h"
#include "app/core/quality_summary.h"
#include "app/core/session.h"
#include "format/config_writer.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempDir;

class PreviewTest : public ::testing::Test {
protected:
    void start(const format::ConfigFile& cfg = test::simulatedConfig()) {
        format::writeConfigFile(dir_.path() / "Config.bin", cfg);
        ui_.configAnswers.push_back((dir_.path() / "Config.bin").string());
        ui_.folderAnswers.push_back(test::simulatedBay().string());
        session_.configLoad();
        session_.imageLoad();
        session_.applyAvm();
        ASSERT_TRUE(session_.viewApplied());
        ui_.clearRecords();
    }
    Preview& preview() { return session_.preview(); }
    std::vector<uint8_t> outputBytes() {
        int w = 0, h = 0;
        const auto out = preview().views().output(w, h);
        return {out.begin(), out.end()};
    }
    const CalibAdjust& adjust() { return preview().rig().adjust(); }

    TempDir dir_;
    ScriptedUi ui_;
    Session session_{ui_};
};

TEST_F(PreviewTest, ArrowsTurnWithAFullTopView) {
    start();
    // Slot 0 ("AVM2D_FULL") carries flag 0x8000.
    ASSERT_TRUE(preview().views().context().stitchedParam->flags & 0x8000u);
    const float posX = session_.calibration().cameras[kFront].posX;
    const int updates = ui_.viewUpdates();
    preview().adjuster().adjust(Adjustment::kUp);
    EXPECT_EQ(adjust().shiftX, 20.0f);
    EXPECT_EQ(adjust().shiftY, 0.0f);
    EXPECT_NE(session_.calibration().cameras[kFront].posX, posX);  // calibrated again
    preview().adjuster().adjust(Adjustment::kLeft);
    EXPECT_EQ(adjust().shiftY, 20.0f);
    preview().adjuster().adjust(Adjustment::kZoomIn);
    preview().adjuster().adjust(Adjustment::kZoomIn);
    preview().adjuster().adjust(Adjustment::kZoomOut);
    EXPECT_EQ(adjust().sideHeightOffset, 5.0f);
    preview().adjuster().adjust(Adjustment::kRotatePlus);
    EXPECT_EQ(adjust().rotation, -1.0f);
    EXPECT_EQ(ui_.viewUpdates(), updates + 6);  // one rebuild each

    preview().selectView(1);  // "AVM2D_FRONT": upright
    ASSERT_FALSE(preview().views().context().stitchedParam->flags & 0x8000u);
    preview().adjuster().adjust(Adjustment::kUp);
    preview().adjuster().adjust(Adjustment::kRight);
    EXPECT_EQ(adjust().shiftX, 40.0f);
    EXPECT_EQ(adjust().shiftY, 40.0f);
}

TEST_F(PreviewTest, SingleViewAdjustmentsMoveTheViewRecord) {
    start();
    const int stitched = 3;
    ASSERT_EQ(preview().views().viewList()[stitched + 2], "VIEW_REAR");
    preview().selectView(stitched + 2);
    EXPECT_EQ(preview().views().viewType(), 2);
    const SingleviewParam& sv = *preview().views().context().singleParam;
    EXPECT_EQ(&sv, &session_.calibration().singleviews[2]);
    const float scale = sv.scaleX;
    preview().adjuster().adjust(Adjustment::kZoomIn);
    preview().adjuster().adjust(Adjustment::kZoomIn);
    EXPECT_NEAR(sv.scaleX, scale + 0.2f, 1e-6);
    EXPECT_NEAR(sv.scaleY, scale + 0.2f, 1e-6);
    // Slot 0, the full top view, still turns the arrows: "UP" is (+20, 0).
    preview().adjuster().adjust(Adjustment::kUp);
    EXPECT_EQ(sv.offsetX, 20.0f);
    EXPECT_EQ(sv.offsetY, 0.0f);
    preview().adjuster().adjust(Adjustment::kLeft);
    EXPECT_EQ(sv.offsetY, -20.0f);
    preview().adjuster().adjust(Adjustment::kRotatePlus);
    EXPECT_EQ(sv.rotation, 1.0f);
    EXPECT_EQ(adjust().shiftX, 0.0f);  // the calibration is left alone

    // The overlay view (flag 0x2000) opens the parking line and length controls only.
    EXPECT_TRUE(preview().enabled(PreviewControl::kParkingLineAssistance));
    EXPECT_TRUE(preview().enabled(PreviewControl::kOverallLength));
    EXPECT_FALSE(preview().enabled(PreviewControl::kOverallWidth));
    EXPECT_FALSE(preview().enabled(PreviewControl::kMaskType));
    EXPECT_FALSE(preview().enabled(PreviewControl::kMarkerLength));
    preview().settings().editField(PreviewField::kOverallLength, "4000");
    preview().settings().pressEnter(PreviewField::kOverallLength);
    EXPECT_EQ(sv.vehicleLength, 4000);
    EXPECT_EQ(session_.calibration().multiviews[0].vehicleLength, 4600);

    preview().selectView(stitched);  // VIEW_FRONT: no overlay
    EXPECT_FALSE(preview().enabled(PreviewControl::kParkingLineAssistance));
    EXPECT_FALSE(preview().enabled(PreviewControl::kOverallLength));
}

// Every control follows what the preview shows, however the operator got there: on first
// opening (the configured mask type is "Predefined"), and after a reload while a single view showed.
TEST_F(PreviewTest, ControlsFollowTheShownViewAfterAnyRoad) {
    using C = PreviewControl;
    format::writeConfigFile(dir_.path() / "Config.bin", test::simulatedConfig());
    ui_.configAnswers.push_back((dir_.path() / "Config.bin").string());
    for (C c : {C::kMaskType, C::kUndo}) EXPECT_FALSE(preview().enabled(c));  // nothing loaded
    session_.configLoad();
    auto expectStitchedPredefined = [&] {
        ASSERT_EQ(preview().settings().fields().maskType, 4);
        for (C c : {C::kFrontFov, C::kRearFov, C::kLineWidth, C::kBlendWidth, C::kOverallWidth, C::kOverallLength,
                    C::kColour, C::kLoadCarImage, C::kApply, C::kUndo, C::kResetPose}) {
            EXPECT_FALSE(preview().enabled(c)) << static_cast<int>(c);
        }
        for (C c : {C::kMaskType, C::kShowOverlayBlend, C::kMarkerLength}) {
            EXPECT_TRUE(preview().enabled(c)) << static_cast<int>(c);
        }
    };
    expectStitchedPredefined();

    ui_.folderAnswers.push_back(test::simulatedBay().string());
    session_.imageLoad();
    session_.applyAvm();
    preview().selectView(3 + 2);  // a single view
    EXPECT_FALSE(preview().enabled(C::kMaskType));
    ui_.configAnswers.push_back((dir_.path() / "Config.bin").string());
    session_.configLoad();
    EXPECT_TRUE(preview().views().stitchedShown());
    expectStitchedPredefined();
}

// The operator's steps can be taken back one by one, or all at once to the calibrated pose.
TEST_F(PreviewTest, AdjustmentsAreUndoneAndResetToTheCalibratedPose) {
    start();
    const std::array<CameraParam, kCameraCount> calibrated = session_.calibration().cameras;
    auto poseIsCalibrated = [&] {
        for (int c = 0; c < kCameraCount; ++c) {
            const CameraParam& now = session_.calibration().cameras[c];
            EXPECT_EQ(now.posX, calibrated[c].posX) << c;
            EXPECT_EQ(now.posZ, calibrated[c].posZ) << c;
            EXPECT_EQ(now.rotY, calibrated[c].rotY) << c;
        }
    };
    const std::vector<uint8_t> applied = outputBytes();
    preview().adjuster().adjust(Adjustment::kUp);
    preview().adjuster().adjust(Adjustment::kRotatePlus);
    EXPECT_TRUE(preview().enabled(PreviewControl::kUndo));
    EXPECT_TRUE(preview().enabled(PreviewControl::kResetPose));
    EXPECT_EQ(adjustmentText(adjust()), "shift 20 / 0 mm, turn -1.0 deg, side height +0 mm");
    ASSERT_TRUE(preview().adjuster().undo());
    EXPECT_EQ(adjust().rotation, 0.0f);
    EXPECT_EQ(adjust().shiftX, 20.0f);
    ASSERT_TRUE(preview().adjuster().undo());
    poseIsCalibrated();
    EXPECT_EQ(outputBytes(), applied);
    EXPECT_FALSE(preview().adjuster().undo());

    preview().adjuster().adjust(Adjustment::kZoomIn);
    preview().adjuster().adjust(Adjustment::kLeft);
    preview().adjuster().resetToCalibrated();
    EXPECT_EQ(adjustmentText(adjust()), "none");
    EXPECT_FALSE(preview().enabled(PreviewControl::kResetPose));
    poseIsCalibrated();
    EXPECT_EQ(outputBytes(), applied);
    ASSERT_TRUE(preview().adjuster().undo());  // the reset itself is a step
    EXPECT_EQ(adjust().shiftY, 20.0f);
}

// The panel shows the refinement report's own figures, "-" where it has none, and names what
// made the verdict poor.
TEST(QualitySummaryTest, FiguresAreTheReports) {
    EXPECT_FALSE(summarizeQuality(refine::RefinementReport{}).available);
    refine::RefinementReport r;
    r.ran = true;
    r.good = false;
    r.rig.after.cameras[1] = {0.456, 2.346, 4, {}, 12.34, 0.0123, -1, 0.5};
    r.rig.after.seams[2].cameraA = 1;
    r.rig.after.seams[2].cameraB = 3;
    r.rig.after.seams[2].maxGapMm = 7.25;
    r.rig.after.seams[2].predictedP95Mm = 23.6;
    r.rig.after.seams[3].predictedP95Mm = -1;
    r.rig.dropped.push_back({2, 4, 5.31, 9});
    r.warnings = {"LEFT camera, corner 5: re-take the LEFT picture"};
    const QualitySummary q = summarizeQuality(r);
    ASSERT_TRUE(q.available);
    EXPECT_FALSE(q.good);
    EXPECT_EQ(q.verdict.rfind("Quality: poor", 0), 0u);
    EXPECT_EQ(q.cameras[1].label, "REAR");
    EXPECT_EQ(q.cameras[1].cells,
              (std::vector<std::string>{"0.46", "2.35 (corner 5)", "+-12.3", "+-0.012", "-", "+-0.500"}));
    EXPECT_EQ(q.seams[2].label, "T3 REAR/RIGHT");
    EXPECT_EQ(q.seams[2].cells, (std::vector<std::string>{"24", "7.2"}));
    EXPECT_EQ(q.seams[3].cells[0], "-");
    EXPECT_EQ(q.warnings, r.warnings);
    EXPECT_EQ(q.dropped, std::vector<std::string>{"LEFT camera, corner 5: 5.3 px off, left out of the rig"});
}

TEST_F(PreviewTest, SelectingTheSameEntryAgainDoesNothing) {
    start();
    const int updates = ui_.viewUpdates();
    preview().selectView(0);
    EXPECT_EQ(ui_.viewUpdates(), updates);
    preview().selectView(2);
    EXPECT_EQ(preview().views().currentEntry(), 2);
    EXPECT_EQ(preview().views().context().stitchedSlot, 2);
    EXPECT_EQ(preview().views().viewList().size(), 3u + 6u + 1u);  // the single views stay listed, then the bowl
    int w = 0, h = 0;
    preview().views().output(w, h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 480);
}

TEST_F(PreviewTest, MaskTypeDecidesTheEnabledControls) {
    start();
    using C = PreviewControl;
    struct Row {
        int mask;
        bool vehicle, frontFov, rearFov, lineWidth;
    };
    for (const Row& r :
         {Row{0, true, false, false, false}, Row{1, true, true, true, false}, Row{2, true, true, true, true},
          Row{3, true, true, true, true}, Row{4, false, false, false, false}}) {
        preview().settings().changeMaskType(r.mask);
        for (C c : {C::kOverallWidth, C::kOverallLength, C::kColour, C::kLoadCarImage}) {
            EXPECT_EQ(preview().enabled(c), r.vehicle) << r.mask;
        }
        EXPECT_EQ(preview().enabled(C::kFrontFov), r.frontFov) << r.mask;
        EXPECT_EQ(preview().enabled(C::kRearFov), r.rearFov) << r.mask;
        EXPECT_EQ(preview().enabled(C::kLineWidth), r.lineWidth) << r.mask;
        EXPECT_FALSE(preview().enabled(C::kBlendWidth)) << r.mask;
        EXPECT_EQ(preview().views().context().stitchedParam->blendMode, r.mask);
    }
    EXPECT_FALSE(preview().enabled(C::kApply));

    preview().settings().changeMaskType(2);
    preview().settings().editField(PreviewField::kFrontFov, "120");
    preview().settings().editField(PreviewField::kLineWidth, "7");
    preview().settings().setColour(0x00332211);
    preview().settings().pressEnter(PreviewField::kFrontFov);
    const MultiviewParam& mv = *preview().views().context().stitchedParam;
    EXPECT_EQ(mv.frontFov, 120.0f);
    EXPECT_EQ(mv.lineWidth, 7);
    EXPECT_EQ(mv.vehicleColour, 0x00332211u);

    preview().settings().setShowOverlayBlend(true);
    EXPECT_TRUE(mv.flags & 0x4000u);
    preview().settings().setShowOverlayBlend(false);
    EXPECT_FALSE(mv.flags & 0x4000u);

    preview().settings().editField(PreviewField::kOverallWidth, "1900");
    preview().settings().pressEnter(PreviewField::kOverallWidth);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(session_.calibration().multiviews[i].vehicleWidth, 1900);
}

TEST_F(PreviewTest, MarkerLengthEnteredDuringARebuildOnlyChangesTheField) {
    start();
    const CameraParam before = session_.calibration().cameras[kFront];
    int nested = 0;
    ui_.onViewUpdated = [&] {
        if (nested++ > 0) return;
        preview().settings().editField(PreviewField::kMarkerLength, "500");
        preview().settings().pressEnter(PreviewField::kMarkerLength);
        preview().adjuster().adjust(Adjustment::kUp);
    };
    preview().selectView(1);
    ui_.onViewUpdated = nullptr;
    EXPECT_EQ(preview().settings().fields().markerLength, 500);
    EXPECT_EQ(nested, 1);  // no second rebuild ran
    EXPECT_EQ(adjust().shiftX, 0.0f);
    EXPECT_EQ(adjust().shiftY, 0.0f);
    EXPECT_EQ(session_.calibration().cameras[kFront].posZ, before.posZ);

    // Outside a rebuild the same entry recalibrates with the new size.
    preview().settings().pressEnter(PreviewField::kMarkerLength);
    EXPECT_NE(session_.calibration().cameras[kFront].posZ, before.posZ);
}

TEST_F(PreviewTest, CarPictureIsPlacedThenApplied) {
    start();
    preview().settings().changeMaskType(0);  // "Predefined" keeps the configured car picture
    ui_.clearRecords();
    preview().car().apply();
    EXPECT_EQ(ui_.messageTexts(), std::vector<std::string>{"Please select the car image. !!"});
    EXPECT_EQ(ui_.messages()[0].icon, MessageIcon::kWarning);

    test::writeBytes(dir_.path() / "car8.bmp", test::makeBmp(20, 40, 8, false, [](int, int) { return 3u; }));
    ui_.fileAnswers.push_back((dir_.path() / "car8.bmp").string());
    ui_.clearRecords();
    preview().car().load();
    EXPECT_EQ(ui_.messageTexts(), std::vector<std::string>{"This image format is not supported."});
    EXPECT_FALSE(preview().car().placed());

    test::writeBytes(dir_.path() / "car.dat", test::makeBmp(20, 40, 24, false, [](int, int) { return 0x808080u; }));
    ui_.fileAnswers.push_back((dir_.path() / "car.dat").string());
    preview().car().load();
    ASSERT_TRUE(preview().car().placed());
    EXPECT_EQ(preview().car().placed()->width, 20);
    EXPECT_TRUE(preview().enabled(PreviewControl::kApply));
    preview().car().place(300, 200, 40, 80);
    preview().car().apply();
    EXPECT_FALSE(preview().car().placed());
    EXPECT_FALSE(preview().enabled(PreviewControl::kApply));

    // Taken off the canvas before "Apply": nothing goes into the view, the operator is told so.
    ui_.fileAnswers.push_back((dir_.path() / "car.dat").string());
    preview().car().load();
    preview().car().remove();
    ui_.clearRecords();
    preview().car().apply();
    EXPECT_EQ(ui_.messageTexts(), std::vector<std::string>{"Please select the car image. !!"});
    EXPECT_FALSE(preview().enabled(PreviewControl::kApply));
}

TEST_F(PreviewTest, OverlayPictureOfTheParkingLineView) {
    start();
    // On a stitched view the button only says where it works.
    preview().parkingLine().assist();
    EXPECT_EQ(ui_.messageTexts(), std::vector<std::string>{kParkingLineOnStitched});
    EXPECT_TRUE(ui_.fileRequests().empty());
    ui_.clearRecords();

    preview().selectView(3 + 2);  // VIEW_REAR, flag 0x2000
    test::writeBytes(dir_.path() / "guide8.bmp", test::makeBmp(64, 32, 8, false, [](int, int) { return 1u; }));
    test::writeBytes(dir_.path() / "guide.bmp",
                     test::makeBmp(64, 32, 24, false, [](int x, int) { return x < 32 ? 0x00FF00u : 0u; }));
    ui_.fileAnswers.push_back((dir_.path() / "guide8.bmp").string());
    ui_.fileAnswers.push_back((dir_.path() / "guide.bmp").string());
    preview().parkingLine().assist();
    preview().parkingLine().assist();
    EXPECT_EQ(ui_.messageTexts(), std::vector<std::string>{"This image format is not supported."});
    EXPECT_EQ(ui_.fileRequests()[0].filter, "bmp Files (*.bmp)|*.bmp|All Files (*.*)|*.*||");
}

TEST(PreviewMessageTest, CalibrationFailureNamesTheCamera) {
    EXPECT_EQ(calibrationFailureMessage(-3),
              "Appropriate answer is not found (LEFT camera). Confirm the config file and pointing.");
    EXPECT_EQ(calibrationFailureMessage(-1),
              "Appropriate answer is not found (FRONT camera). Confirm the config file and pointing.");
    EXPECT_EQ(calibrationFailureMessage(-5),
              "Appropriate answer is not found (ALL camera). Confirm the config file and pointing.");
}

}  // namespace
}  // namespace mz::core

namespace mz::core {
namespace {

// The bowl view is a look: it is the command line's rendering of the same calibration, it moves
// with the operator's hand, and nothing the saved files are made of changes while it is shown.
TEST_F(PreviewTest, BowlViewIsTheCommandLinesRenderingAndOnlyALook) {
    start();
    preview().selectView(3);  // a single view first: the bowl must not adjust it from behind
    const SingleviewParam single = *preview().views().context().singleParam;
    const auto records = [this] {
        const CalibrationState& s = session_.calibration();
        std::vector<uint8_t> bytes;
        auto add = [&bytes](const auto& r) {
            const auto* p = reinterpret_cast<const uint8_t*>(&r);
            bytes.insert(bytes.end(), p, p + sizeof r);
        };
        for (const MultiviewParam& m : s.multiviews) add(m);
        for (const SingleviewParam& v : s.singleviews) add(v);
        for (const CameraParam& c : s.cameras) add(c);
        return bytes;
    };
    const std::vector<uint8_t> before = records();

    const int entry = preview().views().bowlEntry();
    ASSERT_EQ(preview().views().viewList().back(), kBowlViewName);
    preview().selectView(entry);
    ASSERT_TRUE(preview().views().bowlShown());
    for (int c = 0; c < static_cast<int>(PreviewControl::kCount); ++c) {
        const auto control = static_cast<PreviewControl>(c);
        EXPECT_EQ(preview().enabled(control), control == PreviewControl::kBowlPreset) << c;
    }
    int w = 0, h = 0;
    std::vector<uint8_t> shown = outputBytes();
    preview().views().output(w, h);
    ASSERT_EQ(w, kBowlPreviewWidth);
    ASSERT_EQ(h, kBowlPreviewHeight);
    BowlRequest request;
    request.width = w;
    request.height = h;
    request.shape = defaultBowlShape(bayExtent(session_.calibration()));
    request.eye = presetEye(*findBowlPreset("rear-left"), request.shape);
    std::array<const uint8_t*, kCameraCount> pictures{};
    for (int c = 0; c < kCameraCount; ++c) pictures[c] = preview().views().pictures()[c].data();
    EXPECT_EQ(shown, renderBowl(session_.calibration(), request, pictures).picture);

    // A drag's frames are drafts; its end is drawn whole, from where the eye went.
    preview().orbitBowl(120, -40, true);
    preview().views().output(w, h);
    EXPECT_EQ(w, kBowlPreviewWidth / kBowlDraftDivisor);
    EXPECT_TRUE(preview().views().bowl().preset().empty());
    preview().orbitBowl(0, 0, false);
    EXPECT_NE(outputBytes(), shown);
    EXPECT_TRUE(preview().showBowlPreset("rear-left"));
    EXPECT_EQ(outputBytes(), shown);
    EXPECT_FALSE(preview().showBowlPreset("nowhere"));
    // From straight above, a drag brings the eye down behind the vehicle.
    EXPECT_TRUE(preview().showBowlPreset("top"));
    preview().orbitBowl(0, 0, false);
    EXPECT_EQ(preview().views().bowl().azimuth(), 180);

    for (int a = 0; a < 8; ++a) preview().adjuster().adjust(static_cast<Adjustment>(a));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(std::memcmp(&single, preview().views().context().singleParam, sizeof single), 0);
    EXPECT_EQ(adjust().shiftX, 0.0f);
    EXPECT_FALSE(preview().enabled(PreviewControl::kUndo));

    preview().selectView(0);
    EXPECT_FALSE(preview().views().bowlShown());
    EXPECT_TRUE(preview().enabled(PreviewControl::kAdjustment));
    EXPECT_FALSE(preview().enabled(PreviewControl::kBowlPreset));
}

}  // namespace
}  // namespace mz::core
