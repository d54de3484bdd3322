// The preview's adjustment buttons: each press moves, zooms or turns the view shown by one step,
// the stitched view through the rig's adjustment (and a new solve), a single view through its
// own record.
#pragma once

#include "app/core/preview_views.h"
#include "app/core/rig_calibration.h"

namespace mz::core {

enum class Adjustment { kUp, kDown, kLeft, kRight, kZoomIn, kZoomOut, kRotatePlus, kRotateMinus };

class ViewAdjuster {
public:
    ViewAdjuster(PreviewViews& views, RigCalibration& rig) : views_(views), rig_(rig) {}

    void adjust(Adjustment adjustment);

private:
    void shift(float dx, float dy);

    PreviewViews& views_;
    RigCalibration& rig_;
};

}  // namespace mz::core
