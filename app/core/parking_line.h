// "Parking Line Assistance": the overlay picture of a single view that draws the parking guide,
// and whether the operator has confirmed the guide of the view now shown.
#pragma once

#include "app/core/preview_views.h"
#include "app/core/ui.h"

namespace mz::core {

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
