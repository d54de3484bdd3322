// Connected-component labelling of the pattern detector (labels kept in the 8-bit image).
#pragma once

#include <cstdint>
#include <vector>

#include "pattern/grey_image.h"

namespace mz::pattern {

// Box of a component as seen by the interior scan; width and height are the differences of the
// extreme columns and rows (no +1). A label seen only on the image's outer frame has an empty box.
struct ComponentBox {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct Component {
    uint8_t label = 0;
    ComponentBox box;
};

inline constexpr int kMaxLabels = 250;

// Labels the 4-connected foreground (255) components of `image` in place with 1, 2, 3, ... in scan
// order. A component whose pixels inside its half-open extents number fewer than `minArea` is
// erased (set to 0) and its label reused, so a one-row or one-column blob always goes.
// Returns the kept components in label order; more than kMaxLabels of them yield none.
std::vector<Component> labelComponents(GreyImage& image, int minArea);

}  // namespace mz::pattern
