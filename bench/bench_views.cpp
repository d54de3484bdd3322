// View engines: the stitched top view of 1280 x 800 pixels from four 720 x 480 pictures (bilinear),
// and an 800 x 480 single view. Engine memory is the heap the engine holds after Init.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/big_buffer.h"
#include "view/stitch_plan.h"

namespace {

struct Pictures {
    std::vector<uint8_t> p[4] = {mztest::noisePicture(720, 480, 1), mztest::noisePicture(720, 480, 2),
                                 mztest::noisePicture(720, 480, 3), mztest::noisePicture(720, 480, 4)};
};

// First argument 0: front up (1280 wide); 1: the full top view, output turned so the front faces
// left. blendMode: 0 automatic, 1 by field of view, 2 and 3 seam lines.
// Heap blocks in use (small and mapped alike), less those waiting in the view library's pool.
double heldMB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd - mz::pooledBytes()) / (1024.0 * 1024.0);
}

std::unique_ptr<mztest::ViewRig> topRig(const benchmark::State& state, int blendMode = 0) {
    const bool rotated = state.range(0) != 0;
    return mztest::makeViewRig(1280, 800, 12.0f, MZ_MV_BILINEAR | (rotated ? MZ_MV_ROTATED : 0u), blendMode);
}

void applyAll(ViewHandle h, const Pictures& pics, uint8_t* out) {
    mzMultiviewApply(h, pics.p[0].data(), pics.p[2].data(), pics.p[3].data(), pics.p[1].data(), out);
}

