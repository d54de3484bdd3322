// Remapping an image through a coordinate map, and resizing.
//
// Positions are quantised to 1/1024 pixel. The interpolation weights are then rationals with a
// power-of-two denominator, so bilinear and bicubic sums are evaluated exactly in integers: the
// result is the interpolation formula itself, rounded half away from zero, with no dependence on
// evaluation order or floating-point rounding.
#include <cstdint>
#include <mutex>

#include "geometry/image.h"
#include "mz/mzgeometry.h"

namespace mz {
namespace {

constexpr int kFracBits = 10;
constexpr int kFracOne = 1 << kFracBits;  // 1024
constexpr int kCubicShift = 32;           // cubic weights are held as f * 2^32

// Cubic convolution kernel (a = -0.75) at t = k/1024 and 1 + k/1024, times 2^32, exactly:
//   f(x) = 1.25 x^3 - 2.25 x^2 + 1              for x <= 1
//   f(x) = -0.75 x^3 + 3.75 x^2 - 6 x + 3       for 1 < x < 2
struct CubicTable {
    int64_t near[kFracOne + 1];  // f(k/1024)
    int64_t far[kFracOne + 1];   // f(1 + k/1024)
};

CubicTable gCubic;
std::once_flag gCubicOnce;

void buildCubicTable() {
    for (int64_t k = 0; k <= kFracOne; ++k) {
        gCubic.near[k] = 5 * k * k * k - 9 * k * k * kFracOne + (int64_t{1} << kCubicShift);
        const int64_t m = kFracOne + k;
        gCubic.far[k] =
            -3 * m * m * m + 15 * m * m * kFracOne - 24 * m * kFracOne * kFracOne + 3 * (int64_t{1} << kCubicShift);
    }
}

// The tables are shared read-only by every thread; they are built exactly once, on whichever
// thread remaps first.
const CubicTable& cubicTable() {
    std::call_once(gCubicOnce, buildCubicTable);
    return gCubic;
}

// Position in 1/1024 pixel; false when it falls outside the int range (so no source).
inline bool fixedPosition(float m, int* out) { return roundToInt(m * static_cast<float>(kFracOne), out); }

struct Images {
    const ImageBuffer* source;
    ImageBuffer* target;
    float* const* map;
    const uint8_t* fill;
};

template <int C>
inline void writeFill(uint8_t* d, const uint8_t* fill, int channels) {
    if (fill == nullptr) return;
    const int n = C > 0 ? C : channels;
    for (int c = 0; c < n; ++c) d[c] = fill[c];
}

// C is the channel count when fixed at compile time, 0 for any other count.
template <int C>
void remapNearest(const Images& im) {
    const int ch = C > 0 ? C : im.source->channels;
    const int sw = im.source->width, sh = im.source->height;
    for (int i = 0; i < im.target->height; ++i) {
        const float* m = im.map[i];
        uint8_t* d = im.target->rows[i];
        for (int j = 0; j < im.target->width; ++j, m += 2, d += ch) {
            int x, y;
            if (roundToInt(m[0], &x) && roundToInt(m[1], &y) && x >= 0 && x < sw && y >= 0 && y < sh) {
                const uint8_t* s = im.source->rows[y] + static_cast<int64_t>(x) * ch;
                for (int c = 0; c < ch; ++c) d[c] = s[c];
            } else {
                writeFill<C>(d, im.fill, ch);
            }
        }
    }
}

inline uint8_t bilinearChannel(int s00, int s01, int s10, int s11, int fx, int fy) {
    const int top = s00 * (kFracOne - fx) + s01 * fx;
    const int bottom = s10 * (kFracOne - fx) + s11 * fx;
    const int v = top * (kFracOne - fy) + bottom * fy;  // < 2^28
    return static_cast<uint8_t>((v + (1 << (2 * kFracBits - 1))) >> (2 * kFracBits));
}

template <int C>
void remapBilinear(const Images& im) {
    const int ch = C > 0 ? C : im.source->channels;
    // Unsigned compares fold the lower bound 0 <= xi into the upper one.
    const unsigned xLimit = static_cast<unsigned>(im.source->width - 1);
    const unsigned yLimit = static_cast<unsigned>(im.source->height - 1);
    uint8_t* const* srcRows = im.source->rows;
    for (int i = 0; i < im.target->height; ++i) {
        const float* m = im.map[i];
        uint8_t* d = im.target->rows[i];
        for (int j = 0; j < im.target->width; ++j, m += 2, d += ch) {
            int X, Y;
            if (!fixedPosition(m[0], &X) || !fixedPosition(m[1], &Y)) {
                writeFill<C>(d, im.fill, ch);
                continue;
            }
            const int xi = X >> kFracBits, yi = Y >> kFracBits;
            if (im.source->width < 2 || im.source->height < 2 || static_cast<unsigned>(xi) >= xLimit ||
                static_cast<unsigned>(yi) >= yLimit) {
                writeFill<C>(d, im.fill, ch);
                continue;
            }
            const int fx = X & (kFracOne - 1), fy = Y & (kFracOne - 1);
            const uint8_t* s0 = srcRows[yi] + static_cast<int64_t>(xi) * ch;
            const uint8_t* s1 = srcRows[yi + 1] + static_cast<int64_t>(xi) * ch;
            for (int c = 0; c < ch; ++c) d[c] = bilinearChannel(s0[c], s0[c + ch], s1[c], s1[c + ch], fx, fy);
        }
    }
}

inline uint8_t roundCubic(__int128 v) {
    // v is the channel value times 2^64; round half away from zero, then clamp.
    constexpr __int128 kHalf = static_cast<__int128>(1) << (2 * kCubicShift - 1);
    if (v <= 0) return 0;
    const __int128 r = (v + kHalf) >> (2 * kCubicShift);
    return static_cast<uint8_t>(r > 255 ? 255 : r);
}

void remapBicubic(const Images& im) {
    const CubicTable& t = cubicTable();
    const int ch = im.source->channels;
    const int sw = im.source->width, sh = im.source->height;
    for (int i = 0; i < im.target->height; ++i) {
        const float* m = im.map[i];
        uint8_t* d = im.target->rows[i];
        for (int j = 0; j < im.target->width; ++j, m += 2, d += ch) {
            int X, Y;
            if (!fixedPosition(m[0], &X) || !fixedPosition(m[1], &Y)) {
                writeFill<0>(d, im.fill, ch);
                continue;
            }
            const int xi = X >> kFracBits, yi = Y >> kFracBits;
            if (xi < 1 || xi > sw - 3 || yi < 1 || yi > sh - 3) {
                writeFill<0>(d, im.fill, ch);
                continue;
            }
            const int tx = X & (kFracOne - 1), ty = Y & (kFracOne - 1);
            const int64_t wx[4] = {t.far[tx], t.near[tx], t.near[kFracOne - tx], t.far[kFracOne - tx]};
            const int64_t wy[4] = {t.far[ty], t.near[ty], t.near[kFracOne - ty], t.far[kFracOne - ty]};
            for (int c = 0; c < ch; ++c) {
                __int128 sum = 0;
                for (int r = 0; r < 4; ++r) {
                    const uint8_t* s = im.source->rows[yi - 1 + r] + static_cast<int64_t>(xi - 1) * ch + c;
                    const int64_t row = s[0] * wx[0] + s[ch] * wx[1] + s[2 * ch] * wx[2] + s[3 * ch] * wx[3];
                    sum += static_cast<__int128>(row) * wy[r];
                }
                d[c] = roundCubic(sum);
            }
        }
    }
}

// Keyed bilinear: a neighbour holding the key value of a channel never blends into that channel.
void remapKeyed(const Images& im) {
    const int ch = im.source->channels;
    const unsigned xLimit = static_cast<unsigned>(im.source->width - 1);
    const unsigned yLimit = static_cast<unsigned>(im.source->height - 1);
    const uint8_t* key = im.fill;
    for (int i = 0; i < im.target->height; ++i) {
        const float* m = im.map[i];
        uint8_t* d = im.target->rows[i];
        for (int j = 0; j < im.target->width; ++j, m += 2, d += ch) {
            int X, Y;
            // Negative positions have no source either: they would read before the row.
            if (!fixedPosition(m[0], &X) || !fixedPosition(m[1], &Y) || im.source->width < 2 || im.source->height < 2 ||
                static_cast<unsigned>(X >> kFracBits) >= xLimit || static_cast<unsigned>(Y >> kFracBits) >= yLimit) {
                writeFill<0>(d, key, ch);
                continue;
            }
            const int xi = X >> kFracBits, yi = Y >> kFracBits;
            const int fx = X & (kFracOne - 1), fy = Y & (kFracOne - 1);
            const uint8_t* s0 = im.source->rows[yi] + static_cast<int64_t>(xi) * ch;
            const uint8_t* s1 = im.source->rows[yi + 1] + static_cast<int64_t>(xi) * ch;
            for (int c = 0; c < ch; ++c) {
                const int k = key[c];
                const int s00 = s0[c];
                if (s00 == k) {
                    d[c] = static_cast<uint8_t>(k);
                    continue;
                }
                const int s01 = s0[c + ch] == k ? s00 : s0[c + ch];
                const int s10 = s1[c] == k ? s00 : s1[c];
                const int s11 = s1[c + ch] == k ? s00 : s1[c + ch];
                d[c] = bilinearChannel(s00, s01, s10, s11, fx, fy);
            }
        }
    }
}

void runNearest(const Images& im) {
    switch (im.source->channels) {
    case 1: remapNearest<1>(im); break;
    case 3: remapNearest<3>(im); break;
    case 4: remapNearest<4>(im); break;
    default: remapNearest<0>(im); break;
    }
}

void runBilinear(const Images& im) {
    switch (im.source->channels) {
    case 1: remapBilinear<1>(im); break;
    case 3: remapBilinear<3>(im); break;
    case 4: remapBilinear<4>(im); break;
    default: remapBilinear<0>(im); break;
    }
}

bool usable(const ImageBuffer* image) {
    return image != nullptr && image->width >= 0 && image->height >= 0 && image->channels >= 1 &&
           (image->rows != nullptr || image->height == 0);
}

// 0 when the pair can be remapped, else the status to return.
int checkPair(const ImageBuffer* source, const ImageBuffer* target) {
    if (!usable(source) || !usable(target)) return -5;
    return source->channels == target->channels ? 0 : -1;
}

void remapWithFlags(const Images& im, int flags) {
    if (flags & MZ_REMAP_BICUBIC) {
        remapBicubic(im);
    } else if (flags & MZ_REMAP_BILINEAR) {
        runBilinear(im);
    } else {
        runNearest(im);
    }
}

}  // namespace
}  // namespace mz

