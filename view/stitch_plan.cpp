// The stitching plan: per camera, the source offsets and interpolation weights of the output pixels
// it must supply, in output order, and per output pixel, the stitching step, packed into runs.
#include "view/stitch_plan.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "geometry/image.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define MZ_STITCH_SSSE3 1
#else
#define MZ_STITCH_SSSE3 0
#endif

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
            far[k] =
                -3 * m * m * m + 15 * m * m * kFracOne - 24 * m * kFracOne * kFracOne + 3 * (int64_t{1} << kCubicShift);
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

// The remap's bilinear sum for one sample, in plain integers: blue and red side by side in 32-bit
// lanes (no lane exceeds 255 * 2^20), the four corner weights expanded from the two steps.
inline void bilinearPixel(const uint8_t* src, int stride, const Sample& s, uint8_t* d) {
    if (s.src < 0) {
        std::memcpy(d, kNoSourceFill, 3);
        return;
    }
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

#if MZ_STITCH_SSSE3
// Bilinear sampling with SSSE3 (chosen at run time; x86-64 itself only promises SSE2), the same
// integers as bilinearPixel. The two steps stay exact in 16-bit multiplies by splitting the
// horizontal weights: 1024 - fx = 16 a1 + a0 and fx = 16 f1 + f0, so a row's step
//   h = (1024 - fx) p0 + fx p1 = 16 (a1 p0 + f1 p1) + (a0 p0 + f0 p1)
// is two byte-pair sums (pmaddubsw: at most 255 * 64 and 255 * 30), and the vertical step
//   (1024 - fy) h_top + fy h_bottom = (16 (1024 - fy)) H_top + ... + (1024 - fy) L_top + fy L_bottom
// is two pairs of 16-bit products (pmaddwd: at most 16384 * 16320 per lane).
struct alignas(16) VectorWeights {
    std::array<std::array<uint32_t, 2>, kFracOne> x;  // per fx: (a1, f1) and (a0, f0) as byte pairs, twice
    std::array<uint32_t, kFracOne> y;                 // per fy: (1024 - fy, fy) as 16-bit pairs
};

constexpr VectorWeights makeVectorWeights() {
    VectorWeights t{};
    for (uint32_t f = 0; f < kFracOne; ++f) {
        const uint32_t a = kFracOne - f;
        const uint32_t high = (a >> 4) | (f >> 4) << 8, low = (a & 15) | (f & 15) << 8;
        t.x[f] = {high * 0x10001u, low * 0x10001u};
        t.y[f] = a | f << 16;
    }
    return t;
}

constexpr VectorWeights kVectorWeights = makeVectorWeights();

// What a sample without a source reads: the fill colour in every pixel of both rows read.
alignas(16) constexpr uint8_t kFillBlock[16] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0};

// One sample's sum before rounding, as 32-bit lanes (blue, green, red, 0). The top row is read from
// its first pixel on and the bottom row up to its second pixel's end (8 bytes each): both stay inside
// the two source rows. kMaybeNone: the sample may have no source.
template <bool kMaybeNone>
__attribute__((target("ssse3"), always_inline)) inline __m128i bilinearSum(const uint8_t* src, std::ptrdiff_t stride,
                                                                           const Sample& s) {
    const uint8_t* top = src + s.src;
    const uint8_t* bottom = top + stride - 2;
    if (kMaybeNone && s.src < 0) {
        top = kFillBlock;
        bottom = kFillBlock + 1;  // the fill at any fractions
    }
    const __m128i rows =
        _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top))),
                                      reinterpret_cast<const double*>(bottom)));
    // Byte pairs (left, right) per 16-bit lane: blue top, blue bottom, green top, ..., red bottom.
    const __m128i pairs =
        _mm_shuffle_epi8(rows, _mm_setr_epi8(0, 3, 10, 13, 1, 4, 11, 14, 2, 5, 12, 15, -1, -1, -1, -1));
    const __m128i wx = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kVectorWeights.x[s.fx].data()));
    const __m128i high = _mm_maddubs_epi16(pairs, _mm_shuffle_epi32(wx, 0x00));
    const __m128i low = _mm_maddubs_epi16(pairs, _mm_shuffle_epi32(wx, 0x55));
    const __m128i wy = _mm_shuffle_epi32(_mm_cvtsi32_si128(static_cast<int>(kVectorWeights.y[s.fy])), 0x00);
    return _mm_add_epi32(_mm_madd_epi16(high, _mm_slli_epi32(wy, 4)), _mm_madd_epi16(low, wy));
}

