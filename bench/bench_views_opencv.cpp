// The stitched top view's Apply beside the same work done with OpenCV, from the engine's own tables:
// 1280 x 800 from four 720 x 480 pictures, bilinear, blend mode 0, front up (arg 0) or turned (arg 1:
// the working image turned so that the front faces left).
//
// The OpenCV side takes the engine's coordinate maps (turned into output order), converts them to
// fixed point (cv::convertMaps, CV_16SC2 + CV_16UC1), remaps every camera over the rectangle of the
// output it supplies, copies each camera's own pixels and the constant pixels (vehicle, lines) under
// masks, and blends every overlapping pair with the engine's shares (cv::blendLinear). Its bytes
// differ a little (5 fraction bits instead of 10; float blending), the amount of work does not.
//
// Both run alternately in every iteration, on one thread; counters: engine and OpenCV milliseconds
// per Apply (CPU time of the thread) and their ratio.
#include <benchmark/benchmark.h>
#include <time.h>

#include <array>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/stitch_plan.h"
#include "view/topview.h"

namespace {

constexpr int kWidth = 1280, kHeight = 800, kSourceWidth = 720, kSourceHeight = 480;

double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

struct Pair {
    int p, q;
    cv::Rect roi;
    cv::Mat weightP, weightQ;  // CV_32F over roi
    cv::Mat mask;              // CV_8U over roi
};

// The OpenCV pipeline, prepared from the engine's maps and stitching map.
struct OpenCvTopView {
    std::array<cv::Mat, mz::kCameraCount> map1, map2;  // fixed-point maps, output orientation
    std::array<cv::Rect, mz::kCameraCount> roi;        // the output a camera supplies (copies and blends)
    std::array<cv::Mat, mz::kCameraCount> copyMask;    // CV_8U, whole output
    std::array<cv::Mat, mz::kCameraCount> layer;       // CV_8UC3, whole output
    std::vector<Pair> pairs;
    cv::Mat constants, constantMask;
    cv::Rect constantRoi;
    cv::Mat blended;

    OpenCvTopView(const mz::TopviewInternals& in, bool rotated) {
        const mz::StitchView view{in.workWidth, in.workHeight, rotated};
        const int w = view.outWidth(), h = view.outHeight();
        // The engine's own decoding of the stitching map, per output pixel.
        mz::StitchPlan plan;
        mz::buildStitchPlan(view, in.blendMap, {in.maps[0], in.maps[1], in.maps[2], in.maps[3]},
                            {in.sourceWidth, in.sourceHeight}, mz::Interp::kBilinear, false, plan);
        for (int c = 0; c < mz::kCameraCount; ++c) {
            cv::Mat mx(h, w, CV_32F), my(h, w, CV_32F);
            for (int i = 0; i < w * h; ++i) {
                const std::size_t k = view.workIndex(static_cast<std::size_t>(i));
                mx.at<float>(i / w, i % w) = in.maps[c][2 * k];
                my.at<float>(i / w, i % w) = in.maps[c][2 * k + 1];
            }
            cv::convertMaps(mx, my, map1[c], map2[c], CV_16SC2);
            copyMask[c] = cv::Mat::zeros(h, w, CV_8U);
            layer[c] = cv::Mat::zeros(h, w, CV_8UC3);
        }
        constants = cv::Mat::zeros(h, w, CV_8UC3);
        constantMask = cv::Mat::zeros(h, w, CV_8U);
        blended = cv::Mat::zeros(h, w, CV_8UC3);
        std::array<std::vector<cv::Point>, mz::kCameraCount> used;
        std::vector<cv::Point> constant;
        std::array<std::array<std::vector<cv::Point>, mz::kCameraCount>, mz::kCameraCount> pairPixels;
        for (int i = 0; i < w * h; ++i) {
            const mz::StitchOp& op = plan.ops[static_cast<std::size_t>(i)];
            const cv::Point at(i % w, i / w);
            if (op.kind == mz::kCopy) {
                copyMask[op.p].at<uint8_t>(at) = 255;
                used[op.p].push_back(at);
            } else if (op.kind == mz::kConstant) {
                constants.at<cv::Vec3b>(at) = {op.p, op.q, op.w};
                constantMask.at<uint8_t>(at) = 255;
                constant.push_back(at);
            } else {
                used[op.p].push_back(at);
                used[op.q].push_back(at);
                pairPixels[op.p][op.q].push_back(at);
            }
        }
        for (int c = 0; c < mz::kCameraCount; ++c) roi[c] = used[c].empty() ? cv::Rect() : cv::boundingRect(used[c]);
        constantRoi = constant.empty() ? cv::Rect() : cv::boundingRect(constant);
        for (int p = 0; p < mz::kCameraCount; ++p) {
            for (int q = 0; q < mz::kCameraCount; ++q) {
                if (pairPixels[p][q].empty()) continue;
                Pair pair{p, q, cv::boundingRect(pairPixels[p][q]), {}, {}, {}};
                pair.weightP = cv::Mat::zeros(pair.roi.size(), CV_32F);
                pair.weightQ = cv::Mat::zeros(pair.roi.size(), CV_32F);
                pair.mask = cv::Mat::zeros(pair.roi.size(), CV_8U);
                for (const cv::Point& at : pairPixels[p][q]) {
                    const float share =
                        static_cast<float>(plan.ops[static_cast<std::size_t>(at.y) * w + at.x].w) / 256.0f;
                    const cv::Point local = at - pair.roi.tl();
                    pair.weightP.at<float>(local) = 1.0f - share;
                    pair.weightQ.at<float>(local) = share;
                    pair.mask.at<uint8_t>(local) = 255;
                }
                pairs.push_back(std::move(pair));
            }
        }
    }

