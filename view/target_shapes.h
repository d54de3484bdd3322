// Raster steps shared by the corner and the marker detector: grey conversion, removal of dark
// regions that touch the edge, labelling by repeated sweeps, outlines and the three corners of a
// triangular outline. Dark is 0, light 255 in every two-level image here.
#ifndef MZ_VIEW_TARGET_SHAPES_H
#define MZ_VIEW_TARGET_SHAPES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mz/mztypes.h"

namespace mz::detect {

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;

    Plane() = default;
    Plane(int w, int h, uint8_t fill = 0)
        : width(w), height(h), px(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
    uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
    uint8_t at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
    bool onEdge(int x, int y) const { return x == 0 || y == 0 || x == width - 1 || y == height - 1; }
};

// The detectors' studio-range luma (16..235) of width x height blue-green-red pixels without
// row padding.
Plane toGrey(const uint8_t* picture, int width, int height);

// Dark regions that touch the edge become light. The mark spreads in at most 20 rounds of a
// forward and a backward sweep, so a region winding further is only partly removed.
void dropEdgeRegions(Plane& binary);

// Numbers the dark pixels off the edge 1, 2, ... in scan order, then lets every pixel take the
// smallest number among itself and its four neighbours in forward and backward sweeps (at most 19
// rounds). Returns the numbers (0 for light and edge pixels); *maxLabel is the largest issued.
std::vector<int32_t> labelDark(const Plane& binary, int32_t* maxLabel);

struct PixelPoint {
    int32_t x;
    int32_t y;
};

// Dark pixels off the edge with at least one differing 8-neighbour, in scan order.
std::vector<PixelPoint> outline(const Plane& binary);

// The three corners of a triangular outline: extreme points, then straight lines fitted to the
// points near each side and intersected, in the order AB x BC, BC x CA, CA x AB. False when the
// outline has no three distinct sides or two fitted sides do not meet.
bool triangleCorners(const std::vector<PixelPoint>& points, std::array<Point2F, 3>& corners);

// Direction of a point A seen from a point B, degrees 0..360, counter-clockwise on screen from
// the +x direction (rows grow downwards).
float directionValue(float ax, float ay, float bx, float by);

// Positive, finite picture size whose three-byte pixels the detectors can address.
bool pictureSizeUsable(int width, int height);

}  // namespace mz::detect

#endif