// A whole Init: the ground scale changes every time, so all four maps are computed again. The
// stitching plan is made by the next Apply, not here. Second argument: the blend mode. Init works
// on two threads: the CPU column is the whole process's.
void BM_MultiviewInit(benchmark::State& state) {
    auto rig = topRig(state, static_cast<int>(state.range(1)));
    const double before = heldMB();
    ViewHandle h = mzMultiviewCreate(0);
    mzMultiviewInit(h, &rig->param);
    state.counters["engineMB"] = heldMB() - before;
    bool odd = false;
    for (auto _ : state) {
        rig->param.mmPerPixel = (odd = !odd) ? 12.5f : 12.0f;
        mzMultiviewInit(h, &rig->param);
    }
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_MultiviewInit)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The configuration's own blend mode ("Predefined"): Init estimates the homographies and leaves
// the four maps to their first reader. Second argument 1: the first table read after every Init,
// which makes them (as Save LUT does); 0: Init alone (a configuration's load).
void BM_MultiviewInitPredefined(benchmark::State& state) {
    auto rig = topRig(state, 4);
    std::vector<uint8_t> lut(static_cast<size_t>(1280) * 800 * 4);
    ViewHandle h = mzMultiviewCreate(0);
    mzMultiviewInit(h, &rig->param);
    bool odd = false;
    for (auto _ : state) {
        rig->param.mmPerPixel = (odd = !odd) ? 12.5f : 12.0f;
        mzMultiviewInit(h, &rig->param);
        if (state.range(1) != 0) mzMultiviewGetLUT(h, lut.data(), static_cast<int>(lut.size()), MZ_CAMERA_FRONT);
    }
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_MultiviewInitPredefined)
    ->ArgsProduct({{0}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The Init an operator meets: a new handle every time (created, Init, released), against the
// re-Init of one handle above. Both orientations, automatic blending.
void BM_MultiviewInitFreshHandle(benchmark::State& state) {
    auto rig = topRig(state);
    for (auto _ : state) {
        ViewHandle h = mzMultiviewCreate(0);
        mzMultiviewInit(h, &rig->param);
        mzMultiviewRelease(&h);
    }
}
BENCHMARK(BM_MultiviewInitFreshHandle)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same on memory no handle has used: the pool is emptied before every Init, as for the first
// handle of a process (every page of the maps touched for the first time).
void BM_MultiviewInitFreshMemory(benchmark::State& state) {
    auto rig = topRig(state);
    for (auto _ : state) {
        state.PauseTiming();
        mz::emptyPool();
        ViewHandle h = mzMultiviewCreate(0);
        state.ResumeTiming();
        mzMultiviewInit(h, &rig->param);
        state.PauseTiming();
        mzMultiviewRelease(&h);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MultiviewInitFreshMemory)->Arg(0)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// The preview after one adjustment button: one camera moved, Init (the other three maps are kept)
// and the Apply that shows it, which makes the stitching plan.
void BM_MultiviewOneCameraInitAndApply(benchmark::State& state) {
    auto rig = topRig(state);
    Pictures pics;
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 800);
    ViewHandle h = mzMultiviewCreate(0);
    mzMultiviewInit(h, &rig->param);
    applyAll(h, pics, out.data());
    bool odd = false;
    for (auto _ : state) {
        rig->world[MZ_CAMERA_LEFT][0].x += (odd = !odd) ? 20.0f : -20.0f;
        mzMultiviewInit(h, &rig->param);
        applyAll(h, pics, out.data());
    }
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_MultiviewOneCameraInitAndApply)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Args: orientation (as above) and blend mode (0 automatic, 1 by field of view, 2 lines over
// blended corners, 3 lines between pure cameras). The first Apply makes the stitching plan.
void applyBench(benchmark::State& state, bool vector) {
    const bool rotated = state.range(0) != 0;
    auto rig = mztest::makeViewRig(1280, 800, 12.0f, MZ_MV_BILINEAR | (rotated ? MZ_MV_ROTATED : 0u),
                                   static_cast<int>(state.range(1)));
    Pictures pics;
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 800);
    ViewHandle h = mzMultiviewCreate(0);
    mzMultiviewInit(h, &rig->param);
    applyAll(h, pics, out.data());
    const bool on = mz::setVectorSampling(vector);
    if (vector && !on) state.SkipWithError("no vector sampling on this processor");
    for (auto _ : state) {
        applyAll(h, pics, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    mz::setVectorSampling(true);
    mzMultiviewRelease(&h);
}

void BM_MultiviewApply(benchmark::State& state) { applyBench(state, true); }
BENCHMARK(BM_MultiviewApply)->ArgsProduct({{0, 1}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond);

// The same with the plain (one pixel at a time) sampling, for comparison.
void BM_MultiviewApplyPlain(benchmark::State& state) { applyBench(state, false); }
BENCHMARK(BM_MultiviewApplyPlain)->ArgsProduct({{0, 1}, {0}})->Unit(benchmark::kMillisecond);

SingleviewParam rearView(mztest::ViewRig& rig) {
    SingleviewParam v{};
    v.flags = MZ_SV_BILINEAR | MZ_SV_LENS;
    v.scaleX = 1.2f;
    v.scaleY = 1.2f;
    v.width = 800;
    v.height = 480;
    v.centreX = 400;
    v.centreY = 240;
    v.overlayScale = 10;
    v.camera = &rig.cameras[1];
    v.vehicleLength = 4600;
    return v;
}

void BM_SingleviewInit(benchmark::State& state) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig);
    ViewHandle h = mzSingleviewCreate(0);
    bool odd = false;
    for (auto _ : state) {
        v.scaleX = (odd = !odd) ? 1.25f : 1.2f;  // a new map every time
        mzSingleviewInit(h, &v);
    }
    mzSingleviewRelease(&h);
}
BENCHMARK(BM_SingleviewInit)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SingleviewApply(benchmark::State& state) {
    auto rig = mztest::makeViewRig(200, 300, 30, 0, 0);
    SingleviewParam v = rearView(*rig);
    const std::vector<uint8_t> source = mztest::noisePicture(720, 480, 5);
    std::vector<uint8_t> out(static_cast<size_t>(800 * 3) * 480);
    ViewHandle h = mzSingleviewCreate(0);
    mzSingleviewInit(h, &v);
    for (auto _ : state) {
        mzSingleviewApply(h, source.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    mzSingleviewRelease(&h);
}
BENCHMARK(BM_SingleviewApply)->Unit(benchmark::kMillisecond);

}  // namespace
