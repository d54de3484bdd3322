// Packing of coordinate maps, stitching masks and point lists into the display unit's tables.
//
// The display unit replays these bytes as they stand, so every rounding here follows the table
// format to the bit: "round" is add (or subtract) 0.5 in single precision, then truncate toward
// zero, and every value wraps into its 16-bit field.
//
// A table of H rows is stored as two interlaced fields: the even rows, then the odd rows. Rather
// than staging each field in a scratch buffer, the builders write both fields straight into the
// caller's buffer through two cursors, the odd cursor starting where the even field ends.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "geometry/lens_lanes.h"
#include "mz/mzview.h"
#include "view/bin_tables.h"
#include "view/two_threads.h"

namespace mz {
namespace {

// Truncates toward zero with a defined result for any input: the caller keeps only the low 16
// bits, so values beyond the int64 range (and NaN) become 0, which wraps like any other.
int64_t truncToInt64(float v) {
    if (!(v > -9.2233715e18f && v < 9.2233715e18f)) return 0;
    return static_cast<int64_t>(v);
}

int64_t roundHalfAway(float v) { return truncToInt64(v >= 0.0f ? v + 0.5f : v - 0.5f); }

void put16(uint8_t* p, int64_t v) {
    const auto u = static_cast<uint16_t>(static_cast<uint64_t>(v));
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

void putMissing(uint8_t* p) { std::memset(p, 0xFF, 4); }

// The coordinate map's "no source" marker: x truncates to -1 and y is -1 exactly.
bool isMissing(float x, float y) { return x > -2.0f && x <= -1.0f && y == -1.0f; }

// Row v within one field of the interlaced source, in 1/64 pixel (mode 1). The odd field starts
// one source row lower than the even one. Each step is rounded to single precision, as the
// display unit's own tools did.
int64_t fieldRowFixed(float y, bool oddRow) {
    const int64_t yi = truncToInt64(y);
    const bool yiOdd = (yi % 2) != 0;
    float v;
    if (!oddRow) {
        const float base = static_cast<float>(yiOdd ? yi - 1 : yi);
        const float half = (y - base) * 0.5f;
        v = static_cast<float>(yi / 2) + half;
    } else if (yiOdd) {
        const float half = (y - static_cast<float>(yi)) * 0.5f;
        v = static_cast<float>(yi / 2) + half;
    } else {
        const int64_t b = yi == 0 ? 0 : yi - 1;
        const float half = (y - static_cast<float>(b)) * 0.5f;
        v = static_cast<float>(yi / 2 - 1) + half;
    }
    const float scaled = v * 64.0f;
    return roundHalfAway(scaled);
}

void putCoordinate(uint8_t* p, float x, float y, bool oddRow, int mode) {
    if (mode == 0) {
        // The shift by 6 happens in 16 bits: high bits fall off, as in the unit's format.
        put16(p, roundHalfAway(x) * 64);
        put16(p + 2, roundHalfAway(y * 0.5f) * 64);
    } else {
        put16(p, roundHalfAway(x * 64.0f));
        put16(p + 2, fieldRowFixed(y, oddRow));
    }
}

// Bytes in the even field of a table of `height` rows of `rowBytes` bytes.
std::size_t evenFieldBytes(int height, std::size_t rowBytes) {
    return static_cast<std::size_t>((height + 1) / 2) * rowBytes;
}

bool validSize(int width, int height) {
    return width > 0 && height > 0 && static_cast<int64_t>(width) * height <= (int64_t{1} << 28);
}

void setLen(int* outLen, int64_t len) {
    if (outLen != nullptr) *outLen = static_cast<int>(len);
}

// at(row, col) gives the map's pair of table entry (col, row).
template <class At, class Entry>
void buildViewFrom(int width, int height, At at, uint8_t* dst, int* outLen, int mode, Entry entry) {
    if (!validSize(width, height) || dst == nullptr || (mode != 0 && mode != 1)) {
        setLen(outLen, 0);
        return;
    }
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    uint8_t* field[2] = {dst, dst + evenFieldBytes(height, rowBytes)};
    for (int i = 0; i < height; ++i) {
        const bool odd = (i & 1) != 0;
        uint8_t*& out = field[odd];
        for (int j = 0; j < width; ++j, out += 4) entry(out, at(i, j), odd, mode);
    }
    setLen(outLen, 4 * static_cast<int64_t>(width) * height);
}

template <class Entry>
void buildView(int width, int height, const Point2F* map, uint8_t* dst, int* outLen, int mode, Entry entry) {
    if (map == nullptr) {
        setLen(outLen, 0);
        return;
    }
    buildViewFrom(
        width, height, [map, width](int i, int j) { return map[static_cast<std::size_t>(i) * width + j]; }, dst, outLen,
        mode, entry);
}

void fullEntry(uint8_t* p, Point2F m, bool odd, int mode) {
    if (isMissing(m.x, m.y)) putMissing(p);
    else putCoordinate(p, m.x, m.y, odd, mode);
}

// Four entries of a 1/64-pixel table (mode 1) at once, where every one is missing or lies in
// [0, 2^22) on both axes: the float steps of putCoordinate lane by lane, the integer ones in 32
// bits (exact there). Returns false, writing nothing, for any other group.
bool putFourFine(uint8_t* p, lanes::F4 x, lanes::F4 y, bool oddRow) {
    using lanes::F4;
    using lanes::I4;
    const I4 missing = (x > -2.0f) & (x <= -1.0f) & (y == -1.0f);
    const I4 simple = (x >= 0.0f) & (x < 0x1p22f) & (y >= 0.0f) & (y < 0x1p22f);
    const I4 usable = missing | simple;
    if (!(usable[0] & usable[1] & usable[2] & usable[3])) return false;
    const I4 X = __builtin_convertvector(x * 64.0f + 0.5f, I4);
    const I4 yi = __builtin_convertvector(y, I4);
    const I4 yiOdd = (yi & 1) != 0;
    const I4 halfRow = yi >> 1;
    F4 v;
    if (!oddRow) {
        const F4 base = __builtin_convertvector(yiOdd ? yi - 1 : yi, F4);
        v = __builtin_convertvector(halfRow, F4) + (y - base) * 0.5f;
    } else {
        const I4 b = yiOdd ? yi : (yi == 0 ? I4{} : yi - 1);
        const I4 q = yiOdd ? halfRow : halfRow - 1;
        v = __builtin_convertvector(q, F4) + (y - __builtin_convertvector(b, F4)) * 0.5f;
    }
    const F4 scaled = v * 64.0f;
    const I4 Y = __builtin_convertvector(scaled >= 0.0f ? scaled + 0.5f : scaled - 0.5f, I4);
    for (int k = 0; k < 4; ++k, p += 4) {
        if (missing[k]) {
            putMissing(p);
            continue;
        }
        p[0] = static_cast<uint8_t>(X[k]);
        p[1] = static_cast<uint8_t>(X[k] >> 8);
        p[2] = static_cast<uint8_t>(Y[k]);
        p[3] = static_cast<uint8_t>(Y[k] >> 8);
    }
    return true;
}

// Rows [first, last) of mzMakeBinView's table of the map at(row, col), four entries at a time
// where they allow it. Each row's place in its field follows from its index alone, so parts of
// the table may be built apart.
template <class At>
void fullViewRows(int width, int height, At at, uint8_t* dst, int mode, int first, int last) {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    for (int i = first; i < last; ++i) {
        const bool odd = (i & 1) != 0;
        uint8_t* out = dst + (odd ? evenFieldBytes(height, rowBytes) : 0) + static_cast<std::size_t>(i / 2) * rowBytes;
        int j = 0;
        if (mode == 1) {
            for (; j + 4 <= width; j += 4, out += 16) {
                lanes::F4 x, y;
                for (int k = 0; k < 4; ++k) {
                    const Point2F m = at(i, j + k);
                    x[k] = m.x;
                    y[k] = m.y;
                }
                if (putFourFine(out, x, y, odd)) continue;
                for (int k = 0; k < 4; ++k) fullEntry(out + 4 * k, {x[k], y[k]}, odd, mode);
            }
        }
        for (; j < width; ++j, out += 4) fullEntry(out, at(i, j), odd, mode);
    }
}

bool fullViewFits(int width, int height, const uint8_t* dst, int mode) {
    return validSize(width, height) && dst != nullptr && (mode == 0 || mode == 1);
}

template <class At>
void buildFullView(int width, int height, At at, uint8_t* dst, int* outLen, int mode) {
    if (!fullViewFits(width, height, dst, mode)) {
        setLen(outLen, 0);
        return;
    }
    fullViewRows(width, height, at, dst, mode, 0, height);
    setLen(outLen, 4 * static_cast<int64_t>(width) * height);
}

// The same for an engine's own tables (a whole view each, written at Save LUT), on two threads.
template <class At>
void buildFullViewInHalves(int width, int height, At at, uint8_t* dst, int mode) {
    if (!fullViewFits(width, height, dst, mode)) return;
    inTwoHalves(height, [&](int first, int last) { fullViewRows(width, height, at, dst, mode, first, last); });
}

// Key colours (blue and green each 0 or 255) carry a region code in the blue/green pattern and a
// blend share in red; -1 for any other colour.
int keyCode(uint8_t b, uint8_t g) {
    if ((b != 0 && b != 255) || (g != 0 && g != 255)) return -1;
    if (b == 0) return g == 0 ? 0 : 6;
    return g == 0 ? 2 : 4;
}

uint16_t keyWord(int k, uint8_t r) { return static_cast<uint16_t>(r != 0 ? (r << 8) | (k + 1) : k); }

// Converts each pixel of the mask into one word of `wordBytes` bytes, in field order.
template <class Word>
void buildMask(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen, int wordBytes, Word word) {
    if (!validSize(width, height) || mask == nullptr || dst == nullptr) {
        setLen(outLen, 0);
        return;
    }
    const std::size_t stride = MZ_ROW_STRIDE24(static_cast<std::size_t>(width));
    const std::size_t rowBytes = static_cast<std::size_t>(wordBytes) * width;
    uint8_t* field[2] = {dst, dst + evenFieldBytes(height, rowBytes)};
    for (int i = 0; i < height; ++i) {
        uint8_t*& out = field[i & 1];
        const uint8_t* px = mask + static_cast<std::size_t>(i) * stride;
        for (int j = 0; j < width; ++j, px += 3, out += wordBytes) word(out, px, j);
    }
    setLen(outLen, static_cast<int64_t>(rowBytes) * height);
}

uint8_t clampToByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v);
}

void buildPoints(const CameraParam* cameras, uint8_t* dst, int* outLen, bool world) {
    if (cameras == nullptr || dst == nullptr) {
        setLen(outLen, 0);
        return;
    }
    uint8_t* out = dst;
    for (int c = 0; c < 4; ++c) {
        const Point2F* points = world ? cameras[c].worldPoints : cameras[c].imagePoints;
        if (points == nullptr) continue;
        for (int k = 0; k < cameras[c].pointCount; ++k, out += 4) {
            put16(out, roundHalfAway(points[k].x));
            put16(out + 2, roundHalfAway(points[k].y));
        }
    }
    setLen(outLen, out - dst);
}

}  // namespace

