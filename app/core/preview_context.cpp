#include "app/core/preview_context.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mz/mzcalib.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr float kShiftStep = 20.0f;
constexpr float kHeightStep = 5.0f;
constexpr float kRotationStep = 1.0f;
constexpr float kScaleStep = 5.0f / 50.0f;

// The context keeps its pictures in the order the stitched view takes them.
constexpr int kContextCamera[4] = {kFront, kLeft, kRight, kRear};

int32_t fieldValue(float v) {
    if (!std::isfinite(v) || std::fabs(v) >= 2147483520.0f) return 0;
    return static_cast<int32_t>(v);
}

int32_t parseInteger(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

bool fitsPreview(int32_t width, int32_t height) {
    return width > 0 && height > 0 &&
           format::paddedImageSize(width, height) <= static_cast<int64_t>(kPreviewBufferSize);
}

std::string viewName(const MultiviewParam& mv) {
    return std::string(mv.name, strnlen(mv.name, sizeof mv.name));
}

}  // namespace

std::string calibrationFailureMessage(int32_t result) {
    const char* camera = result == -1 ? "FRONT"
                         : result == -2 ? "REAR"
                         : result == -3 ? "LEFT"
                         : result == -4 ? "RIGHT"
                                        : "ALL";
    return std::string("Appropriate answer is not found (") + camera +
           " camera). Confirm the config file and pointing.";
}

Preview::Preview(Ui& ui, CalibrationState& state) : ui_(ui), state_(state) {
    context_.stitchedOutput.assign(kPreviewBufferSize, 0);
    context_.singleOutput.assign(kPreviewBufferSize, 0);
    context_.calibration = mzMultiCalibCreate(0);
    initCalibration(0, 1000);
    enabled_.fill(true);
    setEnabled(PreviewControl::kApply, false);
    setEnabled(PreviewControl::kParkingLineAssistance, false);
    setEnabled(PreviewControl::kOverallHeight, false);
}

Preview::~Preview() {
    mzMultiCalibRelease(&context_.calibration);
    std::lock_guard lock(context_.lock);
    context_.exit = true;
}

void Preview::forgetViews() {
    context_.stitchedHandle = nullptr;
    context_.stitchedParam = nullptr;
    context_.stitchedSlot = -1;
    context_.singleHandle = nullptr;
    context_.singleParam = nullptr;
    context_.singleSlot = -1;
    context_.initialised = false;
    viewList_.clear();
    singleEntries_ = 0;
    currentEntry_ = -1;
    viewType_ = kStitchedViewType;
    carPicture_.reset();
    ui_.previewStateChanged();
}

int Preview::stitchedCount() const { return std::min<int>(header_[21], kMultiviewSlots); }

void Preview::setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header) {
    header_ = header;
    const bool guides = header[23] >= 2;
    setEnabled(PreviewControl::kParkingLineAssistance, guides);
    setEnabled(PreviewControl::kOverallHeight, guides);
    ui_.previewStateChanged();
}

void Preview::refillViewList() {
    viewList_.clear();
    for (int i = 0; i < stitchedCount(); ++i) viewList_.push_back(viewName(state_.multiviews[i]));
    for (int i = 0; i < singleEntries_; ++i) {
        const int32_t index = singleviewIndex(state_.singleviewRaw[i]);
        viewList_.push_back(index >= 0 && index < kSingleviewSlots ? kSingleviewNames[index] : "?");
    }
}

