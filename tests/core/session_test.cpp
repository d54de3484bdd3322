// The guards and failure rows of the main window's commands and of "Save LUT".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>

#include "app/core/session.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/config_writer.h"
#include "format/output_set.h"
#include "station/checksum.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempDir;
using Texts = std::vector<std::string>;

std::string writeConfigTo(const TempDir& dir, const format::ConfigFile& cfg, const char* name = "Config.bin") {
    const fs::path path = dir.path() / name;
    format::writeConfigFile(path, cfg);
    return path.string();
}

// A small installation of w x h cameras with black pictures in `dir`/image.
format::ConfigFile smallConfig(int w, int h) {
    format::ConfigFile cfg = test::simulatedConfig();
    for (format::ConfigCamera& cam : cfg.cameras) {
        cam.width = w;
        cam.height = h;
        cam.cx = w / 2.0f;
        cam.cy = h / 2.0f;
    }
    cfg.multiviews.resize(1);
    cfg.carImages.resize(1);
    cfg.multiviews[0].width = 64;
    cfg.multiviews[0].height = 48;
    cfg.multiviews[0].centreX = 32;
    cfg.multiviews[0].centreY = 24;
    cfg.carImages[0].pixels.assign(static_cast<size_t>(format::paddedImageSize(64, 48)), 0);
    cfg.singleviews.clear();
    return cfg;
}

void writeBlackImages(const TempDir& dir, int w, int h) {
    fs::create_directories(dir.path() / "image");
    const auto black = test::makeBmp(w, h, 24, false, [](int, int) { return 0u; });
    for (const char* name : kDefaultImageNames) test::writeBytes(dir.path() / name, black);
}

SessionOptions fixedDate() {
    SessionOptions o;
    o.saveDate = format::FlashDate{2026, 12, 6};
    return o;
}

// A session through "Apply AVM" on the simulated bay (with an optionally changed configuration).
struct AppliedSession {
    TempDir dir;
    ScriptedUi ui;
    Session session{ui, fixedDate()};

    explicit AppliedSession(const format::ConfigFile& cfg = test::simulatedConfig()) {
        ui.configAnswers.push_back(writeConfigTo(dir, cfg));
        ui.folderAnswers.push_back(test::simulatedBay().string());
        session.configLoad();
        session.imageLoad();
        session.applyAvm();
        ui.clearRecords();
    }
};

TEST(SessionTest, CommandsBeforeAConfigurationAskForOne) {
    ScriptedUi ui;
    Session session(ui);
    session.imageLoad();
    session.applyAvm();
    EXPECT_EQ(ui.messageTexts(), (Texts{"First select a configure file.", "First select a configure file."}));
    EXPECT_EQ(ui.messages()[0].title, "Ovantis Calibration Tool");
    EXPECT_EQ(ui.messages()[0].icon, MessageIcon::kError);
    EXPECT_TRUE(ui.folderRequests().empty());
    EXPECT_TRUE(ui.fileRequests().empty());
    session.saveLut();
    EXPECT_EQ(ui.messageTexts().back(), "First click the \"Apply AVM\" button! ");
}

TEST(SessionTest, ConfigurationChooserAndReaderFailures) {
    TempDir dir;
    ScriptedUi ui;
    Session session(ui);

    // Closed without "Load": nothing happens.
    session.configLoad();
    EXPECT_TRUE(session.configPath().empty());
    EXPECT_TRUE(ui.messages().empty());

    ui.configAnswers.push_back((dir.path() / "missing.bin").string());
    session.configLoad();
    EXPECT_EQ(ui.messageTexts(), Texts{"Config File error!"});
    // The chooser opens with the last path.
    ui.configAnswers.push_back(std::nullopt);
    session.configLoad();
    EXPECT_EQ(ui.configRequests().back(), (dir.path() / "missing.bin").string());

    std::vector<uint8_t> bytes = format::encodeConfig(test::simulatedConfig());
    bytes[20] = 3;
    test::writeBytes(dir.path() / "header.bin", bytes);
    ui.clearRecords();
    ui.configAnswers.push_back((dir.path() / "header.bin").string());
    session.configLoad();
    EXPECT_EQ(ui.messageTexts(), (Texts{"Config file header error!", "Config File error!"}));
    EXPECT_EQ(session.calibration().modelCode, -1);
    EXPECT_EQ(ui.look(Button::kConfigLoad), ButtonLook::kInitial);
}

// "Config Load" of damaged files goes on to set up the views: sizes, counts and lengths set to
// extreme values must end in a message or a refused view, never in a crash or a huge allocation.
TEST(SessionTest, ConfigLoadSurvivesDamagedFiles) {
    format::ConfigFile cfg = smallConfig(64, 48);
    for (format::ConfigSingleview sv : test::simulatedConfig().singleviews) {
        if (cfg.singleviews.size() == 2) break;
        sv.width = 32;
        sv.height = 24;
        sv.centreX = 16;
        sv.centreY = 12;
        cfg.singleviews.push_back(sv);
    }
    const std::vector<uint8_t> good = format::encodeConfig(cfg);
    const int32_t extremes[] = {0, -1, INT32_MAX, INT32_MIN, 0x10000, 100000, 0x4F000000, 0x7F800000};
    std::mt19937 rng(7);
    TempDir dir;
    ScriptedUi ui;
    Session session(ui);
    const std::string path = (dir.path() / "Config.bin").string();
    for (int trial = 0; trial < 240; ++trial) {
        std::vector<uint8_t> bytes = good;
        if (trial % 2 == 0) {
            const size_t word = rng() % (bytes.size() / 4);
            const int32_t v = extremes[rng() % std::size(extremes)];
            std::memcpy(bytes.data() + 4 * word, &v, 4);
        } else {
            for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n)
                bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        test::writeBytes(path, bytes);
        ui.configAnswers.push_back(path);
        session.configLoad();
    }
    // And the session still works with a good file.
    test::writeBytes(path, good);
    ui.clearRecords();
    ui.configAnswers.push_back(path);
    session.configLoad();
    EXPECT_TRUE(ui.messageTexts().empty());
    EXPECT_EQ(session.calibration().modelCode, 165);
}

