// Rendering speed of a whole simulated scene (four pictures), the figure `simulate` is judged by.
#include <benchmark/benchmark.h>

#include "sim/render.h"
#include "sim/rig.h"

namespace {

void renderScene(benchmark::State& state) {
    mz::sim::RigOptions options;
    options.width = static_cast<int>(state.range(0));
    options.height = static_cast<int>(state.range(1));
    const mz::sim::Rig rig = mz::sim::drawRig(options);
    for (auto _ : state) {
        for (int c = 0; c < 4; ++c) benchmark::DoNotOptimize(mz::sim::renderCamera(rig, c));
    }
}
BENCHMARK(renderScene)->Args({720, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();

void drawBay(benchmark::State& state) {
    mz::sim::RigOptions options;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mz::sim::drawRig(options));
        ++options.seed;
    }
}
BENCHMARK(drawBay)->Unit(benchmark::kMillisecond);

}  // namespace
