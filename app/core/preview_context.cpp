#include "app/core/preview_context.h"

#include "mz/mzview.h"

namespace mz::core {

Preview::Preview(Ui& ui, CalibrationState& state)
    : ui_(ui), state_(state), rig_(state), views_(ui, state), parkingLine_(ui, views_),
      car_(ui, state, views_, controls_), adjuster_(views_, rig_),
      settings_(ui, state, {views_, rig_, car_, parkingLine_, controls_}) {
    controls_.set(PreviewControl::kApply, false);
    controls_.set(PreviewControl::kParkingLineAssistance, false);
    controls_.set(PreviewControl::kOverallHeight, false);
}

void Preview::forgetViews() {
    views_.forget();
    car_.forget();
    ui_.previewStateChanged();
}

void Preview::setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header) {
    views_.setHeader(header);
    controls_.set(PreviewControl::kParkingLineAssistance, views_.guides());
    controls_.set(PreviewControl::kOverallHeight, views_.guides());
    ui_.previewStateChanged();
}

bool Preview::initStitchedView(int slot) {
    if (slot < 0 || slot >= kMultiviewSlots) return false;
    views_.refillViewList();
    views_.setCurrent(0, kStitchedViewType);
    const bool ok = initStitched(slot);
    ui_.previewStateChanged();
    return ok;
}

bool Preview::initStitched(int slot) {
    views_.settleCameras();
    settings_.showStitchedRecord(state_.multiviews[slot]);
    if (!views_.initStitched(slot) || !rig_.ready()) return false;
    const CameraParam& front = state_.cameras[kFront];
    rig_.init(front.patternShape, front.markerLength);
    return true;
}

bool Preview::initSingleViews() {
    views_.initSingleViews();
    ui_.previewStateChanged();
    return true;
}

bool Preview::calibrate(bool showMessages) {
    views_.settleCameras();
    const int32_t result = rig_.calibrate(views_.pictures());
    if (result >= 0) return true;
    if (showMessages) ui_.showMessage(calibrationFailureMessage(result), "calibration error", MessageIcon::kError);
    return false;
}

void Preview::selectView(int entry) {
    if (entry == views_.currentEntry() || entry < 0 || entry >= static_cast<int>(views_.viewList().size())) return;
    if (entry < views_.stitchedCount()) {
        views_.setCurrent(entry, kStitchedViewType);
        initStitched(entry);
        car_.giveConfiguredImage(entry);
        settings_.applyViewSettings();
        controls_.set(PreviewControl::kParkingLineAssistance, views_.guides());
        for (PreviewControl c :
             {PreviewControl::kMaskType, PreviewControl::kShowOverlayBlend, PreviewControl::kMarkerLength}) {
            controls_.set(c, true);
        }
        settings_.enableByMaskType();
    } else {
        const int slot = entry - views_.stitchedCount();
        views_.setCurrent(entry, singleviewIndex(state_.singleviewRaw[slot]));
        views_.initSingle(slot);
        views_.rebuildCurrent();
        const SingleviewParam* sv = views_.context().singleParam;
        const bool overlay = sv && (sv->flags & MZ_SV_OVERLAY);
        controls_.set(PreviewControl::kParkingLineAssistance, overlay);
        controls_.set(PreviewControl::kOverallLength, overlay);
        for (PreviewControl c : {PreviewControl::kOverallWidth, PreviewControl::kFrontFov, PreviewControl::kRearFov,
                                 PreviewControl::kLineWidth, PreviewControl::kBlendWidth, PreviewControl::kColour,
                                 PreviewControl::kLoadCarImage, PreviewControl::kMaskType,
                                 PreviewControl::kShowOverlayBlend, PreviewControl::kMarkerLength}) {
            controls_.set(c, false);
        }
    }
    ui_.previewStateChanged();
}

}  // namespace mz::core
