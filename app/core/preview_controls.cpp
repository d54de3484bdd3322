#include "app/core/preview_controls.h"

namespace mz::core {

bool controlEnabled(PreviewControl control, const ControlInputs& in) {
    if (!in.engine) return false;
    using C = PreviewControl;
    // Steps of either kind of view can be taken back from any view.
    if (control == C::kUndo) return in.canUndo;
    if (control == C::kResetPose) return in.rigAdjusted;
    if (in.bowl) return control == C::kBowlPreset;
    if (!in.stitched) {
        // A single view takes its own length and, with an overlay, the parking line; the rest
        // belongs to the stitched views.
        switch (control) {
        case C::kParkingLineAssistance:
        case C::kOverallLength: return in.overlayView;
        case C::kOverallHeight: return in.guides;
        case C::kAdjustment: return true;
        default: return false;
        }
    }
    const int m = in.maskType;
    const bool free = m != 4;  // "Predefined" keeps the configured vehicle and lines
    switch (control) {
    case C::kParkingLineAssistance:
    case C::kOverallHeight: return in.guides;
    case C::kOverallWidth:
    case C::kOverallLength:
    case C::kColour:
    case C::kLoadCarImage: return free;
    case C::kApply: return free && in.carPending;
    case C::kFrontFov:
    case C::kRearFov: return m >= 1 && m <= 3;
    case C::kLineWidth: return m == 2 || m == 3;
    case C::kBlendWidth: return false;
    case C::kMaskType:
    case C::kShowOverlayBlend:
    case C::kMarkerLength:
    case C::kSeamCheck:
    case C::kAdjustment: return true;
    case C::kUndo:
    case C::kResetPose:
    case C::kBowlPreset:
    case C::kCount: return false;
    }
    return false;
}

}  // namespace mz::core
