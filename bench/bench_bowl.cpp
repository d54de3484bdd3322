// The bowl views: a 1280 x 720 view of the simulated sample bay (seed 1) from four 720 x 480
// pictures (bilinear), the cameras posed from their true point pairs, the virtual camera behind
// and above the vehicle. Engine memory is the heap the engine holds after Init and one Apply,
// measured on the process's first engines (later ones draw on the blocks earlier ones left).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cmath>
#include <vector>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
#include "mz/mzview.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

struct Bay {
    mz::sim::Rig rig = mz::sim::drawRig(mz::sim::RigOptions{});
    std::array<CameraParam, 5> cameras{};
    std::array<std::array<Point2F, 6>, 4> image{}, floor{};
    std::array<std::vector<uint8_t>, 4> pictures;
    MultiviewParam param{};
    std::array<double, 3> engineMB{};  // by kind (1 and 2)

    Bay() {
        for (int c = 0; c < 4; ++c) {
            const mz::sim::CameraPoints points = mz::sim::cameraPoints(rig, c);
            for (int i = 0; i < 6; ++i) {
                image[c][i] = {static_cast<float>(points.image[i].x), static_cast<float>(points.image[i].y)};
                // The records' ground frame has y toward the rear.
                floor[c][i] = {static_cast<float>(points.floor[i].x), static_cast<float>(-points.floor[i].y)};
            }
            cameras[c] = mz::sim::cameraRecord(rig.cameras[c]);
            cameras[c].pointCount = 6;
            cameras[c].imagePoints = image[c].data();
            cameras[c].worldPoints = floor[c].data();
            pictures[c] = mz::sim::packedPixels(mz::sim::renderCamera(rig, c, 1));
        }
        // Behind the vehicle 6 m, 3.9 m up, looking at a point 0.8 m ahead of its centre.
        CameraParam& v = cameras[4];
        const double eye[3] = {0, 6000, -3900}, target[3] = {0, -800, 0};
        double d[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
        const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (double& x : d) x /= n;
        v.posX = 0;
        v.posY = 6000;
        v.posZ = -3900;
        double down = 0, turn = 0;
        mz::eulerOfAxis(d, down, turn);
        v.rotX = static_cast<float>(mz::degrees(down));
        v.rotZ = static_cast<float>(mz::degrees(turn));
        v.fx = v.fy = 640;
        param.flags = MZ_MV_BILINEAR;
        param.vehicleWidth = 1850;
        param.vehicleLength = 4600;
        param.frontFov = param.rearFov = 150;
        param.blendWidth = 10;
        param.vehicleColour = 0x404040;
        param.bowlWallX = 1800;
        param.bowlWallY = 3000;
        param.bowlHeight = 2500;
        param.bowlFloorY = 5200;
        param.width = 1280;
        param.height = 720;
        param.centreX = 640;
        param.centreY = 360;
        param.cameras = cameras.data();
        measureEngines();
    }

    // Both kinds alive at once, before any engine was released: all their memory is new.
    void measureEngines() {
        std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 720);
        ViewHandle h[3] = {};
        for (unsigned kind = 1; kind <= 2; ++kind) {
            const struct mallinfo2 before = mallinfo2();
            h[kind] = mzMultiviewCreate(kind);
            mzMultiviewInit(h[kind], &param);
            mzMultiviewApply(h[kind], pictures[0].data(), pictures[2].data(), pictures[3].data(), pictures[1].data(),
                             out.data());
            const struct mallinfo2 after = mallinfo2();
            engineMB[kind] = static_cast<double>((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd)) /
                             (1024.0 * 1024.0);
        }
        mzMultiviewRelease(&h[1]);
        mzMultiviewRelease(&h[2]);
    }
};

Bay& bay() {
    static Bay b;
    return b;
}

void applyAll(ViewHandle h, Bay& b, uint8_t* out) {
    mzMultiviewApply(h, b.pictures[0].data(), b.pictures[2].data(), b.pictures[3].data(), b.pictures[1].data(), out);
}

void BM_BowlInit(benchmark::State& state) {
    Bay& b = bay();
    for (auto _ : state) {
        state.PauseTiming();
        ViewHandle h = mzMultiviewCreate(static_cast<unsigned>(state.range(0)));
        state.ResumeTiming();
        mzMultiviewInit(h, &b.param);
        state.PauseTiming();
        mzMultiviewRelease(&h);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BowlInit)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A second Init on a live engine, as after moving the virtual camera (the layers of the last
// pictures are kept across it).
void BM_BowlReinitAfterApply(benchmark::State& state) {
    Bay& b = bay();
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 720);
    ViewHandle h = mzMultiviewCreate(2);
    mzMultiviewInit(h, &b.param);
    for (auto _ : state) {
        state.PauseTiming();
        applyAll(h, b, out.data());
        state.ResumeTiming();
        mzMultiviewInit(h, &b.param);
    }
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_BowlReinitAfterApply)->Unit(benchmark::kMillisecond);

void BM_BowlApply(benchmark::State& state) {
    Bay& b = bay();
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 720);
    ViewHandle h = mzMultiviewCreate(static_cast<unsigned>(state.range(0)));
    mzMultiviewInit(h, &b.param);
    applyAll(h, b, out.data());
    state.counters["engineMB"] = b.engineMB[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        applyAll(h, b, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_BowlApply)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
