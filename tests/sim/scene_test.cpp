#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "format/config_writer.h"
#include "mz/mzpattern.h"
#include "sim/render.h"
#include "sim/rig.h"
#include "sim/scene.h"

namespace mz::sim {
namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double grey(const Picture& pic, double x, double y) {
    const int ix = static_cast<int>(std::lround(x)), iy = static_cast<int>(std::lround(y));
    const uint8_t* p = pic.row(iy) + 3 * ix;
    return (p[0] + p[1] + p[2]) / 3.0;
}

class RenderedBay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rig_ = new Rig(drawRig(RigOptions{}));
        for (int c = 0; c < 4; ++c) pictures_[c] = renderCamera(*rig_, c);
    }
    static void TearDownTestSuite() { delete rig_; }
    static Rig* rig_;
    static Picture pictures_[4];
};
Rig* RenderedBay::rig_ = nullptr;
Picture RenderedBay::pictures_[4];

TEST_F(RenderedBay, CornersLandWhereTheTruthSays) {
    // Right at each corner the frame is dark (oblique views make some tips needle-thin, so the
    // darkest pixel next to it counts); a few pixels beyond it the floor is light.
    for (int c = 0; c < 4; ++c) {
        const CameraPoints pts = cameraPoints(*rig_, c);
        for (int side = 0; side < 2; ++side) {
            const Vec2* p = &pts.image[side * 3];
            const Vec2 centre{(p[0].x + p[1].x + p[2].x) / 3, (p[0].y + p[1].y + p[2].y) / 3};
            for (int i = 0; i < 3; ++i) {
                const double dx = p[i].x - centre.x, dy = p[i].y - centre.y;
                const double len = std::hypot(dx, dy);
                const double ux = dx / len, uy = dy / len;
                double darkest = 255;
                const double ix = p[i].x - 2 * ux, iy = p[i].y - 2 * uy;
                for (int dy = -2; dy <= 2; ++dy) {
                    for (int dx = -2; dx <= 2; ++dx) {
                        darkest = std::min(darkest, grey(pictures_[c], ix + dx, iy + dy));
                    }
                }
                EXPECT_LT(darkest, 80) << kCameraNames[c] << " corner " << side * 3 + i;
                EXPECT_GT(grey(pictures_[c], p[i].x + 3.5 * ux, p[i].y + 3.5 * uy), 140)
                    << kCameraNames[c] << " corner " << side * 3 + i;
            }
        }
    }
}

TEST_F(RenderedBay, ThePatternDetectorFindsTheTruePoints) {
    for (int c = 0; c < 4; ++c) {
        const Picture& pic = pictures_[c];
        const int w = pic.width, h = pic.height;
        std::vector<uint8_t> packed(size_t(w) * h * 3);
        for (int y = 0; y < h; ++y) std::copy(pic.row(y), pic.row(y) + 3 * w, packed.begin() + size_t(y) * w * 3);
        CameraParam cam = cameraRecord(rig_->cameras[c]);
        Point2F points[6] = {};
        cam.imagePoints = points;
        const int32_t rects[8] = {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
        ASSERT_EQ(mzGetPatternIP(packed.data(), &cam, rects), 0) << kCameraNames[c];
        const CameraPoints truth = cameraPoints(*rig_, c);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(points[i].x, truth.image[i].x, 2.0) << kCameraNames[c] << " point " << i;
            EXPECT_NEAR(points[i].y, truth.image[i].y, 2.0) << kCameraNames[c] << " point " << i;
        }
    }
}

TEST_F(RenderedBay, PicturesShowFloorSkyAndTheImageCircle) {
    const Picture& front = pictures_[kFront];
    EXPECT_EQ(grey(front, 0, 0), 0);                                  // outside the circle
    EXPECT_GT(grey(front, front.width / 2, front.height - 20), 150);  // floor near the car
    const uint8_t* sky = front.row(8) + 3 * (front.width / 2);
    EXPECT_GT(sky[0], sky[2]);  // bluish above the horizon
}

TEST(Render, SameBytesWhateverTheThreadCount) {
    RigOptions o;
    o.seed = 9;
    o.width = 320;
    o.height = 240;
    // A small picture keeps the test short; the bay is laid out by hand from a full-size draw.
    Rig rig = drawRig(RigOptions{});
    rig.options.seed = 9;
    rig.options.width = 320;
    rig.options.height = 240;
    finishRig(rig);
    const Picture one = renderCamera(rig, kLeft, 1);
    const Picture two = renderCamera(rig, kLeft, 2);
    const Picture three = renderCamera(rig, kLeft, 3);
    EXPECT_EQ(one.bytes, two.bytes);
    EXPECT_EQ(one.bytes, three.bytes);
    rig.options.seed = 10;  // another noise pattern
    EXPECT_NE(renderCamera(rig, kLeft, 2).bytes, one.bytes);
}

