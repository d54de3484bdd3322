// The whole road on a simulated bay: Config Load, Image Load with detection, Apply AVM, Save LUT.
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "app/core/session.h"
#include "format/bitmap.h"
#include "format/config_writer.h"
#include "testing/encoded_pictures.h"
#include "sim/scene.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempDir;

// A flash data file taken apart without the writer's code.
struct FlashFile {
    uint16_t words[16] = {};
    std::vector<uint8_t> payload;
    std::string problem;  // empty when header and every block checksum hold
};

FlashFile readFlash(const fs::path& path) {
    FlashFile f;
    const std::vector<uint8_t> b = test::readBytes(path);
    if (b.size() < 32) {
        f.problem = "shorter than its header";
        return f;
    }
    for (int i = 0; i < 16; ++i) f.words[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
    unsigned sum = 0;
    for (int i = 0; i < 7; ++i) sum += f.words[i];
    if ((sum & 0xFFFF) != f.words[15]) f.problem = "header checksum";
    for (int i = 7; i < 15; ++i) {
        if (f.words[i] != 0) f.problem = "reserved header word";
    }
    const size_t length = size_t{f.words[4]} << 16 | f.words[5];
    size_t pos = 32;
    while (f.payload.size() < length) {
        const size_t block = std::min<size_t>(1024, length - f.payload.size());
        if (pos + block + 1 > b.size()) {
            f.problem = "payload cut short";
            return f;
        }
        unsigned blockSum = 0;
        for (size_t i = 0; i < block; ++i) {
            f.payload.push_back(b[pos + i]);
            blockSum += b[pos + i];
        }
        if ((blockSum & 0xFF) != b[pos + block]) f.problem = "block checksum";
        pos += block + 1;
    }
    if (pos != b.size()) f.problem = "bytes after the last block";
    return f;
}

class WorkflowTest : public ::testing::Test {
protected:
    static fs::path bayPath() { return test::simulatedBay(); }
    const sim::Rig* rig_ = &test::simulatedRig();

    SessionOptions options() {
        SessionOptions o;
        o.programVersion = {1, 2, 3};
        o.saveDate = format::FlashDate{2026, 12, 6};
        return o;
    }
};

TEST_F(WorkflowTest, WholeRoadWritesEveryFileOfTheTable) {
    TempDir out;
    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    ui.folderAnswers.push_back(bayPath().string());
    ui.folderAnswers.push_back(out.path().string());  // no trailing separator
    Session session(ui, options());
    EXPECT_EQ(ui.title(), "Untitled - Calibration Tool v1.2.3");

    const ConfigLoadResult loaded = session.configLoad();
    EXPECT_EQ(loaded.status, CommandStatus::kDone);
    EXPECT_GT(loaded.read.count(), 0);
    EXPECT_GT(loaded.viewSetup.count(), 0);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(ui.title(), "Model : AVM 1.65");
    EXPECT_EQ(ui.look(Button::kConfigLoad), ButtonLook::kDone);
    EXPECT_EQ(session.calibration().modelCode, 165);
    EXPECT_TRUE(session.preview().views().hasEngine());
    // Slot 0 is initialised last, so it is the one shown.
    ASSERT_GE(session.preview().views().viewList().size(), 3u);
    EXPECT_EQ(session.preview().views().viewList()[1], "AVM2D_FRONT");
    EXPECT_EQ(session.preview().views().currentEntry(), 0);

    const ImageLoadResult images = session.imageLoad();
    EXPECT_EQ(images.status, CommandStatus::kDone);
    EXPECT_TRUE(images.detectionStarted);
    EXPECT_GT(images.read.count(), 0);
    const DetectionResult detection = session.detection().wait();
    EXPECT_TRUE(detection.finished);
    EXPECT_EQ(detection.cameras, (std::array<int32_t, kCameraCount>{0, 0, 0, 0}));
    EXPECT_GT(detection.time.count(), 0);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_TRUE(session.imagesLoaded());
    EXPECT_EQ(ui.look(Button::kApplyAvm), ButtonLook::kReady);
    EXPECT_EQ(ui.folderRequests()[0].title, "Image Load");
    EXPECT_EQ(ui.folderRequests()[0].button, "Load");
    for (int c = 0; c < 4; ++c) {
        const sim::CameraPoints truth = sim::cameraPoints(*rig_, c);
        const ImageViewState view = session.markers().imageView(c);
        EXPECT_EQ(view.caption, kImageCaptions[c]);
        for (int i = 0; i < 6; ++i) {
            const Point2F p = view.triangles[i / 3][i % 3];
            EXPECT_NEAR(p.x, truth.image[i].x, 2.0) << "camera " << c << " point " << i;
            EXPECT_NEAR(p.y, truth.image[i].y, 2.0) << "camera " << c << " point " << i;
        }
        EXPECT_GT(ui.redrawCount(c), 1);
        EXPECT_EQ(session.detection().result(c), 0);
    }

    const ApplyAvmResult applied = session.applyAvm();
    EXPECT_EQ(applied.status, CommandStatus::kDone);
    EXPECT_EQ(applied.calibration, 0);
    EXPECT_TRUE(applied.viewBuilt);
    EXPECT_GT(applied.calibrate.count(), 0);
    EXPECT_GT(applied.build.count(), 0);
    EXPECT_TRUE(applied.messages.empty());
    EXPECT_TRUE(ui.messages().empty()) << ui.messages()[0].text;
    EXPECT_TRUE(session.viewApplied());
    EXPECT_EQ(session.preview().rig().lastResult(), 0);
    EXPECT_EQ(ui.look(Button::kApplyAvm), ButtonLook::kDone);
    const CameraParam& front = session.calibration().cameras[kFront];
    const sim::Camera& frontTruth = rig_->cameras[sim::kFront];
    EXPECT_NEAR(front.posZ, frontTruth.position.z, 0.03 * frontTruth.position.z);

    const SaveResult saved = session.saveLut();
    const SaveReport& report = saved.files;
    ASSERT_EQ(ui.messageTexts(), std::vector<std::string>{"Output file saved successfully."});
    EXPECT_EQ(ui.messages()[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(saved.status, CommandStatus::kDone);
    EXPECT_EQ(saved.messages, ui.messages());
    EXPECT_TRUE(report.failed.empty());
    EXPECT_GT(saved.write.count(), 0);
    EXPECT_EQ(ui.folderRequests()[1].title, "Data Save");
    EXPECT_EQ(ui.folderRequests()[1].label, "LUT File");
    EXPECT_EQ(ui.progressPositions().back(), 100.0);

    // The file table, from the configuration the simulator wrote.
    const format::ConfigFile cfg = sim::buildConfig(*rig_);
    std::map<std::string, std::pair<int32_t, int64_t>> expected;  // path -> identifier, payload
    for (const format::ConfigMultiview& mv : cfg.multiviews) {
        const char* suffix[4] = {"Front.bin", "Rear.bin", "Left.bin", "Right.bin"};
        for (int c = 0; c < 4; ++c) {
            if (mv.lutIds[c] > 0)
                expected["Lut/" + mv.name + suffix[c]] = {mv.lutIds[c], int64_t{mv.width} * mv.height * 4};
        }
        expected["Lut/" + mv.name + "Cmask.bin"] = {mv.lutIds[3] + 1, -1};
    }
    for (const format::ConfigSingleview& sv : cfg.singleviews) {
        if (sv.lutId <= 0) continue;
        expected["Lut/" + sv.fileName] = {sv.lutId, int64_t{sv.width} * sv.height * 4};
        if (sv.flags & 0x2000) {
            // Without an overlay picture the mask may be empty: the header alone.
            expected["Osd/" + sv.fileName.substr(0, sv.fileName.size() - 4) + "OSD.bin"] = {sv.lutId + 16, -2};
        }
    }
    expected["Param/AVM2D_FULLTopParam.bin"] = {cfg.multiviews[0].lutIds[0] + 15, 72};

    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
        if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), out.path()).generic_string());
    }
    EXPECT_EQ(found.erase(format::manifestName(kCalibrationSet)), 1u) << "the save names its files in a manifest";
    std::set<std::string> wanted;
    for (const auto& [path, _] : expected) wanted.insert(path);
    EXPECT_EQ(found, wanted);
    std::set<std::string> reported;
    for (const WrittenFile& f : report.written) {
        reported.insert(f.path.generic_string());
        EXPECT_EQ(f.identifier, expected[f.path.generic_string()].first) << f.path;
    }
    EXPECT_EQ(reported, wanted);
    EXPECT_EQ(report.written.size(), expected.size());

    for (const auto& [path, want] : expected) {
        const FlashFile f = readFlash(out.path() / path);
        EXPECT_EQ(f.problem, "") << path;
        EXPECT_EQ(f.words[0], static_cast<uint16_t>(want.first)) << path;
        EXPECT_EQ(f.words[1], 32) << path;
        EXPECT_EQ(f.words[2], 0x2026) << path;
        EXPECT_EQ(f.words[3], 0x1206) << path;
        EXPECT_EQ(f.words[6], 0x0100) << path;
        if (want.second >= 0) {
            EXPECT_EQ(static_cast<int64_t>(f.payload.size()), want.second) << path;
        } else if (want.second == -1) {
            EXPECT_GT(f.payload.size(), 0u) << path;
        }
    }

    // The progress bar walks the weighted positions and never goes back.
    const std::vector<double> positions = ui.progressPositions();
    EXPECT_EQ(ui.progressStatuses(),
              (std::vector<std::string>{"Saving the view files....", "Saving the Param file...."}));
    EXPECT_EQ(positions.front(), 0.0);
    // The status resets to 0, the first position is 0 again; the parameter pass starts at the next 0.
    const size_t viewPass = std::find(positions.begin() + 2, positions.end(), 0.0) - positions.begin();
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.begin() + viewPass));
    // 3 stitched views and 6 single views: 27 positions of 90 / 27 each.
    EXPECT_NEAR(positions[1], 0.0, 1e-9);
    EXPECT_NEAR(positions[viewPass - 1], 90.0 * 26 / 27, 1e-9);
}

