// "Parking Line Assistance": the overlay picture of a single view that draws the parking guide,
// and whether the operator has confirmed the guide of the view now shown.
#pragma once

#include "app/core/preview_views.h"
#include "app/core/ui.h"

namespace mz::core {

inline constexpr const char* kParkingLineOnStitched =
    "Parking Line Assistance draws the guide lines into a single camera view that carries an overlay "
    "(such as VIEW_REAR); a stitched view has none. Select such a view in \"Select a View\" first.";

class ParkingLine {
public:
    ParkingLine(Ui& ui, PreviewViews& views) : ui_(ui), views_(views) {}

    // Asks for the overlay picture of the current single view and rebuilds it with the picture.
    void assist();
    bool confirmed() const { return confirmed_; }
    // Anything that moves the guide on screen takes the confirmation back.
    void clearConfirmation() { confirmed_ = false; }

private:
    Ui& ui_;
    PreviewViews& views_;
    bool confirmed_ = false;
};

}  // namespace mz::core
