#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

#include "geometry/image.h"
#include "mz/mzview.h"

namespace {

using Dots = std::set<std::pair<int, int>>;

mz::ImageBufferPtr blank(int w, int h) {
    mz::ImageBufferPtr image(mz::createImageBuffer(3, w, h));
    mz::clearRows(image->rows, h, static_cast<size_t>(image->stride));
    return image;
}

Dots painted(const ImageBuffer* image) {
    Dots dots;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const uint8_t* p = image->rows[y] + 3 * x;
            if (p[0] || p[1] || p[2]) dots.insert({x, y});
        }
    return dots;
}

TEST(Lines, BresenhamStepsInBothDirections) {
    auto image = blank(10, 8);
    mzDrawLineBresenham(image.get(), 2, 2, 6, 4, 0x0000FF, 1);
    EXPECT_EQ(painted(image.get()), (Dots{{2, 2}, {3, 3}, {4, 3}, {5, 4}, {6, 4}}));
    const uint8_t red[3] = {0, 0, 255};
    EXPECT_EQ(0, std::memcmp(image->rows[3] + 9, red, 3));

    image = blank(10, 8);
    mzDrawLineBresenham(image.get(), 6, 4, 2, 2, 0x123456, 1);
    EXPECT_EQ(painted(image.get()), (Dots{{6, 4}, {5, 3}, {4, 3}, {3, 2}, {2, 2}}));
    const uint8_t bytes[3] = {0x12, 0x34, 0x56};
    EXPECT_EQ(0, std::memcmp(image->rows[2] + 6, bytes, 3));

    image = blank(10, 8);
    mzDrawLineBresenham(image.get(), 1, 7, 4, 1, 0xFFFFFF, 1);  // steep, upwards
    const Dots steep = painted(image.get());
    EXPECT_EQ(steep.size(), 7u);
    EXPECT_TRUE(steep.count({1, 7}) && steep.count({4, 1}));
}

TEST(Lines, RejectedEndPointsAndClippedDots) {
    auto image = blank(10, 8);
    mzDrawLineBresenham(image.get(), 2, 2, 10, 4, 0xFFFFFF, 1);  // one past the last column
    mzDrawLineBresenham(image.get(), 2, 2, 2, -1, 0xFFFFFF, 1);
    mzDrawLineBresenham(image.get(), 3, 3, 3, 3, 0xFFFFFF, 1);
    mzDrawLineBresenham(image.get(), 1, 1, 5, 5, 0xFFFFFF, 0);
    EXPECT_TRUE(painted(image.get()).empty());

    mzDrawLineBresenham(image.get(), 9, 0, 9, 2, 0xFFFFFF, 3);
    Dots expected;
    for (int y = 0; y <= 4; ++y) expected.insert({9, y});
    EXPECT_EQ(painted(image.get()), expected);
}

}  // namespace
