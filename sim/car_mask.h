// Predefined stitching masks: the car images of Config.bin. With the default mask type the
// configuration's car image is the stitched view's whole blend map, so it carries the zone key
// colours, the corner blend shares and the drawing of the vehicle.
#pragma once

#include <cstdint>

#include "sim/render.h"

namespace mz::sim {

// A stitched view's size, scale and vehicle placement: all the masks need to know of a view.
struct TopViewLayout {
    int width = 0;  // display orientation, pixels
    int height = 0;
    double centreX = 0;  // vehicle centre, display pixels
    double centreY = 0;
    double mmPerPixel = 0;
    bool rotated = false;   // full top view: the vehicle's front faces left on the display
    int vehicleWidth = 0;   // mm
    int vehicleLength = 0;  // mm
};

// The vehicle's rectangle in working pixels (front up), as the stitched view computes it.
struct VehicleRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
VehicleRect vehicleRect(const TopViewLayout& view);

// The mask in display orientation (24-bit, padded rows, top row first). Corner shares go from
// the end camera (1) to the side camera (254) across a 20-degree wedge around the diagonal.
Picture makeCarMask(const TopViewLayout& view);

}  // namespace mz::sim
