// Which of the preview's controls the operator may use; the parts of the preview switch them.
#pragma once

#include <array>

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
    kCount
};

class PreviewControls {
public:
    PreviewControls() { enabled_.fill(true); }
    bool enabled(PreviewControl control) const { return enabled_[static_cast<int>(control)]; }
    void set(PreviewControl control, bool on) { enabled_[static_cast<int>(control)] = on; }

private:
    std::array<bool, static_cast<int>(PreviewControl::kCount)> enabled_{};
};

}  // namespace mz::core