// Values the layout does not guard but the engines depend on: refused at Config Load with the
// record and the field named, before any view is set up.
TEST(SessionTest, ConfigLoadNamesTheRecordAndFieldOfAnUnusableValue) {
    using Edit = std::function<void(format::ConfigFile&)>;
    const std::pair<Edit, const char*> cases[] = {
        {[](format::ConfigFile& c) { c.cameras[2].fx = 0; }, "camera record 12 (LEFT): fx is 0"},
        {[](format::ConfigFile& c) { c.cameras[0].k[0] = std::nanf(""); },
         "camera record 10 (FRONT): k1 is not a number"},
        {[](format::ConfigFile& c) { c.cameras[1].k = {}; }, "camera record 11 (REAR): k1..k5 are all 0"},
        {[](format::ConfigFile& c) { c.multiviews[0].mmPerPixel = 0; },
         "(AVM2D_FULL): the ground scale (mm per pixel) is 0"},
        {[](format::ConfigFile& c) { c.singleviews[1].width = 0; }, "single view record 2 (Frontfv.bin): width is 0"},
        {[](format::ConfigFile& c) { c.singleviews[1].height = 100000; }, "height is 100000"},
        {[](format::ConfigFile& c) { c.singleviews[1].lutId = c.singleviews[0].lutId; },
         "is given to both Lut/Frontvw.bin and Lut/Frontfv.bin"},
        {[](format::ConfigFile& c) { c.singleviews[0].lutId = c.multiviews[0].lutIds[2] + 0x10000; },
         "the identifier of Lut/Frontvw.bin is 65539 (0..65535"},
        {[](format::ConfigFile& c) { c.multiviews[0].mmPerPixel = -14; }, "(mm per pixel) is -14"},
        {[](format::ConfigFile& c) { c.multiviews[0].vehicleWidth = -1850; }, "vehicleWidth is -1850 mm"},
        {[](format::ConfigFile& c) { c.multiviews[1].centreY = 3.4e38f; }, "(AVM2D_FRONT): centreY is 3.4e+38"},
        {[](format::ConfigFile& c) { c.cameras[1].width = 640; },
         "camera record 11 (REAR): width is 640, the FRONT camera's 720"},
        {[](format::ConfigFile& c) { c.singleviews[2].fileName = "../Frontvw.bin"; },
         "fileName \"../Frontvw.bin\" is not a plain file name"},
        {[](format::ConfigFile& c) {
             for (format::ConfigMultiview& mv : c.multiviews) mv.markerLength = 0;
         },
         "the marker length is 0 mm"},
    };
    TempDir dir;
    for (const auto& [edit, expected] : cases) {
        SCOPED_TRACE(expected);
        format::ConfigFile cfg = test::simulatedConfig();
        edit(cfg);
        ScriptedUi ui;
        Session session(ui);
        ui.configAnswers.push_back(writeConfigTo(dir, cfg));
        const ConfigLoadResult result = session.configLoad();
        EXPECT_EQ(result.status, CommandStatus::kFailed);
        EXPECT_EQ(ui.messageTexts(), Texts{"Config File error!"});
        EXPECT_NE(result.detail.find(expected), std::string::npos) << result.detail;
        EXPECT_FALSE(session.preview().views().hasEngine() && session.viewApplied());
    }
}

TEST(SessionTest, ApplyAvmNeedsImages) {
    TempDir dir;
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, test::simulatedConfig()));
    session.configLoad();
    session.applyAvm();
    EXPECT_EQ(ui.messageTexts(), Texts{"There are no images to stitch!"});
    EXPECT_FALSE(session.viewApplied());
    EXPECT_EQ(ui.look(Button::kApplyAvm), ButtonLook::kInitial);
}

TEST(SessionTest, UnsupportedModelStaysLoadedWithoutViews) {
    TempDir dir;
    format::ConfigFile cfg = test::simulatedConfig();
    cfg.model = "AVM 1.66";
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, cfg));
    session.configLoad();
    EXPECT_EQ(ui.messageTexts(), Texts{"The model is not supported by Calibration Tool"});
    EXPECT_EQ(ui.messages()[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(ui.look(Button::kConfigLoad), ButtonLook::kInitial);  // no tick for a model it cannot save
    EXPECT_EQ(session.calibration().modelCode, 166);
    EXPECT_EQ(ui.title(), "Model : AVM 1.66");
    EXPECT_FALSE(session.preview().views().hasEngine());
    EXPECT_NE(session.calibration().multiviewHandles[0], nullptr);
}

TEST(SessionTest, ReloadAfterApplyDropsTheReleasedEngines) {
    AppliedSession run;
    ASSERT_TRUE(run.session.viewApplied());
    // A file that cannot be read, or whose header fails, leaves the shown views alone.
    run.ui.configAnswers.push_back((run.dir.path() / "missing.bin").string());
    run.session.configLoad();
    EXPECT_TRUE(run.session.preview().views().hasEngine());
    run.session.applyAvm();
    EXPECT_TRUE(run.session.viewApplied());

    format::ConfigFile cfg = test::simulatedConfig();
    cfg.model = "AVM 1.66";
    run.ui.configAnswers.push_back(writeConfigTo(run.dir, cfg, "other.bin"));
    run.session.configLoad();
    // The preview showed engines the reader released: it must not touch them again.
    EXPECT_FALSE(run.session.preview().views().hasEngine());
    run.session.preview().adjuster().adjust(Adjustment::kUp);
    run.session.applyAvm();
    EXPECT_FALSE(run.session.viewApplied());
}

TEST(SessionTest, OversizedViewIsRefusedAndTheOthersGoOn) {
    TempDir dir;
    format::ConfigFile cfg = test::simulatedConfig();
    cfg.multiviews[1].width = 1400;
    cfg.multiviews[1].height = 900;
    cfg.carImages[1].pixels.assign(static_cast<size_t>(format::paddedImageSize(1400, 900)), 0);
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, cfg));
    session.configLoad();
    EXPECT_EQ(ui.messageTexts(), Texts{"AVM size has been exceeded."});
    EXPECT_TRUE(session.preview().views().hasEngine());
    EXPECT_EQ(session.preview().views().context().stitchedSlot, 0);
}

