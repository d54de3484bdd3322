// The stitching plan on plain data, as an engine other than the top view uses it: every kind of
// stitching code (blends tinted), a pixel without a source, and the turned output; and bilinear
// sampling, with and without the vector instructions, against the remap's two steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
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

// The plain sampling kernel, and the vector one where the processor has it (left on, as by default).
std::vector<bool> samplingKernels() {
    std::vector<bool> kernels = {false};
    if (mz::setVectorSampling(true)) kernels.push_back(true);
    mz::setVectorSampling(true);
    return kernels;
}

// The remap's bilinear step written out: each row across, then down, in exact integers.
std::array<uint8_t, 3> twoStep(const std::vector<uint8_t>& picture, int width, const mz::Sample& s) {
    if (s.src < 0) return {mz::kNoSourceFill[0], mz::kNoSourceFill[1], mz::kNoSourceFill[2]};
    const std::size_t stride = mz::rowBytes(width);
    std::array<uint8_t, 3> out{};
    for (int ch = 0; ch < 3; ++ch) {
        const std::size_t at = static_cast<std::size_t>(s.src) + ch;
        const int top = (1024 - s.fx) * picture[at] + s.fx * picture[at + 3];
        const int bottom = (1024 - s.fx) * picture[at + stride] + s.fx * picture[at + stride + 3];
        out[ch] = static_cast<uint8_t>(((1024 - s.fy) * top + s.fy * bottom + (1 << 19)) >> 20);
    }
    return out;
}

// Random samples over a picture held in a buffer of exactly its size (a read past either end shows
// under the address sanitizer): extreme pixel values, fractions 0 and 1023 and the picture's last
// row and column often, samples without a source (with and without fractions), runs of every length.
TEST(StitchPlan, BilinearSamplingEqualsTheRemapsTwoStepsWithEitherKernel) {
    constexpr int kWidth = 37, kHeight = 9;  // rows padded: 111 bytes of pixels in 112
    std::mt19937 random(7);
    std::vector<uint8_t> picture(mz::rowBytes(kWidth) * kHeight);
    for (uint8_t& b : picture) {
        const uint32_t r = random() % 8;
        b = r == 0 ? 0 : r == 1 ? 255 : static_cast<uint8_t>(random());
    }
    auto fraction = [&] {
        const uint16_t edges[] = {0, 1, 511, 512, 1022, 1023};
        return random() % 3 == 0 ? edges[random() % 6] : static_cast<uint16_t>(random() % 1024);
    };
    std::vector<mz::Sample> samples(4000);
    for (mz::Sample& s : samples) {
        const uint32_t kind = random() % 16;
        const int x = kind == 0 ? kWidth - 2 : kind == 1 ? 0 : static_cast<int>(random() % (kWidth - 1));
        const int y = kind == 2 ? kHeight - 2 : kind == 3 ? 0 : static_cast<int>(random() % (kHeight - 1));
        s = {static_cast<int32_t>(mz::rowBytes(kWidth) * y + 3 * x), fraction(), fraction()};
        if (kind == 4) s = {-1, 0, 0};
        if (kind == 5) s.src = -1;
    }
    samples.front() = {static_cast<int32_t>(mz::rowBytes(kWidth) * (kHeight - 2) + 3 * (kWidth - 2)), 1023, 1023};

    std::vector<uint8_t> want(3 * samples.size());
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const auto px = twoStep(picture, kWidth, samples[k]);
        std::copy(px.begin(), px.end(), want.begin() + 3 * k);
    }
    for (const bool vector : samplingKernels()) {
        mz::setVectorSampling(vector);
        std::vector<uint8_t> got(want.size() + 3, 0xAB);
        mz::samplePicture(picture.data(), kWidth, mz::Interp::kBilinear, samples, got.data());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "vector " << vector;
        EXPECT_EQ(got.back(), 0xAB) << "written past the end, vector " << vector;
        // Runs of 1 to 9 samples: the kernel's groups and their remainders.
        std::fill(got.begin(), got.end(), 0);
        for (std::size_t k = 0, n = 1; k < samples.size(); k += n, n = n % 9 + 1) {
            const std::size_t count = std::min(n, samples.size() - k);
            mz::sampleRun(picture.data(), kWidth, mz::Interp::kBilinear, &samples[k], count, &got[3 * k]);
        }
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "runs, vector " << vector;
    }
    mz::setVectorSampling(true);
}

