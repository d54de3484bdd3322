// Pattern detection on simulated camera pictures: one call per camera, on one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <vector>

#include "mz/mzpattern.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

struct Scene {
    std::vector<uint8_t> pixels;  // rows without padding
    CameraParam camera{};
    Point2F points[6] = {};
};

const Scene& scene(int width, int height, int camera) {
    static std::map<std::tuple<int, int, int>, Scene> scenes;
    auto [it, fresh] = scenes.try_emplace({width, height, camera});
    if (fresh) {
        mz::sim::RigOptions options;
        options.width = width;
        options.height = height;
        const mz::sim::Rig rig = mz::sim::drawRig(options);
        const mz::sim::Picture pic = mz::sim::renderCamera(rig, camera);
        Scene& s = it->second;
        s.pixels.resize(static_cast<size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            std::copy_n(pic.row(y), width * 3, s.pixels.data() + static_cast<size_t>(y) * width * 3);
        }
        const mz::sim::Lens& l = rig.cameras[camera].lens;
        CameraParam& c = s.camera;
        c.f = l.f, c.fx = l.fx, c.fy = l.fy, c.cx = l.cx, c.cy = l.cy;
        c.k1 = l.k[0], c.k2 = l.k[1], c.k3 = l.k[2], c.k4 = l.k[3], c.k5 = l.k[4];
        c.c0 = l.c[0], c.c1 = l.c[1], c.c2 = l.c[2], c.c3 = l.c[3], c.c4 = l.c[4];
        c.c5 = l.c[5], c.c6 = l.c[6], c.c7 = l.c[7], c.c8 = l.c[8];
        c.width = width;
        c.height = height;
    }
    return it->second;
}

// Arguments: width, height, camera (0 front, 1 rear, 2 left, 3 right).
void BM_GetPatternIP(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const Scene& s = scene(w, h, static_cast<int>(state.range(2)));
    CameraParam camera = s.camera;
    Point2F points[6];
    camera.imagePoints = points;
    const int32_t rects[8] = {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
    for (auto _ : state) {
        benchmark::DoNotOptimize(mzGetPatternIP(s.pixels.data(), &camera, rects));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GetPatternIP)
    ->ArgsProduct({{720}, {480}, {0, 1, 2, 3}})
    ->ArgsProduct({{1280}, {720}, {0, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