TEST(SessionTest, DefaultPointsAndSearchRegions) {
    const auto regions = searchRegions(640, 480);
    EXPECT_EQ(regions, (std::array<int32_t, 8>{0, 120, 320, 360, 320, 120, 320, 360}));
    const auto front = defaultPatternPoints(kFront, 640, 480);
    const float want[6][2] = {{220, 270}, {120, 270}, {170, 210}, {420, 270}, {470, 210}, {520, 270}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(front[i].x, want[i][0]);
        EXPECT_EQ(front[i].y, want[i][1]);
    }
    const auto left = defaultPatternPoints(kLeft, 721, 481);  // cx 360, cy 240
    EXPECT_EQ(left[1].x, 110);
    EXPECT_EQ(left[1].y, 190);
    EXPECT_EQ(left[5].x, 610);
}

TEST(SessionTest, ArrowKeysKeepTheTriangleInsideTheImage) {
    TempDir dir;
    writeBlackImages(dir, 640, 480);
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(640, 480)));
    ui.folderAnswers.push_back(dir.path().string());
    session.configLoad();
    session.imageLoad();
    session.detection().wait();
    // Nothing found on a black picture: the default points stay.
    std::array<Point2F, 6> points = defaultPatternPoints(kFront, 640, 480);
    points[0] = {0, 479};
    points[1] = {1, 300};
    points[2] = {50, 300};
    session.markers().setMarkers(kFront, points);
    session.markers().pointerDown(kFront, {0.5f, 478.0f});  // hits vertex 1 of triangle 1
    session.markers().pointerUp(kFront);
    session.markers().arrowKey(kFront, ArrowKey::kLeft);  // would leave the image
    EXPECT_EQ(session.markers().imageView(kFront).triangles[0][0].x, 0.0f);
    session.markers().arrowKey(kFront, ArrowKey::kDown);  // 480 is still inside
    EXPECT_EQ(session.markers().imageView(kFront).triangles[0][0].y, 480.0f);
    session.markers().arrowKey(kFront, ArrowKey::kDown);
    EXPECT_EQ(session.markers().imageView(kFront).triangles[0][0].y, 480.0f);
    // The hit box reaches 10 pixels left and right of a vertex, the right edge excluded.
    session.markers().pointerMove(kFront, {60.0f, 300.0f});
    EXPECT_EQ(session.markers().imageView(kFront).highlightedVertex, -1);
    session.markers().pointerMove(kFront, {59.5f, 310.0f});
    EXPECT_EQ(session.markers().imageView(kFront).highlightedVertex, 2);
}

// The detection pass writes into the markers and the calibration state: a session closed while
// it runs lets it finish before any of them goes.
TEST(SessionTest, ClosingDuringDetectionLetsThePassFinish) {
    TempDir dir;
    ScriptedUi ui;
    {
        Session session(ui);
        ui.configAnswers.push_back(writeConfigTo(dir, test::simulatedConfig()));
        ui.folderAnswers.push_back(test::simulatedBay().string());
        session.configLoad();
        ASSERT_TRUE(session.imageLoad().detectionStarted);
    }
    // Once for the pictures, once for the markers the pass found.
    for (int c = 0; c < kCameraCount; ++c) EXPECT_EQ(ui.redrawCount(c), 2) << c;
}

