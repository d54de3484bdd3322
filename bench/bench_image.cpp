// Remap and table-builder throughput at the display unit's sizes: a 1280 x 800 output from a
// 720 x 480 camera picture.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/image.h"
#include "mz/mzview.h"

namespace {

constexpr int kOutWidth = 1280, kOutHeight = 800, kSrcWidth = 720, kSrcHeight = 480;

// A smooth fisheye-like map: mostly inside the source, with a rim of pixels without one.
std::vector<Point2F> makeMap() {
    std::vector<Point2F> map(static_cast<size_t>(kOutWidth) * kOutHeight);
    for (int i = 0; i < kOutHeight; ++i)
        for (int j = 0; j < kOutWidth; ++j) {
            const float u = (j - kOutWidth / 2.0f) / kOutWidth, v = (i - kOutHeight / 2.0f) / kOutHeight;
            const float r = 1.0f + 0.35f * (u * u + v * v);
            const float x = kSrcWidth / 2.0f + u * r * kSrcWidth * 1.05f;
            const float y = kSrcHeight / 2.0f + v * r * kSrcHeight * 1.05f;
            const bool inside = x >= 0 && x < kSrcWidth && y >= 0 && y < kSrcHeight;
            map[static_cast<size_t>(i) * kOutWidth + j] = inside ? Point2F{x, y} : Point2F{-1.0f, -1.0f};
        }
    return map;
}

struct RemapFixture {
    mz::ImageBufferPtr source{mz::createImageBuffer(3, kSrcWidth, kSrcHeight)};
    mz::ImageBufferPtr target{mz::createImageBuffer(3, kOutWidth, kOutHeight)};
    std::vector<Point2F> map = makeMap();
    std::vector<float*> rows;

    RemapFixture() {
        std::mt19937 rng(1);
        for (int i = 0; i < kSrcHeight; ++i)
            for (int j = 0; j < source->stride; ++j) source->rows[i][j] = static_cast<uint8_t>(rng());
        for (int i = 0; i < kOutHeight; ++i) rows.push_back(&map[static_cast<size_t>(i) * kOutWidth].x);
    }
};

void remap(benchmark::State& state, int flags) {
    RemapFixture f;
    const uint8_t fill[3] = {0, 0, 0};
    for (auto _ : state) {
        mzRemap(f.source.get(), f.target.get(), f.rows.data(), flags, fill);
        benchmark::DoNotOptimize(f.target->rows[kOutHeight / 2][0]);
    }
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(kOutWidth) * kOutHeight, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RemapNearest(benchmark::State& state) { remap(state, 0); }
void BM_RemapBilinear(benchmark::State& state) { remap(state, 1); }
void BM_RemapBicubic(benchmark::State& state) { remap(state, 2); }

void BM_MakeBinView(benchmark::State& state) {
    const std::vector<Point2F> map = makeMap();
    std::vector<uint8_t> out(4 * map.size());
    for (auto _ : state) {
        int len = 0;
        mzMakeBinView(kOutWidth, kOutHeight, map.data(), out.data(), &len, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(map.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_MakeBinMaskYCbCr(benchmark::State& state) {
    const int stride = MZ_ROW_STRIDE24(kOutWidth);
    std::vector<uint8_t> mask(static_cast<size_t>(stride) * kOutHeight);
    std::mt19937 rng(2);
    const uint8_t keys[4][2] = {{0, 0}, {255, 0}, {255, 255}, {0, 255}};
    for (size_t k = 0; k + 2 < mask.size(); k += 3) {
        // Mostly key colours with blend shares, as a stitching mask is.
        const unsigned pick = rng() % 5;
        mask[k] = pick < 4 ? keys[pick][0] : static_cast<uint8_t>(rng());
        mask[k + 1] = pick < 4 ? keys[pick][1] : static_cast<uint8_t>(rng());
        mask[k + 2] = static_cast<uint8_t>(rng());
    }
    std::vector<uint8_t> out(2 * static_cast<size_t>(kOutWidth) * kOutHeight);
    for (auto _ : state) {
        int len = 0;
        mzMakeBinMaskYCbCr(kOutWidth, kOutHeight, mask.data(), out.data(), &len);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(kOutWidth) * kOutHeight, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_RemapNearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemapBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemapBicubic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBinView)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBinMaskYCbCr)->Unit(benchmark::kMillisecond);