TEST(Scene, ConfigurationDescribesTheInstallation) {
    const Rig rig = drawRig(RigOptions{});
    const format::ConfigFile cfg = buildConfig(rig);
    EXPECT_EQ(cfg.model, "AVM 1.65");
    ASSERT_EQ(cfg.cameras.size(), 4u);
    EXPECT_EQ(cfg.cameras[3].type, 13);
    EXPECT_EQ(cfg.cameras[0].k, rig.cameras[0].lens.k);
    ASSERT_EQ(cfg.multiviews.size(), 3u);
    ASSERT_EQ(cfg.carImages.size(), 3u);
    const char* names[3] = {"AVM2D_FULL", "AVM2D_FRONT", "AVM2D_REAR"};
    for (int i = 0; i < 3; ++i) {
        const format::ConfigMultiview& mv = cfg.multiviews[i];
        EXPECT_EQ(mv.name, names[i]);
        EXPECT_LE(mv.width, 1280);
        EXPECT_LE(mv.height, 800);
        EXPECT_EQ(cfg.carImages[i].pixels.size(), static_cast<size_t>(format::paddedImageSize(mv.width, mv.height)));
        for (int32_t id : mv.lutIds) EXPECT_GT(id, 0);
    }
    EXPECT_EQ(cfg.multiviews[0].flags & 0x8000u, 0x8000u);
    EXPECT_GE(cfg.singleviews.size(), 3u);
    int overlays = 0;
    // Every file the workflow writes carries its own data identifier: tables and masks of the
    // stitched views, the parameter file (first front identifier + 15), single-view tables and
    // their OSD masks (identifier + 16).
    std::set<int32_t> ids;
    auto unique = [&ids](int32_t id) { EXPECT_TRUE(ids.insert(id).second) << "identifier " << id; };
    for (const format::ConfigMultiview& mv : cfg.multiviews) {
        for (int32_t id : mv.lutIds) unique(id);
        unique(mv.lutIds[3] + 1);
    }
    unique(cfg.multiviews[0].lutIds[0] + 15);
    for (const format::ConfigSingleview& sv : cfg.singleviews) {
        overlays += (sv.flags & 0x2000u) != 0;
        EXPECT_GT(sv.lutId, 0);
        unique(sv.lutId);
        if (sv.flags & 0x2000u) unique(sv.lutId + 16);
    }
    EXPECT_EQ(overlays, 1);
}

TEST(Scene, WritesTheSameBytesTwiceAndRefusesABadBay) {
    const auto base = std::filesystem::temp_directory_path() / ("mz_sim_scene_test_" + std::to_string(::getpid()));
    std::filesystem::remove_all(base);
    RigOptions o;
    o.seed = 4;
    o.quad = true;
    const Rig rig = drawRig(o);
    writeScene(base / "a", rig);
    writeScene(base / "b", rig);
    for (const char* f : {"Config.bin", "truth.json", "image/front.bmp", "image/rear.bmp", "image/left.bmp",
                          "image/right.bmp", "image/quad.bmp"}) {
        const std::vector<uint8_t> a = readFile(base / "a" / f);
        ASSERT_FALSE(a.empty()) << f;
        EXPECT_EQ(a, readFile(base / "b" / f)) << f;
    }
    const std::vector<uint8_t> bmp = readFile(base / "a" / "image" / "front.bmp");
    EXPECT_EQ(bmp.size(), 54u + 720u * 3 * 480);
    EXPECT_EQ(bmp[28], 24);
    EXPECT_EQ(readFile(base / "a" / "image" / "quad.bmp").size(), 54u + 1440u * 3 * 960);

    const nlohmann::json truth = nlohmann::json::parse(readFile(base / "a" / "truth.json"));
    EXPECT_EQ(truth["cameras"]["left"]["imagePoints"].size(), 6u);
    EXPECT_EQ(truth["cameras"]["rear"]["triangles"][0], "T3");
    EXPECT_DOUBLE_EQ(truth["cameras"]["right"]["height"].get<double>(), rig.cameras[kRight].position.z);
    EXPECT_TRUE(truth["conventions"].contains("rotation"));

    Rig bad = rig;
    for (Vec2& c : bad.triangles[kT2FrontRight].corners) c.x -= 1800;
    EXPECT_THROW(writeScene(base / "bad", bad), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(base / "bad"));
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace mz::sim