TEST(SessionTest, FourQuadrantPicture) {
    TempDir dir;
    format::ConfigFile cfg = smallConfig(40, 30);
    cfg.model = "AVM 2.50";
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, cfg));
    session.configLoad();
    ASSERT_EQ(session.calibration().modelCode, 250);
    ui.clearRecords();

    // Each quadrant a colour of its own: front top left, rear top right, left bottom left,
    // right bottom right.
    auto colour = [](int x, int y) -> uint32_t {
        const int q = (y >= 30 ? 2 : 0) + (x >= 40 ? 1 : 0);
        return 0x101010u * (q + 1) + static_cast<uint32_t>((x % 40) + ((y % 30) << 8));
    };
    test::writeBytes(dir.path() / "quad.BMP", test::makeBmp(80, 60, 24, false, colour));
    ui.fileAnswers.push_back((dir.path() / "quad.BMP").string());
    session.imageLoad();
    session.detection().wait();
    EXPECT_TRUE(ui.messages().empty());
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_EQ(ui.fileRequests()[0].filter, "4VGA Image File(*.bmp)| All Files(*.*)|");
    EXPECT_EQ(ui.fileRequests()[0].defaultExtension, "BMP");
    const int origin[4][2] = {{0, 0}, {40, 0}, {0, 30}, {40, 30}};  // front, rear, left, right
    for (int c = 0; c < 4; ++c) {
        const format::Bitmap image = session.markers().imageView(c).image;
        ASSERT_EQ(image.width, 40);
        ASSERT_EQ(image.height, 30);
        for (int y : {0, 29}) {
            for (int x : {0, 39}) {
                const uint8_t* p = image.row(y) + 3 * x;
                const uint32_t got = p[0] | p[1] << 8 | p[2] << 16;
                EXPECT_EQ(got, colour(origin[c][0] + x, origin[c][1] + y)) << c << " " << x << "," << y;
            }
        }
    }

    test::writeBytes(dir.path() / "small.bmp", test::makeBmp(80, 58, 24, false, colour));
    ui.fileAnswers.push_back((dir.path() / "small.bmp").string());
    ui.fileAnswers.push_back((dir.path() / "quad.png").string());
    session.imageLoad();
    session.imageLoad();
    EXPECT_EQ(ui.messageTexts(), (Texts{"Wrong Image Size !", "Wrong Image Format !"}));
}

TEST(UiTest, ProgressCaptionRoundsThePercentage) {
    EXPECT_EQ(progressCaption("Saving", 50), "Saving [50%]");
    EXPECT_EQ(progressCaption("Saving", 3.5), "Saving [4%]");
    EXPECT_EQ(progressCaption("Saving", 86.4), "Saving [86%]");
}

// ---- Save LUT ----

TEST(SaveTest, GuardsStopBeforeTheChooser) {
    AppliedSession run;
    Preview& preview = run.session.preview();

    preview.settings().setDataVersion(0, 0);
    run.session.saveLut();
    preview.settings().setDataVersion(1001, 1001);
    run.session.saveLut();
    // Each number is written as two decimal digits: 100 would wrap to 00.
    preview.settings().setDataVersion(100, 5);
    run.session.saveLut();
    preview.settings().setDataVersion(1, -1);
    run.session.saveLut();
    EXPECT_EQ(run.ui.messageTexts(), Texts(4, "FlashData Version is incorrect. Please check this"));
    EXPECT_EQ(run.ui.messages()[0].icon, MessageIcon::kInformation);
    EXPECT_TRUE(run.ui.folderRequests().empty());

    // The largest version the files hold passes; the chooser closed writes nothing and says nothing.
    run.ui.clearRecords();
    preview.settings().setLutVersionText(true, "99");
    preview.settings().setLutVersionText(false, "99");
    run.session.saveLut();
    EXPECT_TRUE(run.ui.messages().empty());
    ASSERT_EQ(run.ui.folderRequests().size(), 1u);
    EXPECT_EQ(run.ui.folderRequests()[0].title, "Data Save");

    run.session.calibration().modelCode = 200;
    run.ui.clearRecords();
    run.session.saveLut();
    EXPECT_EQ(run.ui.messageTexts(),
              Texts{"Parking line data is incorrect.\n Please check the \"Parking Line Assistance\""});
}

TEST(SaveTest, UnsupportedModelWritesNothingAndClaimsNothing) {
    AppliedSession run;
    TempDir out;
    run.session.calibration().modelCode = 166;
    run.ui.folderAnswers.push_back(out.path().string());
    const SaveReport report = run.session.saveLut().files;
    EXPECT_EQ(run.ui.messageTexts(), Texts{"The model is not supported by Calibration Tool"});
    EXPECT_TRUE(report.written.empty());
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(SaveTest, TheRootOfADriveIsUsedOnlyWhenTheOperatorSaysSo) {
    AppliedSession run;
    run.ui.folderAnswers.push_back("/");  // one click on the drive list; the question answered "no"
    const SaveResult result = run.session.saveLut();
    EXPECT_EQ(result.status, CommandStatus::kCancelled);
    EXPECT_TRUE(result.files.written.empty());
    EXPECT_TRUE(run.ui.messageTexts().empty());
    const auto& events = run.ui.events();
    EXPECT_EQ(
        std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("confirm ", 0) == 0; }),
        1);
    // A folder below the root is not asked about.
    TempDir out;
    run.ui.folderAnswers.push_back(out.path().string());
    EXPECT_EQ(run.session.saveLut().status, CommandStatus::kDone);
}

TEST(SaveTest, ModelCode167WritesTheShortParameterName) {
    format::ConfigFile cfg = test::simulatedConfig();
    cfg.model = "AVM 1.67";
    cfg.singleviews.resize(1);
    // The simulator numbers its files for model 165; for 167 the parameter file (front + 5) would
    // take the second view's front identifier.
    cfg.multiviews[0].lutIds[0] = 30;
    AppliedSession run(cfg);
    TempDir out;
    run.ui.folderAnswers.push_back(out.path().string() + "/");  // trailing separator
    const SaveReport report = run.session.saveLut().files;
    EXPECT_EQ(run.ui.messageTexts(), Texts{"Output file saved successfully."});
    EXPECT_TRUE(fs::exists(out.path() / "Param/AVM2D_FULLParam.bin"));
    EXPECT_FALSE(fs::exists(out.path() / "Param/AVM2D_FULLTopParam.bin"));
    EXPECT_TRUE(fs::exists(out.path() / "Lut/Frontvw.bin"));
    const std::vector<uint8_t> param = test::readBytes(out.path() / "Param/AVM2D_FULLParam.bin");
    EXPECT_EQ(param[0] | param[1] << 8, cfg.multiviews[0].lutIds[0] + 5);
}