// Two sums as rounded 16-bit lanes (b, g, r, 0, b, g, r, 0): the sum's top bits, one more than
// needed, then halved with rounding up, which is (sum + 2^19) >> 20.
__attribute__((target("ssse3"), always_inline)) inline __m128i roundedWords(__m128i a, __m128i b) {
    const __m128i words = _mm_packs_epi32(_mm_srli_epi32(a, 2 * kFracBits - 1), _mm_srli_epi32(b, 2 * kFracBits - 1));
    return _mm_avg_epu16(words, _mm_setzero_si128());
}

// Four samples as 16-bit lanes, the first two in lo and the last two in hi.
template <bool kMaybeNone>
__attribute__((target("ssse3"), always_inline)) inline void fourWords(const uint8_t* src, std::ptrdiff_t stride,
                                                                      const Sample* s, __m128i& lo, __m128i& hi) {
    lo = roundedWords(bilinearSum<kMaybeNone>(src, stride, s[0]), bilinearSum<kMaybeNone>(src, stride, s[1]));
    hi = roundedWords(bilinearSum<kMaybeNone>(src, stride, s[2]), bilinearSum<kMaybeNone>(src, stride, s[3]));
}

__attribute__((target("ssse3"), always_inline)) inline void fourWords(const uint8_t* src, std::ptrdiff_t stride,
                                                                      const Sample* s, __m128i& lo, __m128i& hi) {
    if ((s[0].src | s[1].src | s[2].src | s[3].src) >= 0) {
        fourWords<false>(src, stride, s, lo, hi);
    } else {
        fourWords<true>(src, stride, s, lo, hi);
    }
}

__attribute__((target("ssse3"), always_inline)) inline __m128i oneWords(const uint8_t* src, std::ptrdiff_t stride,
                                                                        const Sample& s) {
    const __m128i sum = bilinearSum<true>(src, stride, s);
    return roundedWords(sum, sum);
}

// Four pixels of 16-bit lanes (b, g, r, 0, b, g, r, 0 in each of lo and hi) as 12 bytes.
__attribute__((target("ssse3"), always_inline)) inline void storeFour(__m128i lo, __m128i hi, uint8_t* d) {
    const __m128i bytes = _mm_shuffle_epi8(_mm_packus_epi16(lo, hi),
                                           _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), bytes);
    const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
    std::memcpy(d + 8, &last, 4);
}

__attribute__((target("ssse3"), always_inline)) inline void storeOne(__m128i words, uint8_t* d) {
    const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(d, &bytes, 3);
}

__attribute__((target("ssse3"))) void sampleRunVector(const uint8_t* src, int sourceWidth, const Sample* s,
                                                      std::size_t count, uint8_t* d) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(rowBytes(sourceWidth));
    const Sample* const end = s + count;
    for (; end - s >= 4; s += 4, d += 12) {
        __m128i lo, hi;
        fourWords(src, stride, s, lo, hi);
        storeFour(lo, hi, d);
    }
    for (; s != end; ++s, d += 3) storeOne(oneWords(src, stride, *s), d);
}

// blendRun's integers on 16-bit lanes: p (256 - w) + q w never exceeds 255 * 256.
template <bool kTint>
__attribute__((target("ssse3"), always_inline)) inline __m128i blendWords(__m128i p, __m128i q, __m128i w) {
    const __m128i mixed =
        _mm_add_epi16(_mm_mullo_epi16(p, _mm_sub_epi16(_mm_set1_epi16(256), w)), _mm_mullo_epi16(q, w));
    __m128i r = _mm_srli_epi16(mixed, 8);
    if (kTint) {
        const __m128i red = _mm_setr_epi16(0, 0, -1, 0, 0, 0, -1, 0);
        r = _mm_or_si128(_mm_andnot_si128(red, r), _mm_and_si128(red, _mm_srli_epi16(_mm_add_epi16(r, w), 1)));
    }
    return r;
}

