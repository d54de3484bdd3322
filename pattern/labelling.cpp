#include "pattern/labelling.h"

#include <algorithm>

namespace mz::pattern {

namespace {

struct Extent {
    int minX, maxX, minY, maxY;
};

// Fills the component at (x0, y0) with `label`; the fill order does not matter for the result,
// only the pixel set and its extents do.
Extent fill(GreyImage& image, int x0, int y0, uint8_t label, std::vector<int64_t>& stack) {
    const int w = image.width;
    const int h = image.height;
    Extent e{x0, x0, y0, y0};
    stack.clear();
    image.at(x0, y0) = label;
    stack.push_back(static_cast<int64_t>(y0) * w + x0);
    while (!stack.empty()) {
        const int64_t idx = stack.back();
        stack.pop_back();
        const int x = static_cast<int>(idx % w);
        const int y = static_cast<int>(idx / w);
        e.minX = std::min(e.minX, x);
        e.maxX = std::max(e.maxX, x);
        e.minY = std::min(e.minY, y);
        e.maxY = std::max(e.maxY, y);
        uint8_t* p = image.pixels.data();
        if (x > 0 && p[idx - 1] == 255) {
            p[idx - 1] = label;
            stack.push_back(idx - 1);
        }
        if (x + 1 < w && p[idx + 1] == 255) {
            p[idx + 1] = label;
            stack.push_back(idx + 1);
        }
        if (y > 0 && p[idx - w] == 255) {
            p[idx - w] = label;
            stack.push_back(idx - w);
        }
        if (y + 1 < h && p[idx + w] == 255) {
            p[idx + w] = label;
            stack.push_back(idx + w);
        }
    }
    return e;
}

}  // namespace

std::vector<Component> labelComponents(GreyImage& image, int minArea) {
    const int w = image.width;
    const int h = image.height;
    std::vector<int64_t> stack;
    int kept = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (image.at(x, y) != 255) {
                continue;
            }
            // kept <= kMaxLabels here, so the label never collides with the foreground value.
            const auto label = static_cast<uint8_t>(kept + 1);
            const Extent e = fill(image, x, y, label, stack);
            // The area deliberately leaves out the last row and column of the extent.
            int area = 0;
            for (int r = e.minY; r < e.maxY; ++r) {
                const uint8_t* row = image.row(r);
                for (int c = e.minX; c < e.maxX; ++c) {
                    area += row[c] == label;
                }
            }
            if (area < minArea) {
                for (int r = e.minY; r <= e.maxY; ++r) {
                    uint8_t* row = image.row(r);
                    for (int c = e.minX; c <= e.maxX; ++c) {
                        if (row[c] == label) row[c] = 0;
                    }
                }
                continue;
            }
            if (++kept > kMaxLabels) {
                return {};
            }
        }
    }

    std::vector<Extent> seen(static_cast<size_t>(kept) + 1, Extent{w, -1, h, -1});
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t* row = image.row(y);
        for (int x = 1; x < w - 1; ++x) {
            const uint8_t v = row[x];
            if (v == 0 || v > kept) {
                continue;
            }
            Extent& e = seen[v];
            e.minX = std::min(e.minX, x);
            e.maxX = std::max(e.maxX, x);
            e.minY = std::min(e.minY, y);
            e.maxY = std::max(e.maxY, y);
        }
    }
    std::vector<Component> components(static_cast<size_t>(kept));
    for (int label = 1; label <= kept; ++label) {
        Component& c = components[static_cast<size_t>(label) - 1];
        c.label = static_cast<uint8_t>(label);
        const Extent& e = seen[static_cast<size_t>(label)];
        if (e.maxX >= 0) {
            c.box = ComponentBox{e.minX, e.minY, e.maxX - e.minX, e.maxY - e.minY};
        }
    }
    return components;
}

}  // namespace mz::pattern