TEST(SaveTest, IdentifiersDecideWhichFilesExist) {
    format::ConfigFile cfg = test::simulatedConfig();
    cfg.multiviews[0].lutIds = {0, 0, 0, 0};  // no tables, still a mask with identifier 1
    cfg.multiviews[0].lutIds[0] = -15;        // and no parameter file for model 165
    cfg.singleviews[2].lutId = 0;             // Rearvw: overlay flag set, but not exported
    AppliedSession run(cfg);
    TempDir out;
    run.ui.folderAnswers.push_back(out.path().string());
    run.session.saveLut();
    EXPECT_EQ(run.ui.messageTexts(), Texts{"Output file saved successfully."});
    EXPECT_FALSE(fs::exists(out.path() / "Lut/AVM2D_FULLFront.bin"));
    EXPECT_FALSE(fs::exists(out.path() / "Lut/AVM2D_FULLRear.bin"));
    const std::vector<uint8_t> mask = test::readBytes(out.path() / "Lut/AVM2D_FULLCmask.bin");
    EXPECT_EQ(mask[0] | mask[1] << 8, 1);
    EXPECT_FALSE(fs::exists(out.path() / "Param"));
    EXPECT_FALSE(fs::exists(out.path() / "Lut/Rearvw.bin"));
    EXPECT_TRUE(fs::is_empty(out.path() / "Osd"));
}

TEST(SaveTest, UnwritableFilesAreReportedNotCalledASuccess) {
    AppliedSession run;
    TempDir out;
    test::writeBytes(out.path() / "Lut", {1, 2, 3});  // a file where the folder should go
    run.ui.folderAnswers.push_back(out.path().string());
    const SaveReport report = run.session.saveLut().files;
    ASSERT_EQ(run.ui.messages().size(), 1u);
    const std::string text = run.ui.messages()[0].text;
    EXPECT_EQ(run.ui.messages()[0].icon, MessageIcon::kError);
    EXPECT_NE(text.find("could not be saved"), std::string::npos);
    EXPECT_NE(text.find("Lut/AVM2D_FULLFront.bin"), std::string::npos);
    EXPECT_EQ(text.find("Param/"), std::string::npos);
    // One save's files go in place together or not at all: the folder must not mix two sets.
    EXPECT_NE(text.find("No file of this save was put in place"), std::string::npos);
    EXPECT_FALSE(fs::exists(out.path() / "Param/AVM2D_FULLTopParam.bin"));
    EXPECT_FALSE(report.failed.empty());
    EXPECT_TRUE(report.written.empty());
    for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
        EXPECT_EQ(entry.path().string().find(".mz-"), std::string::npos) << entry.path();
    }
}

// A disk that fails while a save over an earlier save writes its files, or a rename that fails
// part-way through putting them in place: the failure names the file, and the earlier set stays
// whole, its manifest too, with nothing left over.
TEST(SaveTest, AFailingDiskOrRenameLeavesTheEarlierSetWhole) {
    AppliedSession run;
    TempDir out;
    auto snapshot = [](const fs::path& root) {
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file()) files[fs::relative(e.path(), root).generic_string()] = test::readBytes(e.path());
        return files;
    };
    run.ui.folderAnswers.push_back(out.path().string());
    ASSERT_TRUE(run.session.saveLut().done());
    const auto earlier = snapshot(out.path());
    ASSERT_EQ(earlier.size(), 24u);  // 23 files and the manifest
    run.session.preview().settings().setDataVersion(2, 0);
    int writes = 0, places = 0;
    format::setWriteFaultHook([&](format::WriteStep, const fs::path&) { return ++writes < 0; });
    format::setSetFaultHook(
        [&](format::SetStep step, const fs::path&) { return (places += step == format::SetStep::kPlace) < 0; });
    TempDir fresh;
    run.ui.folderAnswers.push_back(fresh.path().string());
    ASSERT_TRUE(run.session.saveLut().done());
    format::setWriteFaultHook({});
    format::setSetFaultHook({});
    ASSERT_EQ(places, 24);
    ASSERT_EQ(writes, 5 * 25);  // created, written, flushed, synced, closed: each file, the manifest and the journal

    struct Fault {
        bool rename;
        int at;
    };
    for (const Fault fault : {Fault{false, 0},
                              {false, 3},
                              {false, writes / 2 + 4},
                              {false, writes - 6},
                              {false, writes - 1},
                              {true, 0},
                              {true, places / 2},
                              {true, places - 2},
                              {true, places - 1}}) {
        SCOPED_TRACE(std::to_string(fault.rename) + " " + std::to_string(fault.at));
        int step = 0;
        if (fault.rename) {
            format::setSetFaultHook(
                [&](format::SetStep s, const fs::path&) { return s == format::SetStep::kPlace && step++ == fault.at; });
        } else {
            format::setWriteFaultHook([&](format::WriteStep, const fs::path&) { return step++ == fault.at; });
        }
        run.ui.clearRecords();
        run.ui.folderAnswers.push_back(out.path().string());
        const SaveResult result = run.session.saveLut();
        format::setWriteFaultHook({});
        format::setSetFaultHook({});
        EXPECT_EQ(result.status, CommandStatus::kFailed);
        ASSERT_EQ(run.ui.messages().size(), 1u);
        const std::string text = run.ui.messages()[0].text;
        EXPECT_NE(text.find(out.path().string() + "/"), std::string::npos) << text;
        EXPECT_NE(text.find("the folder keeps the files it had"), std::string::npos) << text;
        EXPECT_TRUE(snapshot(out.path()) == earlier) << "the earlier set, whole and alone";
        EXPECT_TRUE(result.files.written.empty());
    }
}

