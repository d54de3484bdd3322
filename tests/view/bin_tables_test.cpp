#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mz/mzview.h"

namespace {

using Bytes = std::vector<uint8_t>;

int16_t s16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }
// The display unit reads X without sign: 64 x addresses up to 1024 source columns.
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Entry (row, column) of a table of `height` rows in field order, `entry` bytes per entry.
const uint8_t* at(const Bytes& table, int width, int height, int row, int col, int entry) {
    const int fieldRow = row % 2 == 0 ? row / 2 : (height + 1) / 2 + row / 2;
    return table.data() + (static_cast<size_t>(fieldRow) * width + col) * entry;
}

Bytes view(const std::vector<Point2F>& map, int width, int height, int mode, bool half = false) {
    Bytes out(4 * map.size(), 0xAA);
    int len = -7;
    (half ? mzMakeBinViewHalf : mzMakeBinView)(width, height, map.data(), out.data(), &len, mode);
    EXPECT_EQ(len, 4 * width * height);
    return out;
}

bool missing(const uint8_t* e) { return e[0] == 0xFF && e[1] == 0xFF && e[2] == 0xFF && e[3] == 0xFF; }

TEST(BinView, WholeAndSubPixelRounding) {
    // Two rows so the same coordinates land in an even and an odd output row.
    const std::vector<Point2F> map = {{10.4f, 21.0f}, {10.5f, 20.25f}, {-0.5f, 0.5f},
                                      {10.4f, 21.0f}, {10.5f, 20.25f}, {2.0f, 0.5f}};
    const Bytes whole = view(map, 3, 2, 0);
    EXPECT_EQ(s16(at(whole, 3, 2, 0, 0, 4)), 640);
    EXPECT_EQ(s16(at(whole, 3, 2, 0, 0, 4) + 2), 704);  // 10.5 rounds up
    EXPECT_EQ(s16(at(whole, 3, 2, 0, 2, 4)), -64);      // -0.5 rounds away from zero
    EXPECT_EQ(s16(at(whole, 3, 2, 1, 0, 4) + 2), 704);  // both fields alike

    const Bytes sub = view(map, 3, 2, 1);
    EXPECT_EQ(s16(at(sub, 3, 2, 0, 1, 4)), 672);
    EXPECT_EQ(s16(at(sub, 3, 2, 0, 1, 4) + 2), 648);
    EXPECT_EQ(s16(at(sub, 3, 2, 1, 1, 4) + 2), 616);  // odd field: one source row lower
    EXPECT_EQ(s16(at(sub, 3, 2, 0, 0, 4) + 2), 672);  // 21.0: odd integer part
    EXPECT_EQ(s16(at(sub, 3, 2, 1, 0, 4) + 2), 640);
    EXPECT_EQ(s16(at(sub, 3, 2, 1, 2, 4) + 2), 16 - 64);  // 0 <= y < 1 in the odd field
    EXPECT_EQ(s16(at(sub, 3, 2, 0, 2, 4) + 2), 16);
}

TEST(BinView, MissingEntriesInBothWidths) {
    const std::vector<Point2F> map = {{-1, -1}, {-1.5f, -1}, {-1, -0.5f}, {-2, -1}, {-3, 4}, {0.2f, -1}};
    for (int mode : {0, 1}) {
        const Bytes full = view(map, 6, 1, mode);
        EXPECT_TRUE(missing(&full[0]));
        EXPECT_TRUE(missing(&full[4]));
        EXPECT_FALSE(missing(&full[8]));
        EXPECT_FALSE(missing(&full[12]));  // x truncates to -2: a position, not the marker
        const Bytes half = view(map, 6, 1, mode, true);
        EXPECT_TRUE(missing(&half[0]));  // the map's marker stays missing in the half-width table
        EXPECT_TRUE(missing(&half[12]));
        EXPECT_FALSE(missing(&half[16]));  // negative x with a positive y is a position
        EXPECT_FALSE(missing(&half[20]));
    }
    const Bytes half = view({{10.4f, 21.0f}, {-1.0f, -0.5f}}, 2, 1, 0, true);
    EXPECT_EQ(s16(&half[0]), 320);  // 5.2
    EXPECT_EQ(s16(&half[4]), -64);  // -0.5 rounds to -1
    EXPECT_EQ(s16(&half[2]), 704);  // y as in the full-width table
}