void Preview::showStitchedRecord(const MultiviewParam& mv) {
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

bool Preview::initStitchedView(int slot) {
    if (slot < 0 || slot >= kMultiviewSlots) return false;
    refillViewList();
    currentEntry_ = 0;
    viewType_ = kStitchedViewType;
    const bool ok = initStitched(slot);
    ui_.previewStateChanged();
    return ok;
}

bool Preview::initStitched(int slot) {
    settleCameras();
    MultiviewParam& mv = state_.multiviews[slot];
    showStitchedRecord(mv);
    // The output buffers hold 1280 x 800 pixels; a bigger view would be written past them.
    if (!fitsPreview(mv.width, mv.height)) return false;
    ViewHandle handle = state_.multiviewHandles[slot];
    if (handle && !context_.busy) {
        context_.stitchedHandle = handle;
        context_.stitchedParam = &mv;
        context_.stitchedSlot = slot;
        mzMultiviewInit(handle, &mv);
        context_.stitchedWidth = mv.width;
        context_.stitchedHeight = mv.height;
        context_.initialised = true;
    }
    if (context_.stitchedParam && context_.calibration) {
        const CameraParam& front = state_.cameras[kFront];
        initCalibration(front.patternShape, front.markerLength);
        return true;
    }
    return false;
}

bool Preview::initSingleViews() {
    singleEntries_ = state_.singleviewCount();
    refillViewList();
    if (singleEntries_ > 0) initSingle(0);
    currentEntry_ = 0;
    ui_.previewStateChanged();
    return true;
}

bool Preview::initSingle(int slot) {
    settleCameras();
    SingleviewParam& sv = state_.singleviews[slot];
    context_.singleHandle = nullptr;
    context_.singleParam = nullptr;
    context_.singleSlot = -1;
    if (!fitsPreview(sv.width, sv.height) || sv.camera == nullptr) return false;
    context_.singleHandle = state_.singleviewHandles[slot];
    context_.singleParam = &sv;
    context_.singleSlot = slot;
    if (context_.singleHandle) mzSingleviewInit(context_.singleHandle, &sv);
    context_.singleWidth = sv.width;
    context_.singleHeight = sv.height;
    return true;
}

void Preview::setImages(std::span<const uint8_t> front, std::span<const uint8_t> left,
                        std::span<const uint8_t> right, std::span<const uint8_t> rear) {
    // Room for the largest camera record: an engine reads a picture by its camera's size.
    int64_t room = 0;
    for (const CameraParam& cam : state_.cameras) {
        if (cam.width > 0 && cam.height > 0) room = std::max(room, format::paddedImageSize(cam.width, cam.height));
    }
    const std::span<const uint8_t> sources[4] = {front, left, right, rear};
    for (int i = 0; i < 4; ++i) {
        const size_t size = std::max(static_cast<size_t>(room), sources[i].size());
        context_.cameraImages[i].assign(size, 0);
        std::copy(sources[i].begin(), sources[i].end(), context_.cameraImages[i].begin());
    }
    context_.imagesPresent = true;
}

void Preview::initCalibration(int32_t shape, int32_t size) {
    mzMultiCalibInit(context_.calibration, shape, size, 0);
    calibrationShape_ = shape;
    calibrationSize_ = size;
}

int32_t Preview::solveRig() {
    const int32_t result = mzMultiCalibApply(context_.calibration, state_.cameras.data(), &context_.adjust);
    refine::RefinementReport& report = refinementReport_;
    report.ran = true;
    const auto start = std::chrono::steady_clock::now();
    if (refinement_ && result >= 0) {
        report.rig = refine::refineRig(state_.cameras.data(), calibrationShape_,
                                       static_cast<float>(calibrationSize_), &context_.adjust);
    } else {
        report.rig = {};
        report.rig.before = report.rig.after =
            refine::measureRig(state_.cameras.data(), calibrationShape_, static_cast<float>(calibrationSize_));
        if (refinement_) report.rig.note = "the calibration failed";
    }
    report.rigMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    refine::judge(report);
    return result;
}

bool Preview::calibrate(bool showMessages) {
    settleCameras();
    refinementReport_ = {};
    refinementReport_.enabled = refinement_;
    if (refinement_) {
        const auto start = std::chrono::steady_clock::now();
        std::array<std::span<const uint8_t>, 4> pictures;
        if (context_.imagesPresent) {
            for (int i = 0; i < 4; ++i) pictures[kContextCamera[i]] = context_.cameraImages[i];
        }
        refine::refineCorners(state_.cameras.data(), pictures, refinementReport_);
        refinementReport_.cornerMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    const int32_t result = solveRig();
    lastCalibration_ = result;
    if (result >= 0) return true;
    if (showMessages) ui_.showMessage(calibrationFailureMessage(result), "calibration error", MessageIcon::kError);
    return false;
}

bool Preview::rebuild(int viewType) {
    settleCameras();
    if (!context_.stitchedParam || !context_.imagesPresent) return false;
    {
        std::lock_guard lock(context_.lock);
        if (context_.exit) return false;
    }
    // A rebuild asked for while one runs (from a view-updated handler) would end the first one's
    // busy state early; it is refused instead.
    if (context_.busy) return false;
    const auto& img = context_.cameraImages;
    if (viewType == kStitchedViewType) {
        context_.busy = true;
        if (context_.stitchedHandle) {
            mzMultiviewInit(context_.stitchedHandle, context_.stitchedParam);
            mzMultiviewApply(context_.stitchedHandle, img[0].data(), img[1].data(), img[2].data(),
                             img[3].data(), context_.stitchedOutput.data());
        }
    } else {
        const int camera = cameraOfViewIndex(viewType);
        if (camera < 0) return false;
        context_.busy = true;
        const int source = static_cast<int>(std::find(kContextCamera, kContextCamera + 4, camera) - kContextCamera);
        if (context_.singleHandle) {
            mzSingleviewInit(context_.singleHandle, context_.singleParam);
            mzSingleviewApply(context_.singleHandle, img[source].data(), context_.singleOutput.data());
        }
    }
    ui_.previewViewUpdated();
    context_.busy = false;
    return true;
}

void Preview::giveCarImage(int slot) {
    if (slot < 0 || slot >= kMultiviewSlots) return;
    ViewHandle handle = state_.multiviewHandles[slot];
    const MultiviewParam& mv = state_.multiviews[slot];
    if (handle && state_.hasCarImage[slot]) {
        mzMultiviewSetImage(handle, mv.width, mv.height, state_.carImages[slot].data(), MZ_MV_IMAGE_COPY,
                            0, 0, 0, 0);
    }
}

void Preview::shift(float dx, float dy) {
    if (viewType_ == kStitchedViewType) {
        context_.adjust.shiftX += dx;
        context_.adjust.shiftY += dy;
    } else if (context_.singleParam) {
        context_.singleParam->offsetX += dx;
        context_.singleParam->offsetY -= dy;
    }
}

void Preview::adjust(Adjustment adjustment) {
    settleCameras();
    if (context_.busy || !context_.initialised || !context_.imagesPresent) return;
    const bool stitched = viewType_ == kStitchedViewType;
    if (!stitched && !context_.singleParam) return;
    // A full top view lies across the display: the arrows turn with it.
    const bool turned = context_.stitchedParam && (context_.stitchedParam->flags & MZ_MV_ROTATED);
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
            context_.adjust.sideHeightOffset += sign * kHeightStep;
        } else {
            context_.singleParam->scaleX += sign * kScaleStep;
            context_.singleParam->scaleY += sign * kScaleStep;
        }
        break;
    }
    case Adjustment::kRotatePlus:
    case Adjustment::kRotateMinus: {
        const float step = adjustment == Adjustment::kRotatePlus ? -kRotationStep : kRotationStep;
        if (stitched) context_.adjust.rotation += step;
        else context_.singleParam->rotation -= step;
        break;
    }
    }
    if (stitched) solveRig();
    rebuildCurrent();
}

