// The stitching plan on plain data, as an engine other than the top view uses it: every kind of
// stitching code (blends tinted), a pixel without a source, and the turned output.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "view/stitch_plan.h"

namespace {

using mz::kCameraCount;

constexpr int kW = 3, kH = 2;  // working size
constexpr int kSrcW = 4, kSrcH = 2;

// Camera c's picture: every channel of pixel (x, y) is 40 * c + 4 * y + x.
uint8_t sourceValue(int c, int x, int y) { return static_cast<uint8_t>(40 * c + 4 * y + x); }

std::vector<uint8_t> stitchAll(bool rotated, std::vector<std::size_t>* frontPixels) {
    const mz::StitchView view{kW, kH, rotated};
    // Working pixels in row order: front, front toward left, right / rear toward right, a constant, left.
    const std::vector<uint8_t> blend = {0, 0, 0, 0, 0, 128, 0, 255, 0, 255, 255, 64, 10, 20, 30, 255, 0, 0};
    std::array<std::vector<float>, kCameraCount> maps;
    std::array<std::vector<uint8_t>, kCameraCount> pictures;
    for (int c = 0; c < kCameraCount; ++c) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) maps[c].insert(maps[c].end(), {static_cast<float>(x), static_cast<float>(y)});
        pictures[c].assign(mz::rowBytes(kSrcW) * kSrcH, 0);
        for (int y = 0; y < kSrcH; ++y)
            for (int x = 0; x < kSrcW; ++x)
                for (int ch = 0; ch < 3; ++ch) pictures[c][mz::rowBytes(kSrcW) * y + 3 * x + ch] = sourceValue(c, x, y);
    }
    maps[mz::kFront][0] = maps[mz::kFront][1] = -1.0f;  // the front camera does not see working pixel 0
    mz::StitchPlan plan;
    mz::buildStitchPlan(view, blend.data(), {maps[0].data(), maps[1].data(), maps[2].data(), maps[3].data()},
                        {kSrcW, kSrcH}, mz::Interp::kNearest, /*tint=*/true, plan);
    EXPECT_TRUE(plan.complete(view.outHeight()));
    std::array<std::vector<uint8_t>, kCameraCount> compact;
    for (int c = 0; c < kCameraCount; ++c) {
        compact[c].resize(3 * plan.samples[c].size());
        mz::samplePicture(pictures[c].data(), kSrcW, mz::Interp::kNearest, plan.samples[c], compact[c].data());
    }
    std::vector<uint8_t> out(mz::rowBytes(view.outWidth()) * view.outHeight(), 0);
    mz::stitch(plan, view.outWidth(), {compact[0].data(), compact[1].data(), compact[2].data(), compact[3].data()},
               out.data());
    *frontPixels = mz::plannedPixels(view, plan, mz::kFront);
    return out;
}

TEST(StitchPlan, EveryCodeKindAndTheTurnedOutputFromPlainData) {
    auto blendTo = [](int p, int q, int w) { return static_cast<uint8_t>(((q - p) * w + p * 256) >> 8); };
    const int front = mz::kFront, rear = mz::kRear, left = mz::kLeft, right = mz::kRight;
    const uint8_t f = blendTo(sourceValue(front, 1, 0), sourceValue(left, 1, 0), 128);
    const uint8_t r = sourceValue(right, 2, 0), l = sourceValue(left, 2, 1);
    const uint8_t t = blendTo(sourceValue(rear, 0, 1), sourceValue(right, 0, 1), 64);
    auto tinted = [](int share, uint8_t red) { return static_cast<uint8_t>((share + red) >> 1); };
    // Working pixels in row order; the first has no front source and shows the fill colour.
    const std::array<std::array<uint8_t, 3>, 6> want = {
        {{0, 0, 255}, {f, f, tinted(128, f)}, {r, r, r}, {t, t, tinted(64, t)}, {10, 20, 30}, {l, l, l}}};

    std::vector<std::size_t> frontPixels;
    const std::vector<uint8_t> plain = stitchAll(false, &frontPixels);
    for (int i = 0; i < 6; ++i)
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(plain[mz::rowBytes(kW) * (i / kW) + 3 * (i % kW) + ch], want[i][ch]) << "pixel " << i << ch;
    EXPECT_EQ(frontPixels, (std::vector<std::size_t>{0, 1}));

    // Turned: output (x, y) shows working (W - 1 - y, x); output is kH wide and kW high.
    const std::vector<uint8_t> turned = stitchAll(true, &frontPixels);
    for (int y = 0; y < kW; ++y)
        for (int x = 0; x < kH; ++x)
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(turned[mz::rowBytes(kH) * y + 3 * x + ch], want[x * kW + (kW - 1 - y)][ch]) << x << "," << y;
    EXPECT_EQ(frontPixels, (std::vector<std::size_t>{1, 0}));  // output order: working 1 comes first
}

}  // namespace