// Rows are packed four entries at a time where all four allow it; any mix of ordinary, missing,
// negative, huge and NaN positions gives the entries a one-entry table gives (width 1 packs one by
// one).
TEST(BinView, EntriesPackedTogetherEqualEntriesPackedAlone) {
    std::mt19937 random(3);
    const float odd[] = {-1.0f, -1.5f, -0.0f,    0.0f,        -3.0f, 4194303.5f, 4194304.0f,
                         1e9f,  NAN,   INFINITY, 0.49999997f, 1.0f,  2.9999998f};
    const int width = 63, height = 6;
    std::vector<Point2F> map(width * height);
    for (size_t i = 0; i < map.size(); ++i) {
        const int kind = static_cast<int>(random() % 8);
        if (kind == 0) map[i] = {-1.0f, -1.0f};
        else if (kind == 1) map[i] = {odd[random() % 13], odd[random() % 13]};
        else
            map[i] = {std::uniform_real_distribution<float>(0, 720)(random),
                      std::uniform_real_distribution<float>(0, 480)(random)};
    }
    for (const int mode : {0, 1}) {
        Bytes table(4 * map.size());
        mzMakeBinView(width, height, map.data(), table.data(), nullptr, mode);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col) {
                // A 1 x 2 table holds the entry in an even row first, in an odd row second.
                const Point2F pair[2] = {map[row * width + col], map[row * width + col]};
                uint8_t alone[8];
                mzMakeBinView(1, 2, pair, alone, nullptr, mode);
                const uint8_t* want = alone + 4 * (row % 2);
                ASSERT_EQ(0, std::memcmp(want, at(table, width, height, row, col, 4), 4))
                    << "mode " << mode << ", (" << map[row * width + col].x << ", " << map[row * width + col].y
                    << ") in row " << row;
            }
    }
}

TEST(BinView, FieldOrderAndUnsupportedMode) {
    const int width = 2, height = 5;
    std::vector<Point2F> map;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) map.push_back({float(c), float(2 * r)});
    const Bytes t = view(map, width, height, 0);
    const int rowsInOrder[] = {0, 2, 4, 1, 3};
    for (int k = 0; k < height; ++k) EXPECT_EQ(s16(&t[8 * k + 2]), 64 * rowsInOrder[k]) << k;

    Bytes out(4 * map.size(), 0xAA);
    int len = -7;
    mzMakeBinView(width, height, map.data(), out.data(), &len, 2);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(out, Bytes(out.size(), 0xAA));
    mzMakeBinView(width, height, map.data(), out.data(), nullptr, 0);  // no length wanted
}

TEST(BinView, DecodesBackToTheMap) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> ux(0.0f, 719.99f), uy(1.0f, 479.99f);
    const int width = 64, height = 48;
    std::vector<Point2F> map(width * height);
    for (auto& p : map) p = {ux(rng), uy(rng)};
    map[5] = {-1, -1};
    const Bytes sub = view(map, width, height, 1), whole = view(map, width, height, 0);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const Point2F p = map[r * width + c];
            const uint8_t* e1 = at(sub, width, height, r, c, 4);
            const uint8_t* e0 = at(whole, width, height, r, c, 4);
            if (p.x == -1) {
                ASSERT_TRUE(missing(e1) && missing(e0));
                continue;
            }
            ASSERT_NEAR(u16(e1) / 64.0, p.x, 1.0 / 128 + 1e-4);
            ASSERT_NEAR(s16(e1 + 2) / 32.0 + (r % 2), p.y, 1.0 / 64 + 1e-4) << r;
            ASSERT_NEAR(u16(e0) / 64.0, p.x, 0.5 + 1e-4);
            ASSERT_NEAR(s16(e0 + 2) / 32.0, p.y, 1.0 + 1e-4);
        }
}

// A mask image with its rows padded to 4 bytes.
Bytes maskOf(int width, const std::vector<std::vector<uint8_t>>& rows) {
    const size_t stride = MZ_ROW_STRIDE24(width);
    Bytes mask(stride * rows.size(), 0xEE);
    for (size_t r = 0; r < rows.size(); ++r) std::memcpy(&mask[r * stride], rows[r].data(), 3 * width);
    return mask;
}

Bytes maskWords(void (*build)(int, int, const uint8_t*, uint8_t*, int*), void (*lenOf)(int, int, int*), int width,
                int height, const Bytes& mask) {
    int len = 0, out = -1;
    lenOf(width, height, &len);
    Bytes dst(len);
    build(width, height, mask.data(), dst.data(), &out);
    EXPECT_EQ(out, len);
    return dst;
}

TEST(BinMask, KeyColoursAndPackedColours) {
    // (B, G, R) per pixel; width 5 leaves one padding byte per row.
    const Bytes mask = maskOf(5, {{255, 0, 0, 255, 0, 128, 16, 32, 48, 0, 255, 0, 255, 255, 0},
                                  {0, 0, 0, 0, 255, 7, 16, 32, 48, 16, 32, 48, 200, 100, 50}});
    const Bytes w16 = maskWords(mzMakeBinMaskRGB16, mzMakeBinMaskRGB16Len, 5, 2, mask);
    const Bytes row0_16 = {0x02, 0x00, 0x03, 0x80, 0x18, 0x32, 0x06, 0x00, 0x04, 0x00};
    EXPECT_EQ(Bytes(w16.begin(), w16.begin() + 10), row0_16);
    const Bytes row1_16 = {0x00, 0x00, 0x07, 0x07, 0x18, 0x32, 0x18, 0x32, 0xC8, 0x36};
    EXPECT_EQ(Bytes(w16.begin() + 10, w16.end()), row1_16);

    const Bytes w32 = maskWords(mzMakeBinMaskRGB32, mzMakeBinMaskRGB32Len, 5, 2, mask);
    const Bytes row0_32 = {2, 0, 0, 0, 3, 0x80, 0, 0, 0x08, 0x10, 0x20, 0x30, 6, 0, 0, 0, 4, 0, 0, 0};
    EXPECT_EQ(Bytes(w32.begin(), w32.begin() + 20), row0_32);

    const Bytes w24 = maskWords(mzMakeBinMaskRGB24, mzMakeBinMaskRGB24Len, 5, 2, mask);
    EXPECT_EQ(w24, mask);  // padding included
}

