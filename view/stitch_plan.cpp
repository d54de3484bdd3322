// The stitching plan: per camera, the source offsets and interpolation weights of the output pixels
// it must supply, in output order, and per output pixel, the stitching step, packed into runs.
#include "view/stitch_plan.h"

#include <cstring>

#include "geometry/image.h"

namespace mz {
namespace {

constexpr int kFracBits = 10;
constexpr int kFracOne = 1 << kFracBits;
constexpr int kCubicShift = 32;

// Cubic convolution weights (a = -0.75) at k/1024 and 1 + k/1024, times 2^32: the same integers
// as the remap's, so that a precomputed bicubic sample equals the remap's.
struct CubicWeights {
    int64_t near[kFracOne + 1];
    int64_t far[kFracOne + 1];

    CubicWeights() {
        for (int64_t k = 0; k <= kFracOne; ++k) {
            near[k] = 5 * k * k * k - 9 * k * k * kFracOne + (int64_t{1} << kCubicShift);
            const int64_t m = kFracOne + k;
            far[k] = -3 * m * m * m + 15 * m * m * kFracOne - 24 * m * kFracOne * kFracOne +
                     3 * (int64_t{1} << kCubicShift);
        }
    }
};

const CubicWeights& cubicWeights() {
    static const CubicWeights weights;
    return weights;
}

inline uint8_t roundCubic(__int128 v) {
    constexpr __int128 kHalf = static_cast<__int128>(1) << (2 * kCubicShift - 1);
    if (v <= 0) return 0;
    const __int128 r = (v + kHalf) >> (2 * kCubicShift);
    return static_cast<uint8_t>(r > 255 ? 255 : r);
}

// Camera p's pixels towards camera q's by the per-pixel shares (of 256); tinted pixels go reddish.
inline void blendRun(const uint8_t* p, const uint8_t* q, const uint8_t* share, uint32_t count, bool tint, uint8_t* d) {
    for (uint32_t n = 0; n < count; ++n, p += 3, q += 3, d += 3) {
        const int w = share[n];
        for (int ch = 0; ch < 3; ++ch) d[ch] = static_cast<uint8_t>(((q[ch] - p[ch]) * w + p[ch] * 256) >> 8);
        if (tint) d[2] = static_cast<uint8_t>((w + d[2]) >> 1);
    }
}

void buildRuns(const StitchView& view, StitchPlan& plan) {
    plan.runs.clear();
    plan.rowRuns.assign(1, 0);
    plan.blendShares.clear();
    plan.constants.clear();
    const std::size_t w = static_cast<std::size_t>(view.outWidth());
    for (std::size_t i = 0, col = 0; i < plan.ops.size(); ++i, col = col + 1 == w ? 0 : col + 1) {
        const StitchOp& op = plan.ops[i];
        const bool rowStart = col == 0;
        if (rowStart && i != 0) plan.rowRuns.push_back(static_cast<uint32_t>(plan.runs.size()));
        StitchRun* last = plan.runs.empty() || rowStart ? nullptr : &plan.runs.back();
        const bool same = last != nullptr && last->kind == op.kind &&
                          (op.kind == kConstant || (last->p == op.p && (op.kind == kCopy || last->q == op.q)));
        if (same) {
            ++last->count;
        } else {
            plan.runs.push_back({op.kind, op.p, op.q, 1});
        }
        if (op.kind == kBlend || op.kind == kBlendTint) {
            plan.blendShares.push_back(op.w);
        } else if (op.kind == kConstant) {
            plan.constants.insert(plan.constants.end(), {op.p, op.q, op.w});
        }
    }
    plan.rowRuns.push_back(static_cast<uint32_t>(plan.runs.size()));
}

}  // namespace

void StitchPlan::clear() {
    ops.clear();
    rowRuns.clear();
    for (auto& s : samples) s.clear();
}

void StitchPlan::release() {
    std::vector<StitchOp>().swap(ops);
    std::vector<StitchRun>().swap(runs);
    std::vector<uint32_t>().swap(rowRuns);
    for (auto& s : samples) std::vector<Sample>().swap(s);
}

Sample makeSample(const float* map, Interp mode, std::size_t work, SourceSize source) {
    const float mx = map[2 * work], my = map[2 * work + 1];
    Sample s = {-1, 0, 0};
    const int sw = source.width, sh = source.height;
    const int stride = static_cast<int>(rowBytes(sw));
    if (mode == Interp::kNearest) {
        int x, y;
        if (roundToInt(mx, &x) && roundToInt(my, &y) && x >= 0 && x < sw && y >= 0 && y < sh)
            s.src = y * stride + 3 * x;
        return s;
    }
    int X, Y;
    if (!roundToInt(mx * static_cast<float>(kFracOne), &X) || !roundToInt(my * static_cast<float>(kFracOne), &Y))
        return s;
    const int xi = X >> kFracBits, yi = Y >> kFracBits;
    const bool cubic = mode == Interp::kBicubic;
    const bool valid = cubic ? xi >= 1 && xi <= sw - 3 && yi >= 1 && yi <= sh - 3
                             : sw >= 2 && sh >= 2 && xi >= 0 && xi < sw - 1 && yi >= 0 && yi < sh - 1;
    if (!valid) return s;
    s.src = (cubic ? yi - 1 : yi) * stride + 3 * (cubic ? xi - 1 : xi);
    s.fx = static_cast<uint16_t>(X & (kFracOne - 1));
    s.fy = static_cast<uint16_t>(Y & (kFracOne - 1));
    return s;
}

void samplePicture(const uint8_t* src, int sourceWidth, Interp mode, const std::vector<Sample>& samples, uint8_t* d) {
    sampleRun(src, sourceWidth, mode, samples.data(), samples.size(), d);
}

void sampleRun(const uint8_t* src, int sourceWidth, Interp mode, const Sample* first, std::size_t count, uint8_t* d) {
    const int stride = static_cast<int>(rowBytes(sourceWidth));
    const Sample* const end = first + count;
    switch (mode) {
        case Interp::kNearest:
            for (const Sample* it = first; it != end; ++it) {
                const Sample& s = *it;
                std::memcpy(d, s.src < 0 ? kNoSourceFill : src + s.src, 3);
                d += 3;
            }
            break;
        case Interp::kBilinear:
            // The remap's two-step sum, expanded into four corner weights (the same integer),
            // with blue and red side by side in 32-bit lanes: no lane exceeds 255 * 2^20.
            for (const Sample* it = first; it != end; ++it) {
                const Sample& s = *it;
                if (s.src < 0) {
                    std::memcpy(d, kNoSourceFill, 3);
                } else {
                    const uint8_t* s0 = src + s.src;
                    const uint8_t* s1 = s0 + stride;
                    const uint32_t fx = s.fx, fy = s.fy;
                    const uint32_t w11 = fx * fy;
                    const uint32_t w01 = (fx << kFracBits) - w11;
                    const uint32_t w10 = (fy << kFracBits) - w11;
                    const uint32_t w00 = (1u << (2 * kFracBits)) - (fx << kFracBits) - (fy << kFracBits) + w11;
                    auto lanes = [](const uint8_t* q) { return q[0] | static_cast<uint64_t>(q[2]) << 32; };
                    const uint64_t br = lanes(s0) * w00 + lanes(s0 + 3) * w01 + lanes(s1) * w10 + lanes(s1 + 3) * w11;
                    const uint32_t g = s0[1] * w00 + s0[4] * w01 + s1[1] * w10 + s1[4] * w11;
                    constexpr uint32_t kHalf = 1u << (2 * kFracBits - 1);
                    d[0] = static_cast<uint8_t>((static_cast<uint32_t>(br) + kHalf) >> (2 * kFracBits));
                    d[1] = static_cast<uint8_t>((g + kHalf) >> (2 * kFracBits));
                    d[2] = static_cast<uint8_t>((static_cast<uint32_t>(br >> 32) + kHalf) >> (2 * kFracBits));
                }
                d += 3;
            }
            break;
        case Interp::kBicubic: {
            const CubicWeights& t = cubicWeights();
            for (const Sample* it = first; it != end; ++it) {
                const Sample& s = *it;
                if (s.src < 0) {
                    std::memcpy(d, kNoSourceFill, 3);
                    d += 3;
                    continue;
                }
                const int64_t wx[4] = {t.far[s.fx], t.near[s.fx], t.near[kFracOne - s.fx], t.far[kFracOne - s.fx]};
                const int64_t wy[4] = {t.far[s.fy], t.near[s.fy], t.near[kFracOne - s.fy], t.far[kFracOne - s.fy]};
                for (int ch = 0; ch < 3; ++ch) {
                    __int128 sum = 0;
                    for (int r = 0; r < 4; ++r) {
                        const uint8_t* p = src + s.src + r * stride + ch;
                        const int64_t row = p[0] * wx[0] + p[3] * wx[1] + p[6] * wx[2] + p[9] * wx[3];
                        sum += static_cast<__int128>(row) * wy[r];
                    }
                    d[ch] = roundCubic(sum);
                }
                d += 3;
            }
            break;
        }
    }
}

void buildStitchPlan(const StitchView& view, const uint8_t* blend, const std::array<const float*, kCameraCount>& maps,
                     SourceSize source, Interp mode, bool tint, StitchPlan& plan) {
    plan.rowRuns.clear();  // no stitching until the plan is whole
    plan.ops.resize(view.pixelCount());
    for (auto& s : plan.samples) s.clear();
    const std::size_t workW = static_cast<std::size_t>(view.workWidth);
    const std::size_t outW = static_cast<std::size_t>(view.outWidth());
    const std::size_t outH = static_cast<std::size_t>(view.outHeight());
    std::size_t i = 0;
    for (std::size_t y = 0; y < outH; ++y) {
        for (std::size_t x = 0; x < outW; ++x, ++i) {
            // Without rotation output pixel i is working pixel i; with rotation (x, y) is the working
            // pixel (Wk - 1 - y, x).
            const std::size_t w = view.rotated ? x * workW + (workW - 1 - y) : i;
            const uint8_t b0 = blend[3 * w], b1 = blend[3 * w + 1], b2 = blend[3 * w + 2];
            StitchOp op;
            const bool pureB0 = b0 == 0 || b0 == 255, pureB1 = b1 == 0 || b1 == 255;
            if (!pureB0 || !pureB1) {
                op = {kConstant, b0, b1, b2};
            } else {
                // The camera that a zero share shows, and the pair that a share blends.
                int only, from, to;
                if (b1 == 0) {
                    only = b0 == 0 ? kFront : kLeft;
                    from = b0 == 0 ? kFront : kRear;
                    to = kLeft;
                } else {
                    only = b0 == 0 ? kRight : kRear;
                    from = b0 == 0 ? kFront : kRear;
                    to = kRight;
                }
                if (b2 == 0) {
                    op = {kCopy, static_cast<uint8_t>(only), 0, 0};
                } else {
                    op = {static_cast<uint8_t>(tint && b2 < 255 ? kBlendTint : kBlend), static_cast<uint8_t>(from),
                          static_cast<uint8_t>(to), b2};
                }
            }
            plan.ops[i] = op;
            if (op.kind == kCopy) {
                plan.samples[op.p].push_back(makeSample(maps[op.p], mode, w, source));
            } else if (op.kind != kConstant) {
                plan.samples[op.p].push_back(makeSample(maps[op.p], mode, w, source));
                plan.samples[op.q].push_back(makeSample(maps[op.q], mode, w, source));
            }
        }
    }
    buildRuns(view, plan);
}

std::vector<std::size_t> plannedPixels(const StitchView& view, const StitchPlan& plan, int c) {
    std::vector<std::size_t> pixels;
    pixels.reserve(plan.samples[c].size());
    for (std::size_t i = 0; i < plan.ops.size(); ++i) {
        const StitchOp& op = plan.ops[i];
        if (op.kind != kConstant && (op.p == c || (op.kind != kCopy && op.q == c))) pixels.push_back(view.workIndex(i));
    }
    return pixels;
}

void stitch(const StitchPlan& plan, int outWidth, const std::array<const uint8_t*, kCameraCount>& compact,
            uint8_t* output) {
    const std::size_t stride = rowBytes(outWidth);
    // Each camera's compact layer is read front to back as the output pixels come.
    std::array<const uint8_t*, kCameraCount> next = compact;
    const uint8_t* share = plan.blendShares.data();
    const uint8_t* constant = plan.constants.data();
    for (std::size_t r = 0; r + 1 < plan.rowRuns.size(); ++r) {
        uint8_t* d = output + stride * r;
        for (uint32_t k = plan.rowRuns[r]; k < plan.rowRuns[r + 1]; ++k) {
            const StitchRun& run = plan.runs[k];
            const std::size_t bytes = 3 * static_cast<std::size_t>(run.count);
            if (run.kind == kCopy) {
                std::memcpy(d, next[run.p], bytes);
                next[run.p] += bytes;
                d += bytes;
            } else if (run.kind == kConstant) {
                std::memcpy(d, constant, bytes);
                constant += bytes;
                d += bytes;
            } else {
                blendRun(next[run.p], next[run.q], share, run.count, run.kind == kBlendTint, d);
                share += run.count;
                d += bytes;
                next[run.p] += bytes;
                next[run.q] += bytes;
            }
        }
    }
}

void stitchPictures(const StitchPlan& plan, int outWidth, const std::array<const uint8_t*, kCameraCount>& pictures,
                    int sourceWidth, Interp mode, uint8_t* output) {
    const std::size_t stride = rowBytes(outWidth);
    std::array<const Sample*, kCameraCount> next;
    for (int c = 0; c < kCameraCount; ++c) next[c] = plan.samples[c].data();
    // A blend samples both cameras into two short rows first; a run never leaves its output row.
    std::vector<uint8_t> rowP(3 * static_cast<std::size_t>(outWidth)), rowQ(rowP.size());
    const uint8_t* share = plan.blendShares.data();
    const uint8_t* constant = plan.constants.data();
    for (std::size_t r = 0; r + 1 < plan.rowRuns.size(); ++r) {
        uint8_t* d = output + stride * r;
        for (uint32_t k = plan.rowRuns[r]; k < plan.rowRuns[r + 1]; ++k) {
            const StitchRun& run = plan.runs[k];
            const std::size_t bytes = 3 * static_cast<std::size_t>(run.count);
            if (run.kind == kCopy) {
                sampleRun(pictures[run.p], sourceWidth, mode, next[run.p], run.count, d);
                next[run.p] += run.count;
            } else if (run.kind == kConstant) {
                std::memcpy(d, constant, bytes);
                constant += bytes;
            } else {
                sampleRun(pictures[run.p], sourceWidth, mode, next[run.p], run.count, rowP.data());
                sampleRun(pictures[run.q], sourceWidth, mode, next[run.q], run.count, rowQ.data());
                blendRun(rowP.data(), rowQ.data(), share, run.count, run.kind == kBlendTint, d);
                share += run.count;
                next[run.p] += run.count;
                next[run.q] += run.count;
            }
            d += bytes;
        }
    }
}

}  // namespace mz
