#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "geometry/image.h"
#include "mz/mzgeometry.h"

namespace {

using mz::ImageBufferPtr;

ImageBufferPtr randomImage(int channels, int width, int height, std::mt19937& rng) {
    ImageBufferPtr image(mz::createImageBuffer(channels, width, height));
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < image->stride; ++j) image->rows[i][j] = static_cast<uint8_t>(rng());
    return image;
}

void fillImage(ImageBuffer* image, uint8_t v) {
    for (int i = 0; i < image->height; ++i) std::memset(image->rows[i], v, static_cast<size_t>(image->stride));
}

struct Map {
    int width, height;
    std::vector<std::vector<float>> data;
    std::vector<float*> rows;
    Map(int w, int h) : width(w), height(h), data(h, std::vector<float>(2 * w)), rows(h) {
        for (int i = 0; i < h; ++i) rows[i] = data[i].data();
    }
    float** get() { return rows.data(); }
};

// Positions over and beyond the source, exact quarter and half steps (rounding ties), the
// missing marker and values no integer can hold.
Map randomMap(int width, int height, int sw, int sh, std::mt19937& rng) {
    Map map(width, height);
    std::uniform_real_distribution<float> ux(-2.0f, sw + 1.0f), uy(-2.0f, sh + 1.0f);
    std::uniform_int_distribution<int> kind(0, 19);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            float x = ux(rng), y = uy(rng);
            switch (kind(rng)) {
            case 0: x = y = -1.0f; break;
            case 1:
                x = std::round(x * 4) / 4;
                y = std::round(y * 2) / 2;
                break;
            case 2: x = std::round(x * 2048) / 2048; break;  // half a position step
            case 3: x = std::numeric_limits<float>::quiet_NaN(); break;
            case 4: y = 1e20f; break;
            default: break;
            }
            map.data[i][2 * j] = x;
            map.data[i][2 * j + 1] = y;
        }
    return map;
}

// The formulas of the image utilities, evaluated plainly in double precision.
bool roundRef(double v, long long* out) {
    if (!(v >= -2147483648.0 && v < 2147483648.0)) return false;
    *out = static_cast<long long>(v >= 0 ? std::floor(v + 0.5) : -std::floor(-v + 0.5));
    return true;
}

double cubicRef(double x) {
    x = std::fabs(x);
    if (x <= 1) return 1.25 * x * x * x - 2.25 * x * x + 1;
    if (x < 2) return -0.75 * x * x * x + 3.75 * x * x - 6 * x + 3;
    return 0;
}

int sample(const ImageBuffer* s, int y, int x, int c) { return s->rows[y][x * s->channels + c]; }

