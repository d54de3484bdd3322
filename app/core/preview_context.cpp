#include "app/core/preview_context.h"

#include "mz/mzview.h"

namespace mz::core {

Preview::Preview(Ui& ui, CalibrationState& state)
    : ui_(ui), state_(state), controls_([this] { return controlInputs(); }), rig_(state), views_(ui, state),
      parkingLine_(ui, views_), car_(ui, state, views_), adjuster_(views_, rig_),
      settings_(ui, state, {views_, rig_, car_, parkingLine_}) {}

ControlInputs Preview::controlInputs() const {
    ControlInputs in;
    const PreviewContext& context = views_.context();
    in.engine = views_.hasEngine();
    in.stitched = views_.stitchedShown();
    in.bowl = views_.bowlShown();
    in.guides = views_.guides();
    in.overlayView = context.singleParam && (context.singleParam->flags & MZ_SV_OVERLAY);
    in.maskType = settings_.fields().maskType;
    in.carPending = car_.placed().has_value();
    in.canUndo = adjuster_.canUndo();
    const CalibAdjust& a = rig_.adjust();
    in.rigAdjusted = a.shiftX != 0 || a.shiftY != 0 || a.rotation != 0 || a.sideHeightOffset != 0;
    return in;
}

void Preview::forgetViews() {
    views_.forget();
    adjuster_.forget();
    car_.forget();
    ui_.previewStateChanged();
}

void Preview::setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header) {
    views_.setHeader(header);
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

void Preview::setSeamCheck(bool on) {
    views_.setSeamCheck(on);
    views_.rebuildCurrent();
    ui_.previewStateChanged();
}

bool Preview::showBowlPreset(const std::string& name) {
    if (!views_.bowlShown() || !views_.bowl().choosePreset(name)) return false;
    views_.bowl().setDraft(false);
    return views_.rebuildCurrent();
}

void Preview::orbitBowl(double dx, double dy, bool dragging) {
    if (!views_.bowlShown()) return;
    views_.bowl().orbit(dx, dy);
    views_.bowl().setDraft(dragging);
    views_.rebuildCurrent();
}

void Preview::selectView(int entry) {
    if (entry == views_.currentEntry() || entry < 0 || entry >= static_cast<int>(views_.viewList().size())) return;
    if (entry == views_.bowlEntry()) {
        views_.setCurrent(entry, kBowlViewType);
        views_.rebuildCurrent();
    } else if (entry < views_.stitchedCount()) {
        views_.setCurrent(entry, kStitchedViewType);
        initStitched(entry);
        car_.giveConfiguredImage(entry);
        settings_.applyViewSettings();
    } else {
        const int slot = entry - views_.stitchedCount();
        views_.setCurrent(entry, singleviewIndex(state_.singleviewRaw[slot]));
        views_.initSingle(slot);
        views_.rebuildCurrent();
    }
    ui_.previewStateChanged();
}

}  // namespace mz::core
