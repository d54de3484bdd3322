// Search rectangles of the corner and marker detectors in a 720 x 480 picture, one row per layout
// code. The codes follow the camera order of the records: 0 front, 1 rear, 2 left, 3 right.
#ifndef MZ_VIEW_DETECTION_RECTS_H
#define MZ_VIEW_DETECTION_RECTS_H

#include <algorithm>
#include <cstdint>

namespace mz::detect {

struct SearchRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Corner detector: rows and columns, inclusive, of the left then the right target.
inline constexpr int kCornerRects[4][2][4] = {
    {{277, 356, 32, 137}, {284, 365, 578, 687}},
    {{249, 348, 61, 155}, {242, 344, 563, 659}},
    {{63, 141, 75, 121}, {173, 288, 640, 683}},
    {{211, 322, 56, 102}, {42, 114, 586, 642}},
};

// Marker detector: x, y, width, height of the left then the right marker.
inline constexpr int kMarkerRects[4][2][4] = {
    {{32, 189, 203, 235}, {474, 191, 223, 199}},
    {{45, 224, 217, 213}, {461, 207, 214, 195}},
    {{31, 60, 158, 308}, {502, 131, 166, 295}},
    {{34, 150, 157, 281}, {553, 73, 148, 236}},
};

// False for a code outside 0..3; the rectangle is then the single pixel (0, 0).
inline bool cornerSearchRect(int code, int side, SearchRect& rect) {
    if (code < 0 || code > 3) {
        rect = {0, 0, 1, 1};
        return false;
    }
    const int* r = kCornerRects[code][side];
    rect = {r[2], r[0], r[3] - r[2] + 1, r[1] - r[0] + 1};
    return true;
}

inline bool markerSearchRect(int code, int side, SearchRect& rect) {
    if (code < 0 || code > 3) return false;
    const int* r = kMarkerRects[code][side];
    rect = {r[0], r[1], r[2], r[3]};
    return true;
}

// Clips the rectangle to a width x height picture; false when nothing of it is left.
inline bool clipToPicture(SearchRect& rect, int width, int height) {
    const int64_t x0 = std::max<int64_t>(rect.x, 0), y0 = std::max<int64_t>(rect.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{rect.x} + rect.width, width);
    const int64_t y1 = std::min<int64_t>(int64_t{rect.y} + rect.height, height);
    if (rect.width <= 0 || rect.height <= 0 || x1 <= x0 || y1 <= y0) return false;
    rect = {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
    return true;
}

}  // namespace mz::detect

#endif
