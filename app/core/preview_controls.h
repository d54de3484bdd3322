// Which of the preview's controls the operator may use. Every control's state follows from what
// the preview shows, decided here and nowhere else, so no sequence of commands can leave a control
// in the state of an earlier view or configuration.
#pragma once

#include <functional>

namespace mz::core {

enum class PreviewControl {
    kParkingLineAssistance,
    kOverallWidth,
    kOverallLength,
    kOverallHeight,
    kColour,
    kLoadCarImage,
    kApply,
    kFrontFov,
    kRearFov,
    kLineWidth,
    kBlendWidth,
    kMaskType,
    kShowOverlayBlend,
    kMarkerLength,
    kUndo,        // takes back the last adjustment step
    kResetPose,   // the rig back to its calibrated pose
    kSeamCheck,   // the two cameras of each overlap in turns
    kAdjustment,  // the arrow, zoom and rotate buttons
    kBowlPreset,  // the bowl view's eye at a named place
    kCount
};

// What the controls depend on.
struct ControlInputs {
    bool engine = false;       // a configuration gave the preview a stitched view
    bool stitched = true;      // a stitched view is shown, else a single view
    bool bowl = false;         // the bowl view is shown: a look, with nothing to set
    bool guides = false;       // the configuration has parking guides
    bool overlayView = false;  // the single view shown writes an overlay mask
    int maskType = 4;          // the mask type field
    bool carPending = false;   // a car picture is placed on the canvas, waiting for "Apply"
    bool canUndo = false;      // an adjustment step can be taken back
    bool rigAdjusted = false;  // the operator's adjustment moved the rig off its calibrated pose
};

bool controlEnabled(PreviewControl control, const ControlInputs& in);

class PreviewControls {
public:
    explicit PreviewControls(std::function<ControlInputs()> inputs) : inputs_(std::move(inputs)) {}
    bool enabled(PreviewControl control) const { return controlEnabled(control, inputs_()); }

private:
    std::function<ControlInputs()> inputs_;
};

}  // namespace mz::core
