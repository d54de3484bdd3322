#include "app/core/view_settings.h"

#include <cmath>
#include <cstdlib>

#include "mz/mzview.h"

namespace mz::core {

namespace {

int32_t fieldValue(float v) {
    if (!std::isfinite(v) || std::fabs(v) >= 2147483520.0f) return 0;
    return static_cast<int32_t>(v);
}

int32_t parseInteger(const std::string& text) { return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)); }

}  // namespace

void ViewSettings::showStitchedRecord(const MultiviewParam& mv) {
    fields_.vehicleWidth = mv.vehicleWidth;
    fields_.vehicleLength = mv.vehicleLength;
    fields_.maskType = mv.blendMode;
    fields_.frontFov = fieldValue(mv.frontFov);
    fields_.rearFov = fieldValue(mv.rearFov);
    fields_.blendWidth = fieldValue(mv.blendWidth);
    fields_.lineWidth = mv.lineWidth;
    fields_.colour = mv.vehicleColour;
    fields_.overlayBlend = (mv.flags & MZ_MV_SHOW_BLEND) != 0;
    fields_.markerLength = state_.cameras[kFront].markerLength;
}

void ViewSettings::editField(PreviewField field, const std::string& text) {
    const int32_t v = parseInteger(text);
    switch (field) {
    case PreviewField::kMarkerLength: fields_.markerLength = v; break;
    case PreviewField::kOverallWidth: fields_.vehicleWidth = v; break;
    case PreviewField::kOverallLength: fields_.vehicleLength = v; break;
    case PreviewField::kOverallHeight: fields_.vehicleHeight = v; break;
    case PreviewField::kMaskType:
        if (v >= 0 && v <= 4) fields_.maskType = v;
        break;
    case PreviewField::kFrontFov: fields_.frontFov = v; break;
    case PreviewField::kRearFov: fields_.rearFov = v; break;
    case PreviewField::kLineWidth: fields_.lineWidth = v; break;
    case PreviewField::kBlendWidth: fields_.blendWidth = v; break;
    }
}

void ViewSettings::pressEnter(PreviewField field) {
    PreviewViews& views = parts_.views;
    PreviewContext& context = views.context();
    views.settleCameras();
    switch (field) {
    case PreviewField::kMarkerLength:
        if (context.busy) return;
        parts_.rig.init(state_.cameras[kFront].patternShape, fields_.markerLength);
        parts_.rig.solve();
        views.rebuild(kStitchedViewType);
        return;
    case PreviewField::kOverallWidth:
        for (int i = 0; i < views.stitchedCount(); ++i) state_.multiviews[i].vehicleWidth = fields_.vehicleWidth;
        views.rebuildCurrent();
        parts_.parkingLine.clearConfirmation();
        return;
    case PreviewField::kOverallLength:
        if (views.stitchedShown()) {
            for (int i = 0; i < views.stitchedCount(); ++i) state_.multiviews[i].vehicleLength = fields_.vehicleLength;
        } else if (context.singleParam) {
            context.singleParam->vehicleLength = fields_.vehicleLength;
            if (context.singleHandle) mzSingleviewInit(context.singleHandle, context.singleParam);
        }
        views.rebuildCurrent();
        parts_.parkingLine.clearConfirmation();
        return;
    case PreviewField::kOverallHeight:
        // Kept with the parking-guide parameters, which this system never has.
        views.rebuildCurrent();
        parts_.parkingLine.clearConfirmation();
        return;
    case PreviewField::kMaskType:
    case PreviewField::kFrontFov:
    case PreviewField::kRearFov:
    case PreviewField::kLineWidth:
    case PreviewField::kBlendWidth: applyViewSettings(); return;
    }
}

void ViewSettings::setColour(uint32_t colour) { fields_.colour = colour & 0xFFFFFFu; }

void ViewSettings::pickColour(uint32_t colour) {
    setColour(colour);
    applyViewSettings();
}

void ViewSettings::applyViewSettings() {
    if (MultiviewParam* mv = parts_.views.context().stitchedParam) {
        mv->blendMode = fields_.maskType;
        mv->frontFov = static_cast<float>(fields_.frontFov);
        mv->rearFov = static_cast<float>(fields_.rearFov);
        mv->lineWidth = fields_.lineWidth;
        mv->blendWidth = static_cast<float>(fields_.blendWidth);
        mv->vehicleColour = fields_.colour;
    }
    parts_.parkingLine.clearConfirmation();
    parts_.views.rebuildCurrent();
    ui_.previewStateChanged();
}

void ViewSettings::changeMaskType(int maskType) {
    if (maskType < 0 || maskType > 4) return;
    fields_.maskType = maskType;
    parts_.car.giveConfiguredImage(parts_.views.context().stitchedSlot);
    applyViewSettings();
}

void ViewSettings::setShowOverlayBlend(bool on) {
    fields_.overlayBlend = on;
    if (MultiviewParam* mv = parts_.views.context().stitchedParam) {
        if (on) mv->flags |= MZ_MV_SHOW_BLEND;
        else mv->flags &= ~MZ_MV_SHOW_BLEND;
    }
    parts_.views.rebuildCurrent();
}

void ViewSettings::setLutVersionText(bool major, const std::string& text) {
    (major ? major_ : minor_) = parseInteger(text);
}

void ViewSettings::setDataVersion(int32_t major, int32_t minor) {
    major_ = major;
    minor_ = minor;
    ui_.previewStateChanged();
}

}  // namespace mz::core