void makeBinViewStrided(int width, int height, const float* base, std::ptrdiff_t colStep, std::ptrdiff_t rowStep,
                        uint8_t* dst, int mode) {
    if (base == nullptr) return;
    buildFullViewInHalves(
        width, height,
        [=](int i, int j) {
            const float* p = base + 2 * (i * rowStep + j * colStep);
            return Point2F{p[0], p[1]};
        },
        dst, mode);
}

void makeBinViewRows(int width, int height, const float* const* rows, uint8_t* dst, int mode) {
    if (rows == nullptr) return;
    buildFullViewInHalves(
        width, height,
        [rows](int i, int j) {
            return Point2F{rows[i][2 * j], rows[i][2 * j + 1]};
        },
        dst, mode);
}

}  // namespace mz

extern "C" {

MZ_API void mzMakeBinView(int width, int height, const Point2F* map, uint8_t* dst, int* outLen, int mode) {
    if (map == nullptr) {
        mz::setLen(outLen, 0);
        return;
    }
    mz::buildFullView(
        width, height, [map, width](int i, int j) { return map[static_cast<std::size_t>(i) * width + j]; }, dst, outLen,
        mode);
}

MZ_API void mzMakeBinViewHalf(int width, int height, const Point2F* map, uint8_t* dst, int* outLen, int mode) {
    mz::buildView(width, height, map, dst, outLen, mode, [](uint8_t* p, Point2F m, bool odd, int md) {
        const float hx = m.x * 0.5f;
        // Besides a negative halved position, the map's own (-1, -1) marker is missing here too,
        // exactly as in the full-width table: halved it would pass as the pixel (-0.5, -1).
        if (mz::isMissing(m.x, m.y) || (hx <= -1.0f && m.y < 0.0f)) mz::putMissing(p);
        else mz::putCoordinate(p, hx, m.y, odd, md);
    });
}

MZ_API void mzMakeBinMaskRGB16Len(int width, int height, int* len) {
    if (len != nullptr) *len = mz::validSize(width, height) ? 2 * width * height : 0;
}

MZ_API void mzMakeBinMaskRGB16(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen) {
    mz::buildMask(width, height, mask, dst, outLen, 2, [](uint8_t* out, const uint8_t* px, int) {
        const uint8_t b = px[0], g = px[1], r = px[2];
        const int k = mz::keyCode(b, g);
        const int word = k >= 0 ? mz::keyWord(k, r) : ((r >> 4) << 12) | ((g >> 4) << 8) | ((b >> 4) << 4) | 8;
        mz::put16(out, word);
    });
}

MZ_API void mzMakeBinMaskRGB24Len(int width, int height, int* len) {
    if (len != nullptr) *len = mz::validSize(width, height) ? MZ_ROW_STRIDE24(width) * height : 0;
}

MZ_API void mzMakeBinMaskRGB24(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen) {
    if (!mz::validSize(width, height) || mask == nullptr || dst == nullptr) {
        mz::setLen(outLen, 0);
        return;
    }
    const std::size_t bytes = MZ_ROW_STRIDE24(static_cast<std::size_t>(width)) * height;
    std::memcpy(dst, mask, bytes);
    mz::setLen(outLen, static_cast<int64_t>(bytes));
}

MZ_API void mzMakeBinMaskRGB32Len(int width, int height, int* len) {
    if (len != nullptr) *len = mz::validSize(width, height) ? 4 * width * height : 0;
}

MZ_API void mzMakeBinMaskRGB32(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen) {
    mz::buildMask(width, height, mask, dst, outLen, 4, [](uint8_t* out, const uint8_t* px, int) {
        const uint32_t b = px[0], g = px[1], r = px[2];
        const int k = mz::keyCode(px[0], px[1]);
        mz::put32(out, k >= 0 ? mz::keyWord(k, px[2]) : (r << 24) | (g << 16) | (b << 8) | 8);
    });
}

MZ_API void mzMakeBinMaskYCbCrLen(int width, int height, int* len) { mzMakeBinMaskRGB16Len(width, height, len); }

MZ_API void mzMakeBinMaskYCbCr(int width, int height, const uint8_t* mask, uint8_t* dst, int* outLen) {
    // Chroma is sampled on the even pixel of each pair and carried to the odd one.
    uint8_t cb = 0, cr = 0;
    mz::buildMask(width, height, mask, dst, outLen, 2, [&cb, &cr](uint8_t* out, const uint8_t* px, int j) {
        const float b = px[0], g = px[1], r = px[2];
        const uint8_t luma = mz::clampToByte(0.257f * r + 0.504f * g + 0.098f * b + 16.0f);
        if ((j & 1) == 0) {
            cb = mz::clampToByte(0.439f * b - 0.291f * g - 0.148f * r + 128.0f);
            cr = mz::clampToByte(0.439f * r - 0.368f * g - 0.071f * b + 128.0f);
        }
        const int k = mz::keyCode(px[0], px[1]);
        int word;
        if (k >= 0 && px[2] != 0) {
            word = mz::keyWord(k, px[2]);
        } else if (k >= 0) {
            // The format defines these words for zones 2 and 6 with no blend share: not k alone.
            word = (k == 2 || k == 6) ? 0xFF00 | k : k;
        } else {
            const uint8_t chroma = (j & 1) == 0 ? cb : cr;
            word = ((chroma >> 2) << 10) | ((luma >> 2) << 4) | 8;
        }
        mz::put16(out, word);
    });
}

MZ_API void mzMakeBinIPoint(const CameraParam* cameras, uint8_t* dst, int* outLen) {
    mz::buildPoints(cameras, dst, outLen, false);
}

MZ_API void mzMakeBinWPoint(const CameraParam* cameras, uint8_t* dst, int* outLen) {
    mz::buildPoints(cameras, dst, outLen, true);
}

MZ_API void mzMakeBinPGS(const PgsTable* table, uint8_t* dst, int* outLen, int useSecondTable, int allLines) {
    if (table == nullptr || dst == nullptr || table->lineCount <= 0 || table->pointsPerLine <= 0) {
        mz::setLen(outLen, 0);
        return;
    }
    const Point2F* points = useSecondTable ? table->points2 : table->points1;
    if (points == nullptr) {
        mz::setLen(outLen, 0);
        return;
    }
    int64_t first = 0, count = static_cast<int64_t>(table->lineCount) * table->pointsPerLine;
    if (!allLines) {
        first = static_cast<int64_t>((table->lineCount - 1) / 2) * table->pointsPerLine;
        count = table->pointsPerLine;
    }
    uint8_t* out = dst;
    for (int64_t k = first; k < first + count; ++k, out += 4) {
        const Point2F p = points[k];
        if (p.x == -1.0f && p.y == -1.0f) {
            mz::putMissing(out);
        } else {
            mz::put16(out, mz::roundHalfAway(p.x));
            mz::put16(out + 2, mz::roundHalfAway(p.y));
        }
    }
    mz::setLen(outLen, out - dst);
}

}  // extern "C"