TEST_F(WorkflowTest, DetectionReadsUnpaddedRowsOfAnOddWidth) {
    // 718 pixels: rows of 2154 bytes, padded to 2156 in the views.
    sim::RigOptions o;
    o.width = 718;
    const sim::Rig rig = sim::drawRig(o);
    TempDir bay;
    sim::writeScene(bay.path(), rig);
    ScriptedUi ui;
    ui.configAnswers.push_back((bay.path() / "Config.bin").string());
    ui.folderAnswers.push_back(bay.path().string());
    Session session(ui, options());
    session.configLoad();
    session.imageLoad();
    session.detection().wait();
    ASSERT_TRUE(ui.messages().empty());
    for (int c = 0; c < 4; ++c) {
        const sim::CameraPoints truth = sim::cameraPoints(rig, c);
        const std::array<Point2F, 6> points = session.markers().patternPoints(c);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(points[i].x, truth.image[i].x, 2.0) << "camera " << c << " point " << i;
            EXPECT_NEAR(points[i].y, truth.image[i].y, 2.0) << "camera " << c << " point " << i;
        }
    }
}

TEST_F(WorkflowTest, ApplyAvmRightAfterImageLoadWaitsForTheDetectedPoints) {
    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    ui.folderAnswers.push_back(bayPath().string());
    Session session(ui, options());
    session.configLoad();
    session.imageLoad();
    session.applyAvm();  // no wait in between: the command itself waits
    EXPECT_FALSE(session.detection().running());
    EXPECT_TRUE(ui.messages().empty());
    for (int c = 0; c < 4; ++c) {
        const sim::CameraPoints truth = sim::cameraPoints(*rig_, c);
        const std::array<Point2F, 6> points = session.markers().patternPoints(c);
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(points[i].x, truth.image[i].x, 2.0) << c << " " << i;
    }
}

