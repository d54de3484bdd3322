#include "pattern/binarize.h"

#include <algorithm>
#include <vector>

namespace mz::pattern {

GreyImage toGrey(const uint8_t* picture, int width, int height) {
    GreyImage grey(width, height);
    const size_t count = grey.pixels.size();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = picture + 3 * i;
        const float g = 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
        grey.pixels[i] = static_cast<uint8_t>(g);
    }
    return grey;
}

namespace {

// Sum and count of the (2 radius + 1)-square around (x, y), as much of it as lies inside.
template <typename Use>
GreyImage withBoxSums(const GreyImage& grey, int radius, Use use) {
    GreyImage out(grey.width, grey.height);
    for (int y = 0; y < grey.height; ++y) {
        const int r0 = std::max(y - radius, 0), r1 = std::min(y + radius, grey.height - 1);
        for (int x = 0; x < grey.width; ++x) {
            const int c0 = std::max(x - radius, 0), c1 = std::min(x + radius, grey.width - 1);
            int sum = 0;
            for (int r = r0; r <= r1; ++r) {
                for (int c = c0; c <= c1; ++c) sum += grey.at(c, r);
            }
            out.at(x, y) = use(grey.at(x, y), sum, (r1 - r0 + 1) * (c1 - c0 + 1));
        }
    }
    return out;
}

}  // namespace

GreyImage boxSmoothed(const GreyImage& grey) {
    return withBoxSums(grey, 1,
                       [](int, int sum, int count) { return static_cast<uint8_t>((sum + count / 2) / count); });
}

GreyImage unsharpened(const GreyImage& grey) {
    return withBoxSums(grey, 2, [](int v, int sum, int count) {
        return static_cast<uint8_t>(std::clamp(v + 2 * (v - sum / count), 0, 255));
    });
}

GreyImage thresholdLocalMean(const GreyImage& crop) {
    const int w = crop.width;
    const int h = crop.height;
    GreyImage out(w, h, 0);
    const int t = w / 20;
    if (t == 0 || h == 0) {
        return out;
    }

    // Inclusive integral image with a leading zero row and column, so every window sum is four
    // look-ups without edge cases. Kept in single precision like the rest of the pipeline.
    const size_t stride = static_cast<size_t>(w) + 1;
    std::vector<float> sum(stride * (static_cast<size_t>(h) + 1), 0.0f);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = crop.row(y);
        const float* above = sum.data() + static_cast<size_t>(y) * stride;
        float* cur = sum.data() + static_cast<size_t>(y + 1) * stride;
        float rowSum = 0.0f;
        for (int x = 0; x < w; ++x) {
            rowSum += src[x];
            cur[x + 1] = above[x + 1] + rowSum;
        }
    }

    // The window is asymmetric (one more row/column after the pixel than before it), except
    // that the top t rows also take one column more on the left.
    std::vector<int> colLo(w), colLoTop(w), colHi(w);
    for (int x = 0; x < w; ++x) {
        colLo[x] = std::max(x - t + 1, 0);
        colLoTop[x] = std::max(x - t, 0);
        colHi[x] = std::min(x + t, w - 1);
    }
    for (int y = 0; y < h; ++y) {
        const int r0 = std::max(y - t + 1, 0);
        const int r1 = std::min(y + t, h - 1);
        const float* lo = sum.data() + static_cast<size_t>(r0) * stride;
        const float* hi = sum.data() + static_cast<size_t>(r1 + 1) * stride;
        const int* left = y < t ? colLoTop.data() : colLo.data();
        const float rows = static_cast<float>(r1 - r0 + 1);
        const uint8_t* src = crop.row(y);
        uint8_t* dst = out.row(y);
        for (int x = 0; x < w; ++x) {
            const int c0 = left[x];
            const int c1 = colHi[x];
            const float windowSum = hi[c1 + 1] - lo[c1 + 1] - hi[c0] + lo[c0];
            const float mean = windowSum / (rows * static_cast<float>(c1 - c0 + 1));
            dst[x] = mean - 10.0f >= static_cast<float>(src[x]) ? 255 : 0;
        }
    }
    return out;
}

namespace {

constexpr uint8_t kMarked = 1;

inline bool hasMarkedNeighbour(const GreyImage& img, int x, int y) {
    return (x > 0 && img.at(x - 1, y) == kMarked) || (x + 1 < img.width && img.at(x + 1, y) == kMarked) ||
           (y > 0 && img.at(x, y - 1) == kMarked) || (y + 1 < img.height && img.at(x, y + 1) == kMarked);
}

}  // namespace

void cleanBorder(GreyImage& binary) {
    const int w = binary.width;
    const int h = binary.height;
    if (w == 0 || h == 0) {
        return;
    }
    // Marks live in the image itself (value 1) so a mark set earlier in a sweep is seen at once.
    for (int x = 0; x < w; ++x) {
        if (binary.at(x, 0) == 255) binary.at(x, 0) = kMarked;
        if (binary.at(x, h - 1) == 255) binary.at(x, h - 1) = kMarked;
    }
    for (int y = 0; y < h; ++y) {
        if (binary.at(0, y) == 255) binary.at(0, y) = kMarked;
        if (binary.at(w - 1, y) == 255) binary.at(w - 1, y) = kMarked;
    }
    for (int round = 0; round < kBorderRounds; ++round) {
        bool changed = false;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (binary.at(x, y) == 255 && hasMarkedNeighbour(binary, x, y)) {
                    binary.at(x, y) = kMarked;
                    changed = true;
                }
            }
        }
        for (int y = h - 1; y >= 0; --y) {
            for (int x = w - 1; x >= 0; --x) {
                if (binary.at(x, y) == 255 && hasMarkedNeighbour(binary, x, y)) {
                    binary.at(x, y) = kMarked;
                    changed = true;
                }
            }
        }
        if (!changed) {
            break;
        }
    }
    for (uint8_t& p : binary.pixels) {
        if (p == kMarked) p = 0;
    }
}

}  // namespace mz::pattern