TEST(SaveTest, PicturesTheTablesCannotAddressAreRefused) {
    TempDir dir;
    writeBlackImages(dir, 1100, 48);
    ScriptedUi ui;
    Session session(ui, fixedDate());
    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(1100, 48)));
    ui.folderAnswers.push_back(dir.path().string());
    session.configLoad();
    session.imageLoad();
    session.applyAvm();
    ASSERT_TRUE(session.viewApplied());
    ui.clearRecords();
    TempDir out;
    ui.folderAnswers.push_back(out.path().string());
    session.saveLut();
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_NE(ui.messages()[0].text.find("FRONT camera picture (1100 x 48)"), std::string::npos);
    EXPECT_TRUE(ui.folderRequests().empty());
    EXPECT_TRUE(fs::is_empty(out.path()));
}

// A failed Apply, or one older than the configuration or pictures now loaded, is never saved as
// a success; the Apply button's tick says the same.
TEST(SaveTest, OnlyACurrentSuccessfulApplyIsSaved) {
    TempDir dir, out;
    writeBlackImages(dir, 64, 48);
    ScriptedUi ui;
    Session session(ui, fixedDate());
    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(64, 48)));
    ui.folderAnswers.push_back(dir.path().string());
    session.configLoad();
    session.imageLoad();
    session.detection().wait();
    std::array<Point2F, kPatternPointCount> same;
    same.fill({20, 20});
    for (int c = 0; c < kCameraCount; ++c) session.markers().setMarkers(c, same);
    ASSERT_EQ(session.applyAvm().status, CommandStatus::kFailed);
    EXPECT_EQ(ui.look(Button::kApplyAvm), ButtonLook::kReady);
    ui.clearRecords();
    ui.folderAnswers.push_back(out.path().string());
    const SaveResult failed = session.saveLut();
    EXPECT_EQ(failed.status, CommandStatus::kRefused);
    EXPECT_EQ(ui.messageTexts(), Texts{kFailedApplySave});
    ASSERT_EQ(failed.messages.size(), 1u);
    EXPECT_NE(failed.messages[0].detail.find("calibration error"), std::string::npos) << failed.messages[0].detail;
    EXPECT_TRUE(ui.folderRequests().empty());
    EXPECT_TRUE(fs::is_empty(out.path()));

    // A good Apply, then the configuration again: its tables are not those of what is loaded now.
    AppliedSession run;
    ASSERT_TRUE(run.session.applyCurrent());
    EXPECT_EQ(run.ui.look(Button::kApplyAvm), ButtonLook::kDone);
    run.ui.configAnswers.push_back((run.dir.path() / "Config.bin").string());
    ASSERT_TRUE(run.session.configLoad().done());
    EXPECT_EQ(run.ui.look(Button::kApplyAvm), ButtonLook::kReady);
    run.ui.clearRecords();
    run.ui.folderAnswers.push_back(out.path().string());
    const SaveResult stale = run.session.saveLut();
    EXPECT_EQ(stale.status, CommandStatus::kRefused);
    EXPECT_EQ(run.ui.messageTexts(), Texts{"First click the \"Apply AVM\" button! "});
    EXPECT_FALSE(stale.detail.empty());
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_TRUE(run.ui.folderRequests().empty());
    run.ui.folderAnswers.clear();
    // The same after new pictures; a fresh Apply saves again.
    run.session.applyAvm();
    run.ui.folderAnswers.push_back(test::simulatedBay().string());
    ASSERT_TRUE(run.session.imageLoad().done());
    run.session.detection().wait();
    EXPECT_FALSE(run.session.applyCurrent());
    run.session.applyAvm();
    run.ui.folderAnswers.push_back(out.path().string());
    EXPECT_TRUE(run.session.saveLut().done());
}

// Paints the lower three quarters of the left half of a picture with the floor's grey.
void hideLeftTriangle(const fs::path& path) {
    std::optional<format::Bitmap> b = format::readBitmap(path);
    ASSERT_TRUE(b);
    for (int y = b->height / 4; y < b->height; ++y) {
        uint8_t* row = b->pixels.data() + static_cast<size_t>(b->stride()) * y;
        for (int x = 0; x < b->width / 2; ++x) {
            row[3 * x] = 200;
            row[3 * x + 1] = 195;
            row[3 * x + 2] = 190;
        }
    }
    test::writeBytes(path, format::encodeBitmap(*b));
}

// A lost triangle is named by camera and side and marked in its view; a second bay's pictures never
// inherit the first one's corners for it.
TEST(SessionTest, LostHalfIsNamedAndStartsAfresh) {
    TempDir second;
    fs::create_directories(second.path() / "image");
    for (const char* name : kDefaultImageNames) fs::copy_file(test::simulatedBay() / name, second.path() / name);
    hideLeftTriangle(second.path() / "image/front.bmp");

    TempDir dir;
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, test::simulatedConfig()));
    ui.folderAnswers.push_back(test::simulatedBay().string());
    ui.folderAnswers.push_back(second.path().string());
    session.configLoad();
    session.imageLoad();
    session.detection().wait();
    EXPECT_NE(session.markers().imageView(kFront).triangles[0][0].x,
              defaultPatternPoints(kFront, 720, 480)[0].x);  // found on the first bay

    session.imageLoad();
    const DetectionResult r = session.detection().wait();
    EXPECT_EQ(r.cameras[kFront], 0);
    EXPECT_EQ(r.halves[kFront], (std::array<bool, 2>{false, true}));
    EXPECT_EQ(r.halves[kRear], (std::array<bool, 2>{true, true}));
    EXPECT_EQ(detectionStatus(r), "Front: left NOT FOUND, Rear found, Left found, Right found");
    const auto defaults = defaultPatternPoints(kFront, 720, 480);
    const ImageViewState view = session.markers().imageView(kFront);
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(view.triangles[0][v].x, defaults[v].x);
        EXPECT_EQ(view.triangles[0][v].y, defaults[v].y);
    }
    EXPECT_TRUE(view.stillLost(0));
    EXPECT_FALSE(view.stillLost(1));
    EXPECT_EQ(lostTriangleNote(0), "left triangle not found: drag its three corners onto the frame");

    // Placed by hand corner by corner, the triangle stops being marked once all three were moved.
    for (int v = 0; v < 3; ++v) {
        EXPECT_TRUE(session.markers().imageView(kFront).stillLost(0));
        session.markers().pointerDown(kFront, defaults[v]);
        session.markers().pointerMove(kFront, {defaults[v].x + 3, defaults[v].y});
        session.markers().pointerUp(kFront);
    }
    EXPECT_FALSE(session.markers().imageView(kFront).stillLost(0));
}