// A blend run sampled and blended in one pass.
template <bool kTint>
__attribute__((target("ssse3"))) void blendRunVector(const uint8_t* pictureP, const uint8_t* pictureQ,
                                                     std::ptrdiff_t stride, const Sample* p, const Sample* q,
                                                     const uint8_t* share, uint32_t count, uint8_t* d) {
    const __m128i zero = _mm_setzero_si128();
    const Sample* const end = p + count;
    for (; end - p >= 4; p += 4, q += 4, share += 4, d += 12) {
        int32_t shares;
        std::memcpy(&shares, share, 4);
        __m128i w = _mm_unpacklo_epi8(_mm_cvtsi32_si128(shares), zero);
        w = _mm_unpacklo_epi16(w, w);
        __m128i p01, p23, q01, q23;
        fourWords(pictureP, stride, p, p01, p23);
        fourWords(pictureQ, stride, q, q01, q23);
        storeFour(blendWords<kTint>(p01, q01, _mm_unpacklo_epi32(w, w)),
                  blendWords<kTint>(p23, q23, _mm_unpackhi_epi32(w, w)), d);
    }
    for (; p != end; ++p, ++q, ++share, d += 3)
        storeOne(
            blendWords<kTint>(oneWords(pictureP, stride, *p), oneWords(pictureQ, stride, *q), _mm_set1_epi16(*share)),
            d);
}

