// Straight lines of square dots, for the guide and seam lines painted into 24-bit images.
#include <cstdint>
#include <cstdlib>

#include "mz/mzview.h"

namespace mz {
namespace {

struct Pen {
    ImageBuffer* image;
    uint8_t bytes[3];
    int size;

    // The square dot of `size` pixels with its top-left corner at (x, y), clipped to the image.
    void dot(int x, int y) const {
        const int x1 = x + size < image->width ? x + size : image->width;
        const int y1 = y + size < image->height ? y + size : image->height;
        for (int r = y < 0 ? 0 : y; r < y1; ++r) {
            uint8_t* p = image->rows[r];
            for (int c = x < 0 ? 0 : x; c < x1; ++c) {
                uint8_t* px = p + static_cast<std::size_t>(c) * image->channels;
                px[0] = bytes[0];
                px[1] = bytes[1];
                px[2] = bytes[2];
            }
        }
    }
};

bool inside(const ImageBuffer* image, int x, int y) {
    return x >= 0 && x < image->width && y >= 0 && y < image->height;
}

}  // namespace
}  // namespace mz

extern "C" {

MZ_API void mzDrawLineBresenham(ImageBuffer* image, int x0, int y0, int x1, int y1, uint32_t colour, int size) {
    if (image == nullptr || image->rows == nullptr || image->channels < 3 || size <= 0) return;
    if (!mz::inside(image, x0, y0) || !mz::inside(image, x1, y1) || (x0 == x1 && y0 == y1)) return;
    const mz::Pen pen{
        image,
        {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour)},
        size};

    int x = x0, y = y0;
    pen.dot(x, y);
    const int dx = x1 - x0, dy = y1 - y0;
    const int ax = 2 * std::abs(dx), ay = 2 * std::abs(dy);
    const int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    if (ay < ax) {
        for (int e = ay - ax / 2; x != x1;) {
            if (e >= 0) {
                y += sy;
                e -= ax;
            }
            x += sx;
            e += ay;
            pen.dot(x, y);
        }
    } else {
        for (int e = ax - ay / 2; y != y1;) {
            if (e >= 0) {
                x += sx;
                e -= ay;
            }
            y += sy;
            e += ax;
            pen.dot(x, y);
        }
    }
}

}  // extern "C"