// The fixed texts stay; the camera, file and sizes go with them as detail, and into the log.
TEST(SessionTest, MessagesCarryTheirDetailIntoTheLog) {
    TempDir dir;
    writeBlackImages(dir, 64, 40);
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(64, 48)));
    ui.folderAnswers.push_back(dir.path().string());
    session.configLoad();
    const ImageLoadResult loaded = session.imageLoad();
    ASSERT_EQ(ui.messageTexts(), Texts{"Wrong Image Size !"});
    const ShownMessage shown = ui.messages()[0];
    EXPECT_EQ(shown.detail, loaded.detail);
    EXPECT_NE(shown.detail.find("FRONT camera"), std::string::npos) << shown.detail;
    EXPECT_NE(shown.detail.find("64x40"), std::string::npos) << shown.detail;
    const std::vector<ShownMessage> log = session.messageLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), shown);
}

// ---- What the commands return ----

const ShownMessage kFirstSelect{"First select a configure file.", kAppTitle, MessageIcon::kError};

TEST(ResultTest, ClosedChoosersCancelAndChangeNothing) {
    TempDir dir;
    writeBlackImages(dir, 64, 48);
    ScriptedUi ui;
    Session session(ui, fixedDate());
    EXPECT_EQ(session.configLoad().status, CommandStatus::kCancelled);
    EXPECT_TRUE(session.configPath().empty());

    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(64, 48)));
    ASSERT_EQ(session.configLoad().status, CommandStatus::kDone);
    const ImageLoadResult images = session.imageLoad();
    EXPECT_EQ(images.status, CommandStatus::kCancelled);
    EXPECT_FALSE(images.detectionStarted);
    EXPECT_FALSE(session.imagesLoaded());

    ui.folderAnswers.push_back(dir.path().string());
    ASSERT_EQ(session.imageLoad().status, CommandStatus::kDone);

    // Black pictures give no calibration to save: the save chooser needs a bay that calibrates.
    AppliedSession run;
    ASSERT_TRUE(run.session.applyCurrent());
    const SaveResult saved = run.session.saveLut();
    EXPECT_EQ(saved.status, CommandStatus::kCancelled);
    EXPECT_TRUE(saved.messages.empty());
    EXPECT_TRUE(saved.files.written.empty());
    EXPECT_TRUE(run.ui.messages().empty());
}

TEST(ResultTest, GuardsRefuseWithTheMessageShown) {
    ScriptedUi ui;
    Session session(ui);
    const ImageLoadResult images = session.imageLoad();
    EXPECT_EQ(images.status, CommandStatus::kRefused);
    EXPECT_EQ(images.messages, std::vector<ShownMessage>{kFirstSelect});
    const ApplyAvmResult applied = session.applyAvm();
    EXPECT_EQ(applied.status, CommandStatus::kRefused);
    EXPECT_FALSE(applied.calibration.has_value());
    EXPECT_FALSE(applied.viewBuilt);
    const SaveResult saved = session.saveLut();
    EXPECT_EQ(saved.status, CommandStatus::kRefused);
    ASSERT_NE(saved.reason(), nullptr);
    EXPECT_EQ(saved.reason()->text, "First click the \"Apply AVM\" button! ");

    // A model the workflow does not take stays loaded, without views.
    TempDir dir;
    format::ConfigFile cfg = test::simulatedConfig();
    cfg.model = "AVM 1.66";
    ui.configAnswers.push_back(writeConfigTo(dir, cfg));
    const ConfigLoadResult loaded = session.configLoad();
    EXPECT_EQ(loaded.status, CommandStatus::kRefused);
    EXPECT_EQ(loaded.messages, (std::vector<ShownMessage>{{"The model is not supported by Calibration Tool", kAppTitle,
                                                           MessageIcon::kInformation}}));
    EXPECT_EQ(session.calibration().modelCode, 166);
}

