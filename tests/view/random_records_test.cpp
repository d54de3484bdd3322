// View engines fed random parameter records and cameras (extreme lens values, missing point pairs,
// odd blend modes, placements outside the view): every operation must stay inside its buffers and
// return -1 or 0. The sanitizer build watches the memory; the buffers here are sized exactly as
// the length operations say.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mz/mzview.h"

namespace {

int stride(int width) { return MZ_ROW_STRIDE24(width); }

struct RandomRecords {
    std::mt19937 rng;
    explicit RandomRecords(unsigned seed) : rng(seed) {}

    float uniform(float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); }
    int below(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

    void camera(CameraParam& cam, Point2F* image, Point2F* world) {
        static const float kExtremes[] = {0.0f, -1.0f, 1e30f, -1e30f, 1e-30f, 100000.0f};
        cam = CameraParam{};
        cam.f = uniform(50, 400);
        cam.fx = uniform(100, 300);
        cam.fy = uniform(100, 300);
        cam.cx = uniform(0, 100);
        cam.cy = uniform(0, 80);
        cam.k1 = 1;
        cam.k2 = uniform(-0.1f, 0.1f);
        cam.c1 = 1;
        cam.c3 = uniform(-0.1f, 0.1f);
        cam.width = 16 + below(100);
        cam.height = 16 + below(80);
        cam.pointCount = below(7);  // 0..6: also fewer than the four pairs a homography needs
        cam.imagePoints = image;
        cam.worldPoints = world;
        for (int i = 0; i < 6; ++i) {
            image[i] = {uniform(0, 100), uniform(0, 80)};
            world[i] = {uniform(-3000, 3000), uniform(-3000, 3000)};
        }
        if (below(4) == 0) (&cam.f)[below(19)] = kExtremes[below(6)];  // one lens value broken
    }
};

TEST(RandomRecords, StitchedViewStaysInsideItsBuffers) {
    RandomRecords r(9);
    for (int trial = 0; trial < 150; ++trial) {
        CameraParam cams[4];
        Point2F image[4][6], world[4][6];
        for (int c = 0; c < 4; ++c) r.camera(cams[c], image[c], world[c]);
        MultiviewParam mv{};
        mv.flags = static_cast<uint32_t>(r.below(4)) | (r.below(2) ? MZ_MV_ROTATED : 0u) |
                   (r.below(2) ? MZ_MV_SHOW_BLEND : 0u);
        mv.vehicleWidth = r.below(3000);
        mv.vehicleLength = r.below(6000);
        mv.frontFov = r.uniform(0, 200);
        mv.rearFov = r.uniform(0, 200);
        mv.vehicleColour = static_cast<uint32_t>(r.rng());
        mv.lineWidth = r.below(12) - 2;
        mv.blendMode = r.below(7) - 1;
        mv.width = 1 + r.below(120);
        mv.height = 1 + r.below(90);
        mv.centreX = r.uniform(-50, 150);
        mv.centreY = r.uniform(-50, 150);
        mv.mmPerPixel = trial % 9 == 0 ? 0.0f : r.uniform(1, 50);
        mv.cameras = cams;

        ViewHandle h = mzMultiviewCreate(0);
        ASSERT_NE(h, nullptr);
        const int init = mzMultiviewInit(h, &mv);
        EXPECT_TRUE(init == 0 || init == -1);
        // Every camera picture has the front camera's size; the output holds either orientation.
        const std::vector<uint8_t> src(static_cast<size_t>(stride(cams[0].width)) * cams[0].height, 77);
        std::vector<uint8_t> out(
            static_cast<size_t>(std::max(stride(mv.width) * mv.height, stride(mv.height) * mv.width)));
        mzMultiviewApply(h, src.data(), src.data(), src.data(), src.data(), out.data());
        for (int c = 0; c < 4; ++c) {
            int n = 0;
            mzMultiviewGetLUTLen(h, &n, c);
            std::vector<uint8_t> lut(static_cast<size_t>(std::max(n, 1)));
            EXPECT_EQ(mzMultiviewGetLUT(h, lut.data(), n, c), 0);
        }
        for (int format = 0; format < 5; ++format) {
            int n = 0;
            mzMultiviewGetMaskLen(h, &n, format);
            std::vector<uint8_t> mask(static_cast<size_t>(std::max(n, 1)));
            EXPECT_EQ(mzMultiviewGetMask(h, mask.data(), n, format), 0);
        }
        const std::vector<uint8_t> car(static_cast<size_t>(stride(mv.width)) * mv.height, 5);
        mzMultiviewSetImage(h, mv.width, mv.height, car.data(), 0xCC0020, 0, 0, 0, 0);
        mzMultiviewSetImage(h, mv.width, mv.height, car.data(), 0, r.below(200) - 50, r.below(200) - 50, r.below(100),
                            r.below(100));
        const float delta[6] = {r.uniform(-5, 5), r.uniform(-5, 5), r.uniform(-5, 5),
                                r.uniform(-5, 5), r.uniform(-5, 5), r.uniform(-5, 5)};
        mzMultiviewAdjustCameraPose(h, &mv, delta, r.below(6) - 1);
        mzMultiviewApply(h, src.data(), nullptr, src.data(), nullptr, out.data());
        EXPECT_EQ(mzMultiviewRelease(&h), 0);
    }
}

TEST(RandomRecords, SingleViewStaysInsideItsBuffers) {
    RandomRecords r(4);
    for (int trial = 0; trial < 150; ++trial) {
        CameraParam cam;
        Point2F image[6], world[6];
        r.camera(cam, image, world);
        SingleviewParam sv{};
        sv.flags = static_cast<uint32_t>(r.rng()) & 0x33FFu;
        sv.wideAngle = r.uniform(0, 3);
        sv.tiltX = r.uniform(-30, 30);
        sv.tiltY = r.uniform(-30, 30);
        sv.offsetX = r.uniform(-50, 50);
        sv.offsetY = r.uniform(-50, 50);
        sv.rotation = r.uniform(-180, 180);
        sv.scaleX = r.uniform(0, 3);
        sv.scaleY = r.uniform(0, 3);
        sv.bandWidth = r.uniform(0, 30);
        sv.width = 1 + r.below(100);
        sv.height = 1 + r.below(80);
        sv.centreX = r.uniform(0, 100);
        sv.centreY = r.uniform(0, 80);
        sv.overlayScale = r.uniform(0, 20);
        sv.camera = &cam;
        sv.vehicleLength = r.below(5000);

        ViewHandle h = mzSingleviewCreate(0);
        ASSERT_NE(h, nullptr);
        const std::vector<uint8_t> overlay(static_cast<size_t>(stride(40)) * 30, 200);
        mzSingleviewSetImage(h, 40, 30, overlay.data(), 0);
        mzSingleviewInit(h, &sv);
        const std::vector<uint8_t> src(static_cast<size_t>(stride(cam.width)) * cam.height, 9);
        std::vector<uint8_t> out(static_cast<size_t>(stride(sv.width)) * sv.height);
        mzSingleviewApply(h, src.data(), out.data());
        int n = 0;
        mzSingleviewGetLUTLen(h, &n);
        std::vector<uint8_t> lut(static_cast<size_t>(std::max(n, 1)));
        EXPECT_EQ(mzSingleviewGetLUT(h, lut.data(), n), 0);
        mzSingleviewGetMaskLen(h, &n, r.below(1000));
        std::vector<uint8_t> mask(static_cast<size_t>(std::max(n, 1)));
        EXPECT_EQ(mzSingleviewGetMask(h, mask.data(), n), 0);
        float horizontal = 0, vertical = 0;
        mzSingleviewGetFOV(h, &horizontal, &vertical);
        EXPECT_EQ(mzSingleviewRelease(&h), 0);
    }
}

}  // namespace
