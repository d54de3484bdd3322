// The vehicle's rectangle in the top view, shared by the stitched view and its parameter file.
#ifndef MZ_VIEW_VEHICLE_RECT_H
#define MZ_VIEW_VEHICLE_RECT_H

#include "mz/mztypes.h"

namespace mz {

// Vehicle size in top-view pixels, each raised to a multiple of 4 (the display unit's blocks).
struct CarSize {
    int width = 0;   // across the vehicle
    int length = 0;  // along it
};
CarSize carSize(const MultiviewParam& view);

// Rounds half away from zero; values that are not numbers or leave the int range give 0.
int roundOrZero(float v);

// Raises v to the next multiple of 4 (the remainder taken with the sign of v).
int raiseToMultipleOf4(int v);

// The rectangle in working pixels (front up) for a working size and vehicle centre, clipped.
struct VehicleRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
VehicleRect vehicleRect(const MultiviewParam& view, int workWidth, int workHeight, float ox, float oy);

}  // namespace mz

#endif