TEST(BinMask, LumaChromaWords) {
    const Bytes mask = maskOf(4, {{255, 0, 0, 0, 255, 0, 0, 0, 0, 255, 255, 0},
                                  {255, 0, 128, 0, 255, 9, 0, 0, 0, 0, 0, 0},
                                  {16, 32, 48, 16, 32, 48, 16, 32, 48, 200, 100, 50}});
    const Bytes w = maskWords(mzMakeBinMaskYCbCr, mzMakeBinMaskYCbCrLen, 4, 3, mask);
    const Bytes keys = {0x02, 0xFF, 0x06, 0xFF, 0x00, 0x00, 0x04, 0x00};
    EXPECT_EQ(Bytes(w.begin(), w.begin() + 8), keys);
    // Field order: row 2 (even field) follows row 0, row 1 comes last.
    const Bytes shares = {0x03, 0x80, 0x07, 0x09, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(w.begin() + 16, w.end()), shares);
    // (16, 32, 48): luma 46, Cb 118, Cr 136. The odd pixel of a pair carries the even pixel's Cr,
    // even when its own colour differs (last pixel).
    EXPECT_EQ(s16(&w[8]) & 0xFFFF, (29 << 10) | (11 << 4) | 8);
    EXPECT_EQ(s16(&w[10]) & 0xFFFF, (34 << 10) | (11 << 4) | 8);
    EXPECT_EQ(s16(&w[12]) & 0xFFFF, (29 << 10) | (11 << 4) | 8);
    const int lumaOfLast = int(0.257f * 50 + 0.504f * 100 + 0.098f * 200 + 16.0f);
    EXPECT_EQ(s16(&w[14]) & 0xFFFF, (34 << 10) | ((lumaOfLast >> 2) << 4) | 8);
}

TEST(BinPoints, EveryPointOfEveryCameraFitsTheCallersBuffer) {
    // 80 points, more than the 50 a fixed staging buffer would hold.
    std::vector<Point2F> image[4], world[4];
    CameraParam cams[4] = {};
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 20; ++k) {
            image[c].push_back({c * 100 + k + 0.5f, -(k + 0.5f)});
            world[c].push_back({-2.49f, 32767.6f});
        }
        cams[c].pointCount = 20;
        cams[c].imagePoints = image[c].data();
        cams[c].worldPoints = world[c].data();
    }
    Bytes out(4 * 80);  // exactly the size the points need
    int len = 0;
    mzMakeBinIPoint(cams, out.data(), &len);
    EXPECT_EQ(len, 320);
    EXPECT_EQ(s16(&out[4 * 23]), 104);     // camera 1, point 3: 103.5 rounds up
    EXPECT_EQ(s16(&out[4 * 23 + 2]), -4);  // -3.5 rounds away from zero
    mzMakeBinWPoint(cams, out.data(), &len);
    EXPECT_EQ(len, 320);
    EXPECT_EQ(s16(&out[0]), -2);
    EXPECT_EQ(s16(&out[2]), -32768);  // 32768 wraps in 16 bits
}

TEST(BinPoints, GuideLinesMiddleOrAll) {
    std::vector<Point2F> first, second;
    for (int line = 0; line < 5; ++line)
        for (int k = 0; k < 3; ++k) {
            first.push_back({float(10 * line + k), 1.5f});
            second.push_back({-1.0f, -1.0f});
        }
    PgsTable table = {};
    table.lineCount = 5;
    table.pointsPerLine = 3;
    table.points1 = first.data();
    table.points2 = second.data();
    Bytes out(4 * 15);
    int len = 0;
    mzMakeBinPGS(&table, out.data(), &len, 0, 0);
    ASSERT_EQ(len, 12);
    EXPECT_EQ(s16(&out[0]), 20);  // line 2 only
    EXPECT_EQ(s16(&out[8]), 22);
    EXPECT_EQ(s16(&out[2]), 2);
    mzMakeBinPGS(&table, out.data(), &len, 1, 1);
    ASSERT_EQ(len, 60);
    EXPECT_EQ(out, Bytes(60, 0xFF));
    table.lineCount = 0;
    mzMakeBinPGS(&table, out.data(), &len, 0, 1);
    EXPECT_EQ(len, 0);
}

}  // namespace