TEST_F(WorkflowTest, PreviewAdjustmentDuringDetectionWaitsForIt) {
    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    ui.folderAnswers.push_back(bayPath().string());
    ui.folderAnswers.push_back(bayPath().string());
    Session session(ui, options());
    session.configLoad();
    session.imageLoad();
    session.applyAvm();
    session.imageLoad();                                       // a second pass starts
    session.preview().adjuster().adjust(Adjustment::kZoomIn);  // calibrates: must not race the detector
    EXPECT_FALSE(session.detection().running());
    EXPECT_EQ(session.preview().rig().adjust().sideHeightOffset, 5.0f);
}

TEST_F(WorkflowTest, MovedMarkerIsWhatApplyAvmCalibratesFrom) {
    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    ui.folderAnswers.push_back(bayPath().string());
    Session session(ui, options());
    session.configLoad();
    session.imageLoad();
    session.detection().wait();

    ImageViewState view = session.markers().imageView(kRear);
    const Point2F vertex = view.triangles[1][2];
    // Grab 3.5 pixels off the vertex, move, let go: the vertex keeps the grab offset and the
    // sub-pixel position.
    session.markers().pointerDown(kRear, {vertex.x + 3.5f, vertex.y - 2.25f});
    session.markers().pointerMove(kRear, {vertex.x + 13.75f, vertex.y + 5.0f});
    session.markers().pointerUp(kRear);
    view = session.markers().imageView(kRear);
    EXPECT_FLOAT_EQ(view.triangles[1][2].x, vertex.x + 10.25f);
    EXPECT_FLOAT_EQ(view.triangles[1][2].y, vertex.y + 7.25f);
    session.markers().arrowKey(kRear, ArrowKey::kLeft);
    view = session.markers().imageView(kRear);
    EXPECT_FLOAT_EQ(view.triangles[1][2].x, vertex.x + 9.25f);

    session.applyAvm();
    const std::array<Point2F, 6> points = session.markers().patternPoints(kRear);
    EXPECT_FLOAT_EQ(points[5].x, vertex.x + 9.25f);
    EXPECT_FLOAT_EQ(points[5].y, vertex.y + 7.25f);
}

