// What the refinement adds to Apply AVM: the corners of four rendered 720x480 pictures, and the
// joint refinement of the rig from the calibration library's solution.
#include <benchmark/benchmark.h>

#include <array>
#include <span>

#include "refine/refinement.h"
#include "sim/render.h"
#include "testing/refine_bay.h"

namespace {

using mz::refine::test::Bay;

void BM_RefineCorners720(benchmark::State& state) {
    Bay bay(1);
    std::array<mz::sim::Picture, 4> pictures;
    std::array<std::span<const uint8_t>, 4> spans;
    for (int k = 0; k < 4; ++k) {
        pictures[k] = mz::sim::renderCamera(bay.rig, k);
        spans[k] = pictures[k].bytes;
    }
    const auto given = bay.image;
    mz::refine::RefinementReport report;
    for (auto _ : state) {
        bay.image = given;
        mz::refine::refineCorners(bay.cams.data(), spans, report);
        benchmark::ClobberMemory();
    }
}

void BM_RefineRig720(benchmark::State& state) {
    Bay bay(1);
    bay.calibrate();
    const auto solved = bay.cams;
    const auto world = bay.world;
    for (auto _ : state) {
        bay.cams = solved;
        bay.world = world;
        benchmark::DoNotOptimize(mz::refine::refineRig(bay.cams.data(), 0, 800, nullptr));
    }
}

}  // namespace

BENCHMARK(BM_RefineCorners720)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefineRig720)->Unit(benchmark::kMillisecond);