void Preview::editField(PreviewField field, const std::string& text) {
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

void Preview::pressEnter(PreviewField field) {
    settleCameras();
    switch (field) {
    case PreviewField::kMarkerLength:
        if (context_.busy) return;
        initCalibration(state_.cameras[kFront].patternShape, fields_.markerLength);
        solveRig();
        rebuild(kStitchedViewType);
        return;
    case PreviewField::kOverallWidth:
        for (int i = 0; i < stitchedCount(); ++i) state_.multiviews[i].vehicleWidth = fields_.vehicleWidth;
        rebuildCurrent();
        parkingLineConfirmed_ = false;
        return;
    case PreviewField::kOverallLength:
        if (viewType_ == kStitchedViewType) {
            for (int i = 0; i < stitchedCount(); ++i) state_.multiviews[i].vehicleLength = fields_.vehicleLength;
        } else if (context_.singleParam) {
            context_.singleParam->vehicleLength = fields_.vehicleLength;
            if (context_.singleHandle) mzSingleviewInit(context_.singleHandle, context_.singleParam);
        }
        rebuildCurrent();
        parkingLineConfirmed_ = false;
        return;
    case PreviewField::kOverallHeight:
        // Kept with the parking-guide parameters, which this system never has.
        rebuildCurrent();
        parkingLineConfirmed_ = false;
        return;
    case PreviewField::kMaskType:
    case PreviewField::kFrontFov:
    case PreviewField::kRearFov:
    case PreviewField::kLineWidth:
    case PreviewField::kBlendWidth:
        applyViewSettings();
        return;
    }
}

void Preview::setColour(uint32_t colour) { fields_.colour = colour & 0xFFFFFFu; }

void Preview::enableByMaskType() {
    const int m = fields_.maskType;
    const bool free = m != 4;
    for (PreviewControl c : {PreviewControl::kOverallWidth, PreviewControl::kOverallLength,
                             PreviewControl::kColour, PreviewControl::kLoadCarImage}) {
        setEnabled(c, free);
    }
    setEnabled(PreviewControl::kFrontFov, m >= 1 && m <= 3);
    setEnabled(PreviewControl::kRearFov, m >= 1 && m <= 3);
    setEnabled(PreviewControl::kLineWidth, m == 2 || m == 3);
    setEnabled(PreviewControl::kBlendWidth, false);
    if (m == 4) setEnabled(PreviewControl::kApply, false);
}

void Preview::applyViewSettings() {
    enableByMaskType();
    if (MultiviewParam* mv = context_.stitchedParam) {
        mv->blendMode = fields_.maskType;
        mv->frontFov = static_cast<float>(fields_.frontFov);
        mv->rearFov = static_cast<float>(fields_.rearFov);
        mv->lineWidth = fields_.lineWidth;
        mv->blendWidth = static_cast<float>(fields_.blendWidth);
        mv->vehicleColour = fields_.colour;
    }
    parkingLineConfirmed_ = false;
    rebuildCurrent();
    ui_.previewStateChanged();
}

void Preview::changeMaskType(int maskType) {
    if (maskType < 0 || maskType > 4) return;
    fields_.maskType = maskType;
    giveCarImage(context_.stitchedSlot);
    applyViewSettings();
}

void Preview::selectView(int entry) {
    if (entry == currentEntry_ || entry < 0 || entry >= static_cast<int>(viewList_.size())) return;
    currentEntry_ = entry;
    if (entry < stitchedCount()) {
        viewType_ = kStitchedViewType;
        initStitched(entry);
        giveCarImage(entry);
        applyViewSettings();
        setEnabled(PreviewControl::kParkingLineAssistance, header_[23] >= 2);
        for (PreviewControl c : {PreviewControl::kMaskType, PreviewControl::kShowOverlayBlend,
                                 PreviewControl::kMarkerLength}) {
            setEnabled(c, true);
        }
        enableByMaskType();
    } else {
        const int slot = entry - stitchedCount();
        viewType_ = singleviewIndex(state_.singleviewRaw[slot]);
        initSingle(slot);
        rebuild(viewType_);
        const bool overlay = context_.singleParam && (context_.singleParam->flags & MZ_SV_OVERLAY);
        setEnabled(PreviewControl::kParkingLineAssistance, overlay);
        setEnabled(PreviewControl::kOverallLength, overlay);
        for (PreviewControl c : {PreviewControl::kOverallWidth, PreviewControl::kFrontFov,
                                 PreviewControl::kRearFov, PreviewControl::kLineWidth,
                                 PreviewControl::kBlendWidth, PreviewControl::kColour,
                                 PreviewControl::kLoadCarImage, PreviewControl::kMaskType,
                                 PreviewControl::kShowOverlayBlend, PreviewControl::kMarkerLength}) {
            setEnabled(c, false);
        }
    }
    ui_.previewStateChanged();
}

void Preview::setShowOverlayBlend(bool on) {
    fields_.overlayBlend = on;
    if (MultiviewParam* mv = context_.stitchedParam) {
        if (on) mv->flags |= MZ_MV_SHOW_BLEND;
        else mv->flags &= ~MZ_MV_SHOW_BLEND;
    }
    rebuildCurrent();
}

void Preview::loadCarImage() {
    const std::optional<std::string> path = ui_.chooseFile({"BMP file", "BMP file(*.bmp)|*.bmp|", "bmp"});
    if (!path) return;
    std::optional<format::Bitmap> picture = format::readBitmapFile(*path);
    if (!picture) return;
    // The stitched view takes 24-bit pixels only; any other depth would hand it garbage.
    if (picture->bitsPerPixel != 24) {
        ui_.showMessage("This image format is not supported.", kAppTitle, MessageIcon::kError);
        return;
    }
    const int w = picture->width;
    const int h = picture->height;
    carPicture_ = PlacedCarPicture{std::move(*picture), 0, 0, w, h};
    if (context_.stitchedHandle) {
        mzMultiviewSetImage(context_.stitchedHandle, 0, 0, nullptr, MZ_MV_IMAGE_CLEAR, 0, 0, 0, 0);
    }
    rebuild(kStitchedViewType);
    setEnabled(PreviewControl::kApply, true);
    ui_.previewStateChanged();
}

void Preview::placeCarPicture(int left, int top, int width, int height) {
    if (!carPicture_) return;
    carPicture_->left = left;
    carPicture_->top = top;
    carPicture_->width = width;
    carPicture_->height = height;
}

void Preview::removeCarPicture() {
    carPicture_.reset();
    ui_.previewStateChanged();
}

void Preview::applyCarImage() {
    if (!carPicture_ || carPicture_->picture.pixels.empty()) {
        ui_.showMessage("Please select the car image. !!", kAppTitle, MessageIcon::kWarning);
    } else {
        const PlacedCarPicture& car = *carPicture_;
        if (context_.stitchedHandle) {
            mzMultiviewSetImage(context_.stitchedHandle, car.picture.width, car.picture.height,
                                car.picture.pixels.data(), 0, car.left, car.top, car.width, car.height);
        }
        rebuild(kStitchedViewType);
    }
    carPicture_.reset();
    setEnabled(PreviewControl::kApply, false);
    ui_.previewStateChanged();
}

void Preview::parkingLineAssistance() {
    const bool overlayView = viewType_ != kStitchedViewType && context_.singleParam &&
                             (context_.singleParam->flags & MZ_SV_OVERLAY);
    if (!overlayView) {
        parkingLineConfirmed_ = false;
        return;
    }
    const std::optional<std::string> path =
        ui_.chooseFile({"", "bmp Files (*.bmp)|*.bmp|All Files (*.*)|*.*||", "bmp"});
    if (!path) return;
    const std::optional<format::Bitmap> picture = format::readBitmap(*path);
    if (!picture || picture->bitsPerPixel != 24) {
        ui_.showMessage("This image format is not supported.", kAppTitle, MessageIcon::kError);
        return;
    }
    if (context_.singleHandle) {
        mzSingleviewSetImage(context_.singleHandle, picture->width, picture->height, picture->pixels.data(), 0);
        mzSingleviewInit(context_.singleHandle, context_.singleParam);
    }
    rebuild(viewType_);
}

void Preview::setLutVersionText(bool major, const std::string& text) {
    (major ? major_ : minor_) = parseInteger(text);
}

void Preview::setDataVersion(int32_t major, int32_t minor) {
    major_ = major;
    minor_ = minor;
    ui_.previewStateChanged();
}

std::span<const uint8_t> Preview::output(int& width, int& height) const {
    if (viewType_ == kStitchedViewType) {
        width = context_.stitchedWidth;
        height = context_.stitchedHeight;
        return context_.stitchedOutput;
    }
    width = context_.singleWidth;
    height = context_.singleHeight;
    return context_.singleOutput;
}

}  // namespace mz::core
