// The preview's adjustment buttons: each press moves, zooms or turns the view shown by one step,
// the stitched view through the rig's adjustment (and a new solve), a single view through its
// own record.
#pragma once

#include <vector>

#include "app/core/preview_views.h"
#include "app/core/rig_calibration.h"

namespace mz::core {

enum class Adjustment { kUp, kDown, kLeft, kRight, kZoomIn, kZoomOut, kRotatePlus, kRotateMinus };

class ViewAdjuster {
public:
    ViewAdjuster(PreviewViews& views, RigCalibration& rig) : views_(views), rig_(rig) {}

    void adjust(Adjustment adjustment);
    // Takes back the last step (of whichever view it moved); false when there is none.
    bool undo();
    bool canUndo() const { return !history_.empty(); }
    // The rig back to the pose "Apply AVM" solved: the operator's shift, turn and height gone.
    void resetToCalibrated();
    // A configuration load: the steps refer to records that are gone.
    void forget() { history_.clear(); }

private:
    // What one step changed, to put back.
    struct Step {
        bool stitched = true;
        CalibAdjust rig{};
        SingleviewParam* single = nullptr;
        float offsetX = 0, offsetY = 0, scaleX = 0, scaleY = 0, rotation = 0;
    };
    static constexpr size_t kHistoryLength = 100;

    void shift(float dx, float dy);
    void remember(bool stitched, SingleviewParam* single);
    void settle(bool stitched);

    PreviewViews& views_;
    RigCalibration& rig_;
    std::vector<Step> history_;
};

}  // namespace mz::core
