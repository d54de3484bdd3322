// Speed of one calibration: mzMultiCalibApply on four cameras of a synthetic bay.
#include <benchmark/benchmark.h>

#include "mz/mzcalib.h"
#include "testing/synthetic_rig.h"

namespace {

void applyFourCameras(benchmark::State& state, const mztest::SyntheticRigOptions& options) {
    mztest::SyntheticRig rig;
    mztest::makeRig(rig, options);
    CalibHandle* handle = mzMultiCalibCreate(0);
    mzMultiCalibInit(handle, options.shape, options.markerSize, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mzMultiCalibApply(handle, rig.cameras.data(), nullptr));
        benchmark::ClobberMemory();
    }
    mzMultiCalibRelease(&handle);
}

void BM_MultiCalibApply720(benchmark::State& state) { applyFourCameras(state, {.seed = 3}); }
void BM_MultiCalibApply1920(benchmark::State& state) {
    applyFourCameras(state, {.seed = 3, .width = 1920, .height = 1080});
}

}  // namespace

BENCHMARK(BM_MultiCalibApply720)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiCalibApply1920)->Unit(benchmark::kMillisecond);
