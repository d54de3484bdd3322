// Corner and marker detection per picture, on the front camera of the simulated fixed bay.
#include <benchmark/benchmark.h>

#include <vector>

#include "mz/mzview.h"
#include "sim/fixed_bay.h"
#include "sim/render.h"

namespace {

struct FrontPicture {
    std::vector<uint8_t> pixels;
    CameraParam camera{};
    std::vector<Point2F> image = std::vector<Point2F>(MZ_DETECT_POINT_CAPACITY);
    std::vector<Point2F> world = std::vector<Point2F>(MZ_DETECT_POINT_CAPACITY);

    FrontPicture() {
        const mz::sim::Rig rig = mz::sim::fixedRig(mz::sim::RigOptions{});
        pixels = mz::sim::packedPixels(mz::sim::renderCamera(rig, mz::sim::kFront));
        camera = mz::sim::cameraRecord(rig.cameras[mz::sim::kFront]);
        camera.markerLength = 800;
        camera.imagePoints = image.data();
        camera.worldPoints = world.data();
    }
};

FrontPicture& front() {
    static FrontPicture picture;
    return picture;
}

void BM_DetectCorner(benchmark::State& state) {
    FrontPicture& p = front();
    for (auto _ : state) benchmark::DoNotOptimize(mzDetectCorner(p.pixels.data(), &p.camera, 0));
}
BENCHMARK(BM_DetectCorner)->Unit(benchmark::kMillisecond);

void BM_DetectMarker(benchmark::State& state) {
    FrontPicture& p = front();
    for (auto _ : state) benchmark::DoNotOptimize(mzDetectMarker(p.pixels.data(), &p.camera, 0, nullptr));
}
BENCHMARK(BM_DetectMarker)->Unit(benchmark::kMillisecond);

}  // namespace
