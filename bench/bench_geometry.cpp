// Lens mappings (called once per table entry when views are built) and the homography estimate
// (once per camera per build).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "mz/mzgeometry.h"
#include "geometry/matrix.h"

namespace {

CameraParam benchCamera() {
    CameraParam cam{};
    cam.f = 300.0f;
    cam.fx = 230.0f;
    cam.fy = 258.75f;
    cam.cx = 360.0f;
    cam.cy = 240.0f;
    cam.k1 = 1.0f;
    cam.k2 = -0.052f;
    cam.k3 = 0.0042f;
    cam.c1 = 1.0f;
    cam.c3 = 0.05f;
    cam.c5 = 0.002f;
    return cam;
}

constexpr int kPoints = 1 << 20;

std::vector<Point2F> pixelGrid() {
    std::vector<Point2F> p(kPoints);
    for (int i = 0; i < kPoints; ++i)
        p[i] = {static_cast<float>(i % 1024) * 0.7f, static_cast<float>(i / 1024) * 0.47f};
    return p;
}

void BM_LensInverse(benchmark::State& state) {
    const CameraParam cam = benchCamera();
    const std::vector<Point2F> in = pixelGrid();
    std::vector<Point2F> out(kPoints);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i) mzFeatureUndistortion(&in[i], &out[i], &cam);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_LensInverse)->Unit(benchmark::kMillisecond);

void BM_LensForward(benchmark::State& state) {
    const CameraParam cam = benchCamera();
    std::vector<Point2F> in = pixelGrid();
    for (Point2F& p : in) p = {p.x - 360.0f, p.y - 240.0f};
    std::vector<Point2F> out(kPoints);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i) mzFeatureDistortion(&in[i], &out[i], &cam);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_LensForward)->Unit(benchmark::kMillisecond);

void BM_Homography6(benchmark::State& state) {
    const Point2F src[6] = {{-1500, 900}, {-900, 1300}, {-1700, 1500}, {1500, 900}, {1700, 1500}, {900, 1300}};
    const Point2F dst[6] = {{268, -37}, {120, -20}, {237, 1}, {-229, -20}, {-180, 4}, {-100, -30}};
    MatrixPtr h(3, 3);
    for (auto _ : state) {
        mzGetHomography2D(src, dst, 6, h.get());
        benchmark::DoNotOptimize(h[0][0]);
    }
}
BENCHMARK(BM_Homography6)->Unit(benchmark::kMicrosecond);

}  // namespace