extern "C" {

MZ_API int mzRemap(const ImageBuffer* source, ImageBuffer* target, float** map, int flags, const uint8_t* fill) {
    if (map == nullptr && target != nullptr && target->height > 0) return -5;
    if (const int status = mz::checkPair(source, target); status != 0) return status;
    mz::cubicTable();
    mz::remapWithFlags({source, target, map, fill}, flags);
    return 0;
}

MZ_API int mzRemapAlpha(const ImageBuffer* source, ImageBuffer* target, float** map, int flags, const uint8_t* key) {
    if (map == nullptr && target != nullptr && target->height > 0) return -5;
    if (const int status = mz::checkPair(source, target); status != 0) return status;
    mz::cubicTable();
    if ((flags & MZ_REMAP_BILINEAR) && key != nullptr) {
        mz::remapKeyed({source, target, map, key});
    } else {
        // Without a key the keyed blend has nothing to protect; it is plain nearest then.
        mz::runNearest({source, target, map, key});
    }
    return 0;
}

MZ_API int mzResizeImage(const ImageBuffer* source, ImageBuffer* target, int flags) {
    if (const int status = mz::checkPair(source, target); status != 0) return status;
    mz::cubicTable();
    if (source->width == target->width && source->height == target->height) {
        if (source->imageSize == target->imageSize)
            mz::copyRows(target->rows, source->rows, source->height,
                         static_cast<std::size_t>(source->width) * static_cast<std::size_t>(source->channels));
        return 0;
    }
    if (source->width == 0 || source->height == 0 || target->width == 0 || target->height == 0) return 0;

    float** map = mz::allocFloatRows(target->height, 2 * target->width);
    if (map == nullptr) return -1;
    const float sw = static_cast<float>(source->width), sh = static_cast<float>(source->height);
    const float sx = static_cast<float>(target->width) / sw;
    const float sy = static_cast<float>(target->height) / sh;
    const float halfTw = 0.5f * static_cast<float>(target->width);
    const float halfTh = 0.5f * static_cast<float>(target->height);
    for (int i = 0; i < target->height; ++i) {
        const float y = 0.5f * sh + (static_cast<float>(i) - halfTh) / sy;
        float* m = map[i];
        for (int j = 0; j < target->width; ++j) {
            const float x = 0.5f * sw + (static_cast<float>(j) - halfTw) / sx;
            const bool valid = x > 0.0f && x < sw && y > 0.0f && y < sh;
            m[2 * j] = valid ? x : -1.0f;
            m[2 * j + 1] = valid ? y : -1.0f;
        }
    }
    mz::remapWithFlags({source, target, map, nullptr}, flags);
    mz::freeFloatRows(map, target->height);
    return 0;
}

}  // extern "C"