TEST_F(WorkflowTest, ImageLoadFailuresKeepWhatWasLoaded) {
    TempDir data;
    fs::create_directories(data.path() / "image");
    for (const char* name : kDefaultImageNames) fs::copy_file(bayPath() / name, data.path() / name);

    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    Session session(ui, options());
    session.configLoad();

    // A missing rear picture with the front present names the rear camera.
    fs::rename(data.path() / "image/rear.bmp", data.path() / "image/rear.keep");
    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Could not read REAR image file."});
    EXPECT_FALSE(session.imagesLoaded());
    fs::rename(data.path() / "image/rear.keep", data.path() / "image/rear.bmp");

    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    session.detection().wait();
    ASSERT_TRUE(session.imagesLoaded());
    const std::vector<uint8_t> frontBefore = session.markers().imageView(kFront).image.pixels;

    // An 8-bit left picture, then a right picture of the wrong size: refused, nothing replaced.
    test::writeBytes(data.path() / "image/left.bmp",
                     test::makeBmp(720, 480, 8, false, [](int x, int) { return static_cast<uint32_t>(x & 255); }));
    test::writeBytes(data.path() / "image/front.bmp",
                     test::makeBmp(720, 480, 24, false, [](int, int) { return 0xFFFFFFu; }));
    ui.clearRecords();
    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Wrong Image Format !"});
    EXPECT_EQ(session.markers().imageView(kFront).image.pixels, frontBefore);

    fs::copy_file(bayPath() / "image/left.bmp", data.path() / "image/left.bmp", fs::copy_options::overwrite_existing);
    test::writeBytes(data.path() / "image/right.bmp", test::makeBmp(640, 480, 24, false, [](int, int) { return 0u; }));
    ui.clearRecords();
    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Wrong Image Size !"});
    EXPECT_EQ(session.markers().imageView(kFront).image.pixels, frontBefore);

    // Closing the drive chooser changes nothing and says nothing.
    ui.clearRecords();
    session.imageLoad();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(session.markers().imageView(kFront).image.pixels, frontBefore);
}

// Cameras that give PNG or JPEG pictures: the same pixels reach the views as from bitmaps, and
// a damaged file says what is wrong with it.
TEST_F(WorkflowTest, ImageLoadTakesPngAndJpegWhenNoBitmapIsThere) {
    TempDir data;
    fs::create_directories(data.path() / "image");
    const auto packed = [](const format::Bitmap& b) { return format::unpaddedPixels(b); };
    std::array<format::Bitmap, kCameraCount> bitmaps;
    for (int c = 0; c < kCameraCount; ++c) {
        bitmaps[c] = *format::readBitmap(bayPath() / kDefaultImageNames[c]);
        const fs::path stem = (data.path() / kDefaultImageNames[c]).replace_extension();
        if (c == kRear) {
            fs::copy_file(bayPath() / kDefaultImageNames[c], data.path() / kDefaultImageNames[c]);
        } else if (c == kRight) {
            test::writeBytes(stem.string() + ".jpg",
                             mztest::encodeJpeg(bitmaps[c].width, bitmaps[c].height, 3, packed(bitmaps[c]), 100));
        } else {
            test::writeBytes(stem.string() + ".png",
                             mztest::encodePng(bitmaps[c].width, bitmaps[c].height, 3, packed(bitmaps[c])));
        }
    }
    ScriptedUi ui;
    ui.configAnswers.push_back((bayPath() / "Config.bin").string());
    Session session(ui, options());
    session.configLoad();
    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    session.detection().wait();
    ASSERT_TRUE(session.imagesLoaded()) << ::testing::PrintToString(ui.messageTexts());
    for (int c : {kFront, kRear, kLeft}) EXPECT_EQ(session.markers().imageView(c).image.pixels, bitmaps[c].pixels) << c;
    EXPECT_EQ(session.markers().imageView(kRight).image.pixels.size(), bitmaps[kRight].pixels.size());

    std::vector<uint8_t> damaged = test::readBytes(data.path() / "image/left.png");
    damaged.resize(damaged.size() / 3);
    test::writeBytes(data.path() / "image/left.png", damaged);
    ui.clearRecords();
    ui.folderAnswers.push_back(data.path().string());
    session.imageLoad();
    ASSERT_EQ(ui.messageTexts().size(), 1u);
    EXPECT_EQ(ui.messageTexts()[0].rfind("Wrong Image Format !\n\nleft.png: the PNG file is damaged", 0), 0u)
        << ui.messageTexts()[0];
    EXPECT_EQ(session.markers().imageView(kLeft).image.pixels, bitmaps[kLeft].pixels);
}

}  // namespace
}  // namespace mz::core