// Random stitching codes (every kind, runs of every length, tinted blends) over random bilinear maps
// (some outside the picture): stitching straight from the pictures gives the same bytes with either
// kernel as sampling the compact layers first and stitching them.
TEST(StitchPlan, StitchingFromThePicturesEqualsStitchingCompactLayersWithEitherKernel) {
    constexpr int kW = 61, kH = 13, kSrcW = 20, kSrcH = 15;
    std::mt19937 random(11);
    std::array<std::vector<uint8_t>, kCameraCount> pictures;
    for (auto& p : pictures) {
        p.resize(mz::rowBytes(kSrcW) * kSrcH);
        for (uint8_t& b : p) b = static_cast<uint8_t>(random());
    }
    std::array<std::vector<float>, kCameraCount> maps;
    for (auto& m : maps) {
        m.resize(2 * kW * kH);
        for (std::size_t i = 0; i < m.size(); i += 2) {
            std::uniform_real_distribution<float> x(-1.0f, kSrcW), y(-1.0f, kSrcH);
            m[i] = x(random);
            m[i + 1] = y(random);
        }
    }
    // Codes in stretches, so that runs grow long: a camera, a blended pair, a constant.
    std::vector<uint8_t> blend(3 * kW * kH);
    for (std::size_t i = 0; i < blend.size();) {
        const uint8_t pure[] = {0, 255};
        const uint32_t kind = random() % 3;
        const uint8_t b0 = kind == 2 ? 77 : pure[random() % 2], b1 = kind == 2 ? 3 : pure[random() % 2];
        for (std::size_t n = random() % 12 + 1; n > 0 && i < blend.size(); --n, i += 3) {
            blend[i] = b0;
            blend[i + 1] = b1;
            blend[i + 2] = kind == 0 ? 0 : kind == 1 ? static_cast<uint8_t>(random() % 256) : 200;
        }
    }
    for (const bool rotated : {false, true}) {
        for (const bool tint : {false, true}) {
            const mz::StitchView view{kW, kH, rotated};
            mz::StitchPlan plan;
            mz::buildStitchPlan(view, blend.data(), {maps[0].data(), maps[1].data(), maps[2].data(), maps[3].data()},
                                {kSrcW, kSrcH}, mz::Interp::kBilinear, tint, plan);
            std::array<std::vector<uint8_t>, kCameraCount> compact;
            for (int c = 0; c < kCameraCount; ++c) {
                compact[c].resize(3 * plan.samples[c].size());
                mz::samplePicture(pictures[c].data(), kSrcW, mz::Interp::kBilinear, plan.samples[c], compact[c].data());
            }
            const std::size_t bytes = mz::rowBytes(view.outWidth()) * view.outHeight();
            std::vector<uint8_t> want(bytes);
            mz::stitch(plan, view.outWidth(),
                       {compact[0].data(), compact[1].data(), compact[2].data(), compact[3].data()}, want.data());
            for (const bool vector : samplingKernels()) {
                mz::setVectorSampling(vector);
                std::vector<uint8_t> got(bytes);
                mz::stitchPictures(plan, view.outWidth(),
                                   {pictures[0].data(), pictures[1].data(), pictures[2].data(), pictures[3].data()},
                                   kSrcW, mz::Interp::kBilinear, got.data());
                EXPECT_EQ(got, want) << "rotated " << rotated << " tint " << tint << " vector " << vector;
            }
            mz::setVectorSampling(true);
        }
    }
}

}  // namespace