bool processorHasSsse3() {
    static const bool has = [] {
        __builtin_cpu_init();  // also when the first Apply comes from a static constructor
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

bool& vectorSampling() {
    static bool enabled = processorHasSsse3();
    return enabled;
}
#endif

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
    BigVector<StitchOp>().swap(ops);
    std::vector<StitchRun>().swap(runs);
    std::vector<uint32_t>().swap(rowRuns);
    for (auto& s : samples) BigVector<Sample>().swap(s);
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

bool setVectorSampling(bool enabled) {
#if MZ_STITCH_SSSE3
    vectorSampling() = enabled && processorHasSsse3();
    return vectorSampling();
#else
    (void)enabled;
    return false;
#endif
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
#if MZ_STITCH_SSSE3
        if (vectorSampling()) {
            sampleRunVector(src, sourceWidth, first, count, d);
            break;
        }
#endif
        for (const Sample* it = first; it != end; ++it, d += 3) bilinearPixel(src, stride, *it, d);
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

namespace {

// The stitching step of one stitching code.
StitchOp stitchOpOf(const uint8_t* code, bool tint) {
    const uint8_t b0 = code[0], b1 = code[1], b2 = code[2];
    const bool pureB0 = b0 == 0 || b0 == 255, pureB1 = b1 == 0 || b1 == 255;
    if (!pureB0 || !pureB1) return {kConstant, b0, b1, b2};
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
    if (b2 == 0) return {kCopy, static_cast<uint8_t>(only), 0, 0};
    return {static_cast<uint8_t>(tint && b2 < 255 ? kBlendTint : kBlend), static_cast<uint8_t>(from),
            static_cast<uint8_t>(to), b2};
}

}  // namespace

void buildStitchPlan(const StitchView& view, const uint8_t* blend, const std::array<const float*, kCameraCount>& maps,
                     SourceSize source, Interp mode, bool tint, StitchPlan& plan) {
    plan.rowRuns.clear();                // no stitching until the plan is whole
    plan.ops.resize(view.pixelCount());  // not zeroed: every pixel's op is written below
    for (auto& s : plan.samples) s.clear();
    const std::size_t workW = static_cast<std::size_t>(view.workWidth);
    const std::size_t outW = static_cast<std::size_t>(view.outWidth());
    const std::size_t outH = static_cast<std::size_t>(view.outHeight());
    if (!view.rotated) {
        // Output pixel i is working pixel i.
        for (std::size_t i = 0; i < view.pixelCount(); ++i) {
            const StitchOp op = stitchOpOf(blend + 3 * i, tint);
            plan.ops[i] = op;
            if (op.kind == kConstant) continue;
            plan.samples[op.p].push_back(makeSample(maps[op.p], mode, i, source));
            if (op.kind != kCopy) plan.samples[op.q].push_back(makeSample(maps[op.q], mode, i, source));
        }
        buildRuns(view, plan);
        return;
    }
    // Turned: output (x, y) is working (Wk - 1 - y, x), so an output row runs down a working column.
    // The output is taken in bands of rows, column by column across a band (working memory row by
    // row); each row's samples still land in output order, at places counted before they are made.
    constexpr std::size_t kBand = 16;
    std::array<std::array<std::size_t, kCameraCount>, kBand> next{};
    for (std::size_t y0 = 0; y0 < outH; y0 += kBand) {
        const std::size_t rows = std::min(kBand, outH - y0);
        std::array<std::array<std::size_t, kCameraCount>, kBand> count{};
        for (std::size_t x = 0; x < outW; ++x)
            for (std::size_t r = 0; r < rows; ++r) {
                const std::size_t y = y0 + r, w = x * workW + (workW - 1 - y);
                const StitchOp op = stitchOpOf(blend + 3 * w, tint);
                plan.ops[y * outW + x] = op;
                if (op.kind == kConstant) continue;
                ++count[r][op.p];
                if (op.kind != kCopy) ++count[r][op.q];
            }
        for (int c = 0; c < kCameraCount; ++c) {
            std::size_t end = plan.samples[c].size();
            for (std::size_t r = 0; r < rows; ++r) {
                next[r][c] = end;
                end += count[r][c];
            }
            plan.samples[c].resize(end);
        }
        for (std::size_t x = 0; x < outW; ++x)
            for (std::size_t r = 0; r < rows; ++r) {
                const std::size_t y = y0 + r, w = x * workW + (workW - 1 - y);
                const StitchOp& op = plan.ops[y * outW + x];
                if (op.kind == kConstant) continue;
                plan.samples[op.p][next[r][op.p]++] = makeSample(maps[op.p], mode, w, source);
                if (op.kind != kCopy) plan.samples[op.q][next[r][op.q]++] = makeSample(maps[op.q], mode, w, source);
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
#if MZ_STITCH_SSSE3
    if (mode == Interp::kBilinear && vectorSampling()) {
        // Copies sample straight into the output; blends sample both cameras and blend as they go.
        const std::ptrdiff_t sourceStride = static_cast<std::ptrdiff_t>(rowBytes(sourceWidth));
        const uint8_t* share = plan.blendShares.data();
        const uint8_t* constant = plan.constants.data();
        for (std::size_t r = 0; r + 1 < plan.rowRuns.size(); ++r) {
            uint8_t* d = output + stride * r;
            for (uint32_t k = plan.rowRuns[r]; k < plan.rowRuns[r + 1]; ++k) {
                const StitchRun& run = plan.runs[k];
                const std::size_t bytes = 3 * static_cast<std::size_t>(run.count);
                if (run.kind == kCopy) {
                    sampleRunVector(pictures[run.p], sourceWidth, next[run.p], run.count, d);
                    next[run.p] += run.count;
                } else if (run.kind == kConstant) {
                    std::memcpy(d, constant, bytes);
                    constant += bytes;
                } else {
                    auto blend = run.kind == kBlendTint ? &blendRunVector<true> : &blendRunVector<false>;
                    blend(pictures[run.p], pictures[run.q], sourceStride, next[run.p], next[run.q], share, run.count,
                          d);
                    share += run.count;
                    next[run.p] += run.count;
                    next[run.q] += run.count;
                }
                d += bytes;
            }
        }
        return;
    }
#endif
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
