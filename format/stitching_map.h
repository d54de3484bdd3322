// Predefined stitching maps: the car images of Config.bin. With the default mask type a stitched
// view's car image is its whole blend map, so it carries the zone key colours (which camera shows
// each pixel), the corner blend shares and the drawing of the vehicle. The simulator draws its
// bays' maps here and `config build` draws the maps a configuration asks for with "auto".
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "format/bitmap.h"
#include "format/config_model.h"

namespace mz::format {

// A stitched view's size, scale and vehicle placement: all a map needs to know of its view.
struct StitchingLayout {
    int width = 0;  // display orientation, pixels
    int height = 0;
    double centreX = 0;  // vehicle centre, display pixels
    double centreY = 0;
    double mmPerPixel = 0;
    bool rotated = false;   // full top view: the vehicle's front faces left on the display
    int vehicleWidth = 0;   // mm
    int vehicleLength = 0;  // mm
};

// The layout a stitched view record describes (flag 0x8000 turns it).
StitchingLayout stitchingLayout(const ConfigMultiview& view);

// How the corners are shared and how the vehicle looks. A corner pixel's share of the side
// camera follows its angle off the driving axis, seen from the vehicle's corner: 0 below
// seamAngle - blendWidth / 2 (stored as 1, the end camera), whole above seamAngle + blendWidth / 2
// (stored as 254), linear between. The colour is the body's; the roof is drawn a little lighter.
struct StitchingStyle {
    double seamAngle = 45;                              // degrees off the driving axis
    double blendWidth = 20;                             // degrees; 0 is a hard seam
    std::array<uint8_t, 3> vehicleColour{30, 60, 136};  // red, green, blue; each 1..254
};

// Why a style cannot be drawn (a sentence naming the field), or empty.
std::string stitchingStyleProblem(const StitchingStyle& style);

// The vehicle's rectangle in working pixels (front up), as the stitched view computes it.
struct VehicleRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
VehicleRect vehicleRect(const StitchingLayout& view);

// The map in display orientation: 24 bits a pixel, padded rows, top row first. The style must
// have no problem (std::invalid_argument otherwise).
Bitmap drawStitchingMap(const StitchingLayout& view, const StitchingStyle& style = {});

}  // namespace mz::format
