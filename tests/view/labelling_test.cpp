#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mz/mzview.h"

namespace {

struct Grid {
    int width, height;
    std::vector<std::vector<uint8_t>> pixels;
    std::vector<std::vector<int>> labels, contour;
    std::vector<const uint8_t*> pixelRows;
    std::vector<int*> labelRows, contourRows;

    Grid(int w, int h)
        : width(w), height(h), pixels(h, std::vector<uint8_t>(w, 255)), labels(h, std::vector<int>(w, 99)),
          contour(h, std::vector<int>(w, 99)) {}

    int run(bool withContour = true) {
        pixelRows.clear();
        labelRows.clear();
        contourRows.clear();
        for (int i = 0; i < height; ++i) {
            pixelRows.push_back(pixels[i].data());
            labelRows.push_back(labels[i].data());
            contourRows.push_back(contour[i].data());
        }
        int count = -1;
        const int n = mzCCL(width, height, pixelRows.data(), labelRows.data(),
                            withContour ? contourRows.data() : nullptr, &count);
        EXPECT_EQ(n, count);
        return n;
    }
    void set(int x, int y) { pixels[y][x] = 0; }
};

// Components by plain flood fill: 8-connectivity, the outermost rows and columns excluded.
std::vector<std::vector<int>> floodFill(const Grid& g, int* count) {
    std::vector<std::vector<int>> comp(g.height, std::vector<int>(g.width, 0));
    *count = 0;
    for (int i = 1; i < g.height - 1; ++i)
        for (int j = 1; j < g.width - 1; ++j) {
            if (g.pixels[i][j] == 255 || comp[i][j] != 0) continue;
            ++*count;
            std::vector<std::pair<int, int>> stack{{i, j}};
            comp[i][j] = *count;
            while (!stack.empty()) {
                auto [r, c] = stack.back();
                stack.pop_back();
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int nr = r + dr, nc = c + dc;
                        if (nr < 1 || nc < 1 || nr >= g.height - 1 || nc >= g.width - 1) continue;
                        if (g.pixels[nr][nc] == 255 || comp[nr][nc] != 0) continue;
                        comp[nr][nc] = *count;
                        stack.push_back({nr, nc});
                    }
            }
        }
    return comp;
}

TEST(Labelling, AgreesWithFloodFillOnRandomImages) {
    std::mt19937 rng(42);
    for (int trial = 0; trial < 200; ++trial) {
        const int w = 3 + static_cast<int>(rng() % 40), h = 3 + static_cast<int>(rng() % 30);
        const unsigned density = 20 + rng() % 60;
        Grid g(w, h);
        for (int i = 0; i < h; ++i)
            for (int j = 0; j < w; ++j)
                if (rng() % 100 < density) g.set(j, i);
        int expected = 0;
        const auto comp = floodFill(g, &expected);
        ASSERT_EQ(g.run(trial % 2 == 0), expected) << "trial " << trial;
        // The labels partition the foreground exactly as the flood fill does.
        std::vector<int> labelOf(expected + 1, 0), compOf(expected + 1, 0);
        for (int i = 0; i < h; ++i)
            for (int j = 0; j < w; ++j) {
                const int l = g.labels[i][j], c = comp[i][j];
                if (c == 0) {
                    ASSERT_LE(l, 0) << "background labelled at " << j << "," << i;
                    continue;
                }
                ASSERT_GE(l, 1);
                ASSERT_LE(l, expected);
                if (labelOf[c] == 0) labelOf[c] = l;
                if (compOf[l] == 0) compOf[l] = c;
                ASSERT_EQ(labelOf[c], l);
                ASSERT_EQ(compOf[l], c);
            }
    }
}

TEST(Labelling, SinglePixelMarksTheNeighboursItExamined) {
    Grid g(4, 4);
    g.set(1, 1);
    ASSERT_EQ(g.run(), 1);
    EXPECT_EQ(g.labels[1][1], 1);
    EXPECT_EQ(g.contour[1][1], 1);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            EXPECT_EQ(g.labels[1 + dy][1 + dx], dx == 1 && dy == -1 ? 0 : -1) << dx << "," << dy;
        }
}

TEST(Labelling, RingFrameAndEmptyImages) {
    Grid ring(7, 7);
    for (int i = 1; i <= 5; ++i)
        for (int j = 1; j <= 5; ++j)
            if (i == 1 || i == 5 || j == 1 || j == 5) ring.set(j, i);
    ring.set(3, 3);  // an island inside the hole is a second region
    ASSERT_EQ(ring.run(), 2);
    for (int i = 2; i <= 4; ++i)
        for (int j = 2; j <= 4; ++j)
            if (!(i == 3 && j == 3)) {
                EXPECT_LE(ring.labels[i][j], 0);
            }
    EXPECT_EQ(ring.labels[3][3], 2);
    // Every ring pixel is on its outer or inner contour.
    for (int i = 1; i <= 5; ++i)
        for (int j = 1; j <= 5; ++j)
            if (ring.pixels[i][j] == 0 && !(i == 3 && j == 3)) {
                EXPECT_EQ(ring.contour[i][j], 1);
            }

    Grid frame(5, 5);
    for (int k = 0; k < 5; ++k) {
        frame.set(k, 0);
        frame.set(0, k);
        frame.set(k, 4);
        frame.set(4, k);
    }
    EXPECT_EQ(frame.run(), 0);
    Grid empty(6, 5);
    EXPECT_EQ(empty.run(), 0);
    for (const auto& row : empty.labels)
        for (int v : row) EXPECT_EQ(v, 0);
    Grid thin(2, 9);
    thin.set(1, 4);
    EXPECT_EQ(thin.run(), 0);
    EXPECT_EQ(thin.labels[4][1], 0);  // cleared even though nothing is scanned
}

TEST(Labelling, DiagonalTouchJoinsRegions) {
    Grid g(6, 6);
    g.set(1, 1);
    g.set(2, 2);
    g.set(4, 1);
    g.set(3, 2);  // touches (2, 2) from the side and (4, 1) diagonally
    EXPECT_EQ(g.run(), 1);
}

}  // namespace
