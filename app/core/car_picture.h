// The car drawn in the middle of the stitched view: the configuration's car image, or a picture
// the operator loads, places on the canvas and applies.
#pragma once

#include <optional>

#include "app/core/calibration_state.h"
#include "app/core/preview_views.h"
#include "app/core/ui.h"
#include "format/bitmap.h"

namespace mz::core {

// A car picture placed on the canvas, waiting for "Apply".
struct PlacedCarPicture {
    format::Bitmap picture;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class CarPicture {
public:
    CarPicture(Ui& ui, const CalibrationState& state, PreviewViews& views) : ui_(ui), state_(state), views_(views) {}

    // Hands the stitched view of `slot` its car image as the whole stitching map.
    void giveConfiguredImage(int slot);
    void load();
    void place(int left, int top, int width, int height);
    // The operator took the picture off the canvas: "Apply" then has nothing to put in.
    void remove();
    void apply();
    // A configuration load leaves nothing on the canvas.
    void forget() { placed_.reset(); }
    const std::optional<PlacedCarPicture>& placed() const { return placed_; }

private:
    Ui& ui_;
    const CalibrationState& state_;
    PreviewViews& views_;
    std::optional<PlacedCarPicture> placed_;
};

}  // namespace mz::core