// Failures carry every message the operator saw, in order, and what was done before the fault.
TEST(ResultTest, FailuresCarryWhatTheOperatorSaw) {
    TempDir dir;
    ScriptedUi ui;
    Session session(ui, fixedDate());
    std::vector<uint8_t> bytes = format::encodeConfig(smallConfig(64, 48));
    bytes[20] = 3;
    test::writeBytes(dir.path() / "header.bin", bytes);
    ui.configAnswers.push_back((dir.path() / "header.bin").string());
    const ConfigLoadResult broken = session.configLoad();
    EXPECT_EQ(broken.status, CommandStatus::kFailed);
    EXPECT_EQ(broken.messages, ui.messages());
    ASSERT_EQ(broken.messages.size(), 2u);
    EXPECT_EQ(broken.reason()->text, "Config File error!");

    ui.configAnswers.push_back(writeConfigTo(dir, smallConfig(64, 48)));
    session.configLoad();
    ui.folderAnswers.push_back(dir.path().string());
    ui.clearRecords();
    const ImageLoadResult missing = session.imageLoad();
    EXPECT_EQ(missing.status, CommandStatus::kFailed);
    EXPECT_EQ(missing.messages, ui.messages());
    EXPECT_EQ(missing.reason()->text, "Could not read FRONT image file.");

    // Points the rig cannot be solved from: the view is still built for the operator to judge.
    writeBlackImages(dir, 64, 48);
    ui.folderAnswers.push_back(dir.path().string());
    session.imageLoad();
    session.detection().wait();
    for (int c = 0; c < kCameraCount; ++c) {
        std::array<Point2F, kPatternPointCount> same;
        same.fill({20, 20});
        session.markers().setMarkers(c, same);
    }
    ui.clearRecords();
    const ApplyAvmResult applied = session.applyAvm();
    EXPECT_EQ(applied.status, CommandStatus::kFailed);
    ASSERT_TRUE(applied.calibration.has_value());
    EXPECT_LT(*applied.calibration, 0);
    EXPECT_TRUE(applied.viewBuilt);
    EXPECT_EQ(applied.messages, ui.messages());
    ASSERT_EQ(applied.messages.size(), 1u);
    EXPECT_EQ(applied.messages[0].title, "calibration error");
}

// The sink stages posted files on a thread of its own while the caller fills the next payload in
// storage handed back from an earlier one. Every file must hold its own payload, and the report
// must list files and failures in the order given, as when one thread did it all.
TEST(SaveTest, PostedFilesAreStagedInOrderEachWithItsOwnBytes) {
    TempDir out;
    const format::FlashDate date{2026, 12, 8};
    SaveReport report;
    std::vector<std::vector<uint8_t>> given;
    {
        format::OutputSet set(out.path(), "sink", "test");
        FileSink sink(set, date, 1, 0, report, true);
        sink.makeDirectory("Lut");
        std::string failing;
        format::setWriteFaultHook([&](format::WriteStep step, const fs::path& target) {
            return step == format::WriteStep::kWrite && target.filename() == failing;
        });
        failing = "t3.bin";
        for (int i = 0; i < 6; ++i) {
            std::vector<uint8_t> payload = sink.payload(300000 + 1000 * i);
            ASSERT_TRUE(std::all_of(payload.begin(), payload.end(), [](uint8_t b) { return b == 0; }));
            for (size_t k = 0; k < payload.size(); k += 7) payload[k] = static_cast<uint8_t>(i + 1 + k);
            given.push_back(payload);
            sink.post("Lut", "t" + std::to_string(i) + ".bin", std::move(payload), 10 + i);
            if (i == 3) sink.write("Lut", "../out.bin", given.back(), 99);
        }
        std::ofstream(out.path() / "Osd") << "a file where the folder would go";
        sink.makeDirectory("Osd");
        sink.finish();
        format::setWriteFaultHook({});
        ASSERT_EQ(report.failed.size(), 3u);
        EXPECT_NE(report.failed[0].find("t3.bin"), std::string::npos) << report.failed[0];
        EXPECT_EQ(report.failed[1], "Lut/../out.bin (not a plain file name)");
        EXPECT_EQ(report.failed[2].rfind("Osd (", 0), 0u) << report.failed[2];
        set.commit();
    }
    ASSERT_EQ(report.written.size(), 5u);
    int next = 0;
    for (const WrittenFile& file : report.written) {
        if (next == 3) ++next;
        EXPECT_EQ(file.path, fs::path("Lut") / ("t" + std::to_string(next) + ".bin"));
        EXPECT_EQ(file.identifier, 10 + next);
        const std::vector<uint8_t> bytes = test::readBytes(out.path() / file.path);
        EXPECT_EQ(bytes, format::encodeFlashData(given[next], 10 + next, date, 1, 0)) << file.path;
        ASSERT_TRUE(file.checksum) << file.path;
        EXPECT_EQ(file.checksum->bytes, static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(file.checksum->sha256, station::sha256Hex(bytes)) << file.path;
        ++next;
    }
}

// Something that is no std::exception, thrown while a posted file is staged, would end the process
// on the sink's thread. It must reach the report as that file's failure, and the files after it
// are still staged.
TEST(SaveTest, AnUnknownFailureOnTheSinksThreadIsAFailedFile) {
    TempDir out;
    SaveReport report;
    struct NoStdException {};
    {
        format::OutputSet set(out.path(), "sink", "test");
        FileSink sink(set, format::FlashDate{2026, 12, 8}, 1, 0, report);
        sink.makeDirectory("Lut");
        format::setSetFaultHook([](format::SetStep step, const fs::path& target) {
            if (step == format::SetStep::kStage && target.filename() == "t1.bin") throw NoStdException{};
            return false;
        });
        for (int i = 0; i < 3; ++i) sink.post("Lut", "t" + std::to_string(i) + ".bin", sink.payload(1000), i + 1);
        sink.finish();
        format::setSetFaultHook({});
    }
    EXPECT_EQ(report.failed, std::vector<std::string>{"Lut/t1.bin (an unknown failure)"});
    ASSERT_EQ(report.written.size(), 2u);
    EXPECT_EQ(report.written[1].path, fs::path("Lut/t2.bin"));
}

}  // namespace
}  // namespace mz::core
