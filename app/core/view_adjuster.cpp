#include "app/core/view_adjuster.h"

#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr float kShiftStep = 20.0f;
constexpr float kHeightStep = 5.0f;
constexpr float kRotationStep = 1.0f;
constexpr float kScaleStep = 5.0f / 50.0f;

}  // namespace

void ViewAdjuster::shift(float dx, float dy) {
    if (views_.stitchedShown()) {
        rig_.adjust().shiftX += dx;
        rig_.adjust().shiftY += dy;
    } else if (SingleviewParam* sv = views_.context().singleParam) {
        sv->offsetX += dx;
        sv->offsetY -= dy;
    }
}

void ViewAdjuster::adjust(Adjustment adjustment) {
    views_.settleCameras();
    const PreviewContext& context = views_.context();
    // The bowl view has no record of its own to adjust; the single view behind it must not move.
    if (context.busy || !context.initialised || !context.imagesPresent || views_.bowlShown()) return;
    const bool stitched = views_.stitchedShown();
    SingleviewParam* sv = context.singleParam;
    if (!stitched && !sv) return;
    CalibAdjust& rig = rig_.adjust();
    remember(stitched, sv);
    // A full top view lies across the display: the arrows turn with it.
    const bool turned = context.stitchedParam && (context.stitchedParam->flags & MZ_MV_ROTATED);
    auto arrow = [&](float a, float b) {
        if (turned) shift(b, -a);
        else shift(a, b);
    };
    switch (adjustment) {
    case Adjustment::kUp: arrow(0, kShiftStep); break;
    case Adjustment::kDown: arrow(0, -kShiftStep); break;
    case Adjustment::kLeft: arrow(-kShiftStep, 0); break;
    case Adjustment::kRight: arrow(kShiftStep, 0); break;
    case Adjustment::kZoomIn:
    case Adjustment::kZoomOut: {
        const float sign = adjustment == Adjustment::kZoomIn ? 1.0f : -1.0f;
        if (stitched) {
            rig.sideHeightOffset += sign * kHeightStep;
        } else {
            sv->scaleX += sign * kScaleStep;
            sv->scaleY += sign * kScaleStep;
        }
        break;
    }
    case Adjustment::kRotatePlus:
    case Adjustment::kRotateMinus: {
        const float step = adjustment == Adjustment::kRotatePlus ? -kRotationStep : kRotationStep;
        if (stitched) rig.rotation += step;
        else sv->rotation -= step;
        break;
    }
    }
    settle(stitched);
}

void ViewAdjuster::remember(bool stitched, SingleviewParam* sv) {
    Step step;
    step.stitched = stitched;
    step.rig = rig_.adjust();
    if (!stitched && sv) {
        step.single = sv;
        step.offsetX = sv->offsetX;
        step.offsetY = sv->offsetY;
        step.scaleX = sv->scaleX;
        step.scaleY = sv->scaleY;
        step.rotation = sv->rotation;
    }
    if (history_.size() == kHistoryLength) history_.erase(history_.begin());
    history_.push_back(step);
}

void ViewAdjuster::settle(bool stitched) {
    if (stitched) rig_.solve();
    views_.rebuildCurrent();
}

bool ViewAdjuster::undo() {
    views_.settleCameras();
    const PreviewContext& context = views_.context();
    if (history_.empty() || context.busy || !context.initialised || !context.imagesPresent) return false;
    const Step step = history_.back();
    history_.pop_back();
    if (step.stitched) {
        rig_.adjust() = step.rig;
        rig_.solve();
    } else if (step.single) {
        step.single->offsetX = step.offsetX;
        step.single->offsetY = step.offsetY;
        step.single->scaleX = step.scaleX;
        step.single->scaleY = step.scaleY;
        step.single->rotation = step.rotation;
    }
    views_.rebuildCurrent();
    return true;
}

void ViewAdjuster::resetToCalibrated() {
    views_.settleCameras();
    const PreviewContext& context = views_.context();
    if (context.busy || !context.initialised || !context.imagesPresent) return;
    remember(true, nullptr);
    rig_.adjust() = CalibAdjust{};
    settle(true);
}

}  // namespace mz::core
