// One-byte-per-pixel working image of the pattern detector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mz::pattern {

// 255 is foreground (dark in the binarised picture), 0 background. Allocation failures surface
// as std::bad_alloc; the entry point turns them into its -1 result.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    GreyImage() = default;
    GreyImage(int w, int h, uint8_t fill = 0)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

    uint8_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * width; }

    // The w x h block whose top-left pixel is (x, y); the block must lie inside the image.
    GreyImage crop(int x, int y, int w, int h) const;
    // Writes `src` with its top-left pixel at (x, y); `src` must fit.
    void paste(const GreyImage& src, int x, int y);
};

}  // namespace mz::pattern