// Writes one target pixel the way the remap formulas say; false when the pixel has no source.
bool referencePixel(const ImageBuffer* s, float mx, float my, int flags, const uint8_t* key, uint8_t* out) {
    const int ch = s->channels;
    if (!(flags & 3)) {
        long long x, y;
        if (!roundRef(mx, &x) || !roundRef(my, &y) || x < 0 || x >= s->width || y < 0 || y >= s->height) return false;
        for (int c = 0; c < ch; ++c) out[c] = static_cast<uint8_t>(sample(s, int(y), int(x), c));
        return true;
    }
    long long X, Y;
    if (!roundRef(double(mx) * 1024, &X) || !roundRef(double(my) * 1024, &Y)) return false;
    const long long xi = static_cast<long long>(std::floor(X / 1024.0)),
                    yi = static_cast<long long>(std::floor(Y / 1024.0));
    const double fx = double(X - xi * 1024) / 1024, fy = double(Y - yi * 1024) / 1024;
    if (flags & 2) {
        if (xi < 1 || xi > s->width - 3 || yi < 1 || yi > s->height - 3) return false;
        for (int c = 0; c < ch; ++c) {
            double sum = 0;
            for (int r = -1; r <= 2; ++r)
                for (int q = -1; q <= 2; ++q)
                    sum += sample(s, int(yi + r), int(xi + q), c) * cubicRef(q - fx) * cubicRef(r - fy);
            long long v;
            roundRef(sum, &v);
            out[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        return true;
    }
    if (xi < 0 || xi >= s->width - 1 || yi < 0 || yi >= s->height - 1) return false;
    for (int c = 0; c < ch; ++c) {
        double n[4] = {double(sample(s, int(yi), int(xi), c)), double(sample(s, int(yi), int(xi + 1), c)),
                       double(sample(s, int(yi + 1), int(xi), c)), double(sample(s, int(yi + 1), int(xi + 1), c))};
        if (key != nullptr) {
            if (n[0] == key[c]) {
                out[c] = key[c];
                continue;
            }
            for (int k = 1; k < 4; ++k)
                if (n[k] == key[c]) n[k] = n[0];
        }
        const double v = (n[0] * (1 - fx) + n[1] * fx) * (1 - fy) + (n[2] * (1 - fx) + n[3] * fx) * fy;
        long long r;
        roundRef(v, &r);
        out[c] = static_cast<uint8_t>(r);
    }
    return true;
}

void expectMatchesReference(const ImageBuffer* source, const ImageBuffer* target, const Map& map, int flags,
                            const uint8_t* fill, uint8_t background, const uint8_t* key = nullptr) {
    const int ch = source->channels;
    int mismatches = 0;
    for (int i = 0; i < target->height; ++i)
        for (int j = 0; j < target->width; ++j) {
            uint8_t expected[8];
            if (!referencePixel(source, map.data[i][2 * j], map.data[i][2 * j + 1], flags, key, expected))
                for (int c = 0; c < ch; ++c) expected[c] = fill ? fill[c] : background;
            for (int c = 0; c < ch; ++c)
                if (target->rows[i][j * ch + c] != expected[c] && ++mismatches <= 5)
                    ADD_FAILURE() << "flags " << flags << " pixel (" << j << ", " << i << ") channel " << c << " at ("
                                  << map.data[i][2 * j] << ", " << map.data[i][2 * j + 1]
                                  << "): " << int(target->rows[i][j * ch + c]) << " != " << int(expected[c]);
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(Remap, EveryModeMatchesThePlainFormula) {
    std::mt19937 rng(7);
    const uint8_t fill[4] = {0, 0, 255, 9};
    for (int ch : {1, 3, 4, 2}) {
        const ImageBufferPtr source = randomImage(ch, 37, 23, rng);
        ImageBufferPtr target(mz::createImageBuffer(ch, 61, 47));
        for (int flags : {0, 1, 2, 3}) {
            const Map map = randomMap(61, 47, 37, 23, rng);
            for (const uint8_t* f : {static_cast<const uint8_t*>(fill), static_cast<const uint8_t*>(nullptr)}) {
                fillImage(target.get(), 77);
                ASSERT_EQ(mzRemap(source.get(), target.get(), const_cast<Map&>(map).get(), flags, f), 0);
                expectMatchesReference(source.get(), target.get(), map, flags, f, 77);
            }
        }
    }
}

TEST(Remap, BordersOfTheSourceAndFill) {
    std::mt19937 rng(3);
    const ImageBufferPtr source = randomImage(3, 4, 4, rng);
    ImageBufferPtr target(mz::createImageBuffer(3, 3, 1));
    Map map(3, 1);
    map.data[0] = {3.0f, 1.0f, -1.0f, -1.0f, 2.999f, 2.0f};
    const uint8_t red[3] = {0, 0, 255};
    fillImage(target.get(), 5);
    ASSERT_EQ(mzRemap(source.get(), target.get(), map.get(), 1, red), 0);
    EXPECT_EQ(0, std::memcmp(target->rows[0], red, 3));      // x = width - 1: no right neighbour
    EXPECT_EQ(0, std::memcmp(target->rows[0] + 3, red, 3));  // missing marker
    EXPECT_NE(0, std::memcmp(target->rows[0] + 6, red, 3));  // just inside
    fillImage(target.get(), 5);
    ASSERT_EQ(mzRemap(source.get(), target.get(), map.get(), 0, nullptr), 0);
    EXPECT_EQ(0, std::memcmp(target->rows[0], source->rows[1] + 9, 3));  // nearest accepts it
    EXPECT_EQ(target->rows[0][3], 5);                                    // no fill: left alone
}

TEST(Remap, RejectsMismatchedOrMissingImages) {
    ImageBufferPtr a(mz::createImageBuffer(3, 4, 4)), b(mz::createImageBuffer(1, 4, 4));
    Map map(4, 4);
    EXPECT_EQ(mzRemap(a.get(), b.get(), map.get(), 1, nullptr), -1);
    EXPECT_EQ(mzRemapAlpha(a.get(), b.get(), map.get(), 1, nullptr), -1);
    EXPECT_EQ(mzResizeImage(a.get(), b.get(), 1), -1);
    EXPECT_EQ(mzRemap(nullptr, b.get(), map.get(), 1, nullptr), -5);
    EXPECT_EQ(mzRemap(a.get(), a.get(), nullptr, 1, nullptr), -5);
}

TEST(RemapAlpha, KeyedBilinearNeverBlendsTheKey) {
    std::mt19937 rng(11);
    ImageBufferPtr source = randomImage(3, 20, 15, rng);
    const uint8_t key[3] = {0, 255, 0};
    // Scatter key values, per channel and whole pixels, so every neighbour case occurs.
    for (int i = 0; i < 15; ++i)
        for (int j = 0; j < 20; ++j)
            if (rng() % 3 == 0) std::memcpy(source->rows[i] + 3 * j, key, 3);
            else if (rng() % 4 == 0) source->rows[i][3 * j + 1] = 255;
    ImageBufferPtr target(mz::createImageBuffer(3, 40, 30));
    const Map map = randomMap(40, 30, 20, 15, rng);
    fillImage(target.get(), 1);
    ASSERT_EQ(mzRemapAlpha(source.get(), target.get(), const_cast<Map&>(map).get(), 1, key), 0);
    expectMatchesReference(source.get(), target.get(), map, 1, key, 1, key);
    fillImage(target.get(), 1);
    ASSERT_EQ(mzRemapAlpha(source.get(), target.get(), const_cast<Map&>(map).get(), 0, key), 0);
    expectMatchesReference(source.get(), target.get(), map, 0, key, 1);
}

TEST(Resize, CentresTheScaleAndKeepsPixelsWithoutSource) {
    ImageBufferPtr source(mz::createImageBuffer(1, 4, 4));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) source->rows[i][j] = static_cast<uint8_t>(40 * i + 8 * j);
    ImageBufferPtr target(mz::createImageBuffer(1, 8, 8));
    fillImage(target.get(), 3);
    ASSERT_EQ(mzResizeImage(source.get(), target.get(), 1), 0);
    EXPECT_EQ(target->rows[0][0], 3);  // x = 0 exactly has no source
    EXPECT_EQ(target->rows[4][0], 3);
    EXPECT_EQ(target->rows[1][1], 24);  // (0.5, 0.5): mean of 0, 8, 40, 48
    EXPECT_EQ(target->rows[4][4], 96);  // the centres meet: (2, 2)

    ImageBufferPtr same(mz::createImageBuffer(1, 4, 4));
    ASSERT_EQ(mzResizeImage(source.get(), same.get(), 2), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0, std::memcmp(same->rows[i], source->rows[i], 4));
}

TEST(Remap, FirstUseFromManyThreadsGivesOneResult) {
    std::mt19937 rng(5);
    const ImageBufferPtr source = randomImage(3, 30, 30, rng);
    const Map map = randomMap(50, 50, 30, 30, rng);
    std::vector<ImageBufferPtr> targets;
    for (int t = 0; t < 4; ++t) {
        targets.emplace_back(mz::createImageBuffer(3, 50, 50));
        fillImage(targets.back().get(), 0);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&, t] { mzRemap(source.get(), targets[t].get(), const_cast<Map&>(map).get(), 2, nullptr); });
    for (auto& th : threads) th.join();
    expectMatchesReference(source.get(), targets[0].get(), map, 2, nullptr, 0);
    for (int t = 1; t < 4; ++t)
        for (int i = 0; i < 50; ++i) ASSERT_EQ(0, std::memcmp(targets[t]->rows[i], targets[0]->rows[i], 150));
}

}  // namespace
