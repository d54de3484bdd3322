#include "pattern/grey_image.h"

#include <algorithm>

namespace mz::pattern {

GreyImage GreyImage::crop(int x, int y, int w, int h) const {
    GreyImage out(w, h);
    for (int r = 0; r < h; ++r) {
        const uint8_t* src = row(y + r) + x;
        std::copy(src, src + w, out.row(r));
    }
    return out;
}

void GreyImage::paste(const GreyImage& src, int x, int y) {
    for (int r = 0; r < src.height; ++r) {
        const uint8_t* from = src.row(r);
        std::copy(from, from + src.width, row(y + r) + x);
    }
}

}  // namespace mz::pattern