    void apply(const std::array<cv::Mat, mz::kCameraCount>& pictures, cv::Mat& out) {
        for (int c = 0; c < mz::kCameraCount; ++c) {
            if (roi[c].empty()) continue;
            cv::Mat dst = layer[c](roi[c]);
            cv::remap(pictures[c], dst, map1[c](roi[c]), map2[c](roi[c]), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                      cv::Scalar(0, 0, 255));
            layer[c](roi[c]).copyTo(out(roi[c]), copyMask[c](roi[c]));
        }
        if (!constantRoi.empty()) constants(constantRoi).copyTo(out(constantRoi), constantMask(constantRoi));
        for (const Pair& pair : pairs) {
            cv::Mat mixed = blended(pair.roi);
            cv::blendLinear(layer[pair.p](pair.roi), layer[pair.q](pair.roi), pair.weightP, pair.weightQ, mixed);
            mixed.copyTo(out(pair.roi), pair.mask);
        }
    }
};

void BM_TopViewApplyBesideOpenCv(benchmark::State& state) {
    cv::setNumThreads(0);  // one thread, as the engine
    const bool rotated = state.range(0) != 0;
    auto rig = mztest::makeViewRig(kWidth, kHeight, 12.0f, MZ_MV_BILINEAR | (rotated ? MZ_MV_ROTATED : 0u), 0);
    const std::array<std::vector<uint8_t>, 4> pictures = {
        mztest::noisePicture(kSourceWidth, kSourceHeight, 1), mztest::noisePicture(kSourceWidth, kSourceHeight, 2),
        mztest::noisePicture(kSourceWidth, kSourceHeight, 3), mztest::noisePicture(kSourceWidth, kSourceHeight, 4)};
    std::vector<uint8_t> engineOut(static_cast<size_t>(MZ_ROW_STRIDE24(kWidth)) * kHeight);
    std::vector<uint8_t> openCvOut(engineOut.size());
    ViewHandle h = mzMultiviewCreate(0);
    mzMultiviewInit(h, &rig->param);
    auto engineApply = [&] {
        mzMultiviewApply(h, pictures[MZ_CAMERA_FRONT].data(), pictures[MZ_CAMERA_LEFT].data(),
                         pictures[MZ_CAMERA_RIGHT].data(), pictures[MZ_CAMERA_REAR].data(), engineOut.data());
    };
    engineApply();  // makes the stitching plan
    mz::TopviewInternals in;
    if (!mz::topviewInternals(h, &in)) {
        state.SkipWithError("no top view");
        return;
    }
    OpenCvTopView pipeline(in, rotated);
    std::array<cv::Mat, mz::kCameraCount> sources;
    for (int c = 0; c < mz::kCameraCount; ++c)
        sources[c] = cv::Mat(kSourceHeight, kSourceWidth, CV_8UC3, const_cast<uint8_t*>(pictures[c].data()),
                             static_cast<size_t>(MZ_ROW_STRIDE24(kSourceWidth)));
    cv::Mat out(kHeight, kWidth, CV_8UC3, openCvOut.data(), static_cast<size_t>(MZ_ROW_STRIDE24(kWidth)));

    // The same picture, but for rounding: the share of bytes more than 2 apart.
    engineApply();
    pipeline.apply(sources, out);
    std::size_t apart = 0;
    for (std::size_t i = 0; i < engineOut.size(); ++i) apart += std::abs(engineOut[i] - openCvOut[i]) > 2;
    state.counters["apart"] = static_cast<double>(apart) / static_cast<double>(engineOut.size());

    double engineMs = 0, openCvMs = 0;
    for (auto _ : state) {
        const double t0 = threadMs();
        engineApply();
        const double t1 = threadMs();
        pipeline.apply(sources, out);
        const double t2 = threadMs();
        engineMs += t1 - t0;
        openCvMs += t2 - t1;
        benchmark::DoNotOptimize(engineOut.data());
        benchmark::DoNotOptimize(openCvOut.data());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["engine_ms"] = engineMs / n;
    state.counters["opencv_ms"] = openCvMs / n;
    state.counters["ratio"] = openCvMs > 0 ? engineMs / openCvMs : 0.0;
    mzMultiviewRelease(&h);
}
BENCHMARK(BM_TopViewApplyBesideOpenCv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
