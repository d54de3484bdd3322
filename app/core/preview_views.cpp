#include "app/core/preview_views.h"

#include <algorithm>
#include <cstring>

#include "mz/mzview.h"

namespace mz::core {

namespace {

// The context keeps its pictures in the order the stitched view takes them.
constexpr int kContextCamera[4] = {kFront, kLeft, kRight, kRear};

bool fitsPreview(int32_t width, int32_t height) {
    return width > 0 && height > 0 &&
           format::paddedImageSize(width, height) <= static_cast<int64_t>(kPreviewBufferSize);
}

std::string viewName(const MultiviewParam& mv) { return std::string(mv.name, strnlen(mv.name, sizeof mv.name)); }

}  // namespace

// The output buffers are made by the first Apply into each: a view never shown costs nothing.
PreviewViews::PreviewViews(Ui& ui, CalibrationState& state) : ui_(ui), state_(state), bowl_(state) {}

PreviewViews::~PreviewViews() {
    if (seamHandle_) mzMultiviewRelease(&seamHandle_);
    std::lock_guard lock(context_.lock);
    context_.exit = true;
}

void PreviewViews::forget() {
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
    seamCheck_ = false;
    seamOutput_.clear();
}

int PreviewViews::stitchedCount() const { return std::min<int>(header_[21], kMultiviewSlots); }

void PreviewViews::refillViewList() {
    viewList_.clear();
    for (int i = 0; i < stitchedCount(); ++i) viewList_.push_back(viewName(state_.multiviews[i]));
    for (int i = 0; i < singleEntries_; ++i) {
        const int32_t index = singleviewIndex(state_.singleviewRaw[i]);
        viewList_.push_back(index >= 0 && index < kSingleviewSlots ? kSingleviewNames[index] : "?");
    }
    if (stitchedCount() > 0) viewList_.push_back(kBowlViewName);
}

void PreviewViews::setCurrent(int entry, int viewType) {
    currentEntry_ = entry;
    viewType_ = viewType;
}

bool PreviewViews::initStitched(int slot) {
    MultiviewParam& mv = state_.multiviews[slot];
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
    return context_.stitchedParam != nullptr;
}

void PreviewViews::initSingleViews() {
    singleEntries_ = state_.singleviewCount();
    refillViewList();
    if (singleEntries_ > 0) initSingle(0);
    currentEntry_ = 0;
}

bool PreviewViews::initSingle(int slot) {
    settleCameras();
    SingleviewParam& sv = state_.singleviews[slot];
    context_.singleHandle = nullptr;
    context_.singleParam = nullptr;
    context_.singleSlot = -1;
    if (!fitsPreview(sv.width, sv.height) || sv.camera == nullptr) return false;
    context_.singleHandle = state_.singleviewHandles[slot];
    context_.singleParam = &sv;
    context_.singleSlot = slot;
    // No Init here: whatever shows or saves the view initialises it first, from the records as
    // they are then (a configuration's first view would otherwise be made before its calibration).
    context_.singleWidth = sv.width;
    context_.singleHeight = sv.height;
    return true;
}

void PreviewViews::setImages(std::span<const uint8_t> front, std::span<const uint8_t> left,
                             std::span<const uint8_t> right, std::span<const uint8_t> rear) {
    // Room for the largest camera record: an engine reads a picture by its camera's size.
    int64_t room = 0;
    for (const CameraParam& cam : state_.cameras) {
        if (cam.width > 0 && cam.height > 0) room = std::max(room, format::paddedImageSize(cam.width, cam.height));
    }
    const std::span<const uint8_t> sources[4] = {front, left, right, rear};
    for (int i = 0; i < 4; ++i) {
        const size_t size = std::max(static_cast<size_t>(room), sources[i].size());
        context_.cameraImages[i].assign(sources[i].begin(), sources[i].end());
        context_.cameraImages[i].resize(size, 0);
    }
    context_.imagesPresent = true;
}

std::array<std::span<const uint8_t>, kCameraCount> PreviewViews::pictures() const {
    std::array<std::span<const uint8_t>, kCameraCount> pictures;
    if (context_.imagesPresent) {
        for (int i = 0; i < 4; ++i) pictures[kContextCamera[i]] = context_.cameraImages[i];
    }
    return pictures;
}

bool PreviewViews::rebuild(int viewType) {
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
    if (viewType == kBowlViewType) {
        context_.busy = true;
        bowl_.render(pictures());
    } else if (viewType == kStitchedViewType) {
        context_.busy = true;
        if (context_.stitchedHandle) {
            mzMultiviewInit(context_.stitchedHandle, context_.stitchedParam);
            if (stitchedPicture_) {
                if (context_.stitchedOutput.empty()) context_.stitchedOutput.assign(kPreviewBufferSize, 0);
                mzMultiviewApply(context_.stitchedHandle, img[0].data(), img[1].data(), img[2].data(), img[3].data(),
                                 context_.stitchedOutput.data());
                if (seamCheck_) renderSeamCheck();
            }
        }
    } else {
        const int camera = cameraOfViewIndex(viewType);
        if (camera < 0) return false;
        context_.busy = true;
        const int source = static_cast<int>(std::find(kContextCamera, kContextCamera + 4, camera) - kContextCamera);
        if (context_.singleHandle) {
            if (context_.singleOutput.empty()) context_.singleOutput.assign(kPreviewBufferSize, 0);
            mzSingleviewInit(context_.singleHandle, context_.singleParam);
            mzSingleviewApply(context_.singleHandle, img[source].data(), context_.singleOutput.data());
        }
    }
    ui_.previewViewUpdated();
    context_.busy = false;
    return true;
}

void PreviewViews::renderSeamCheck() {
    // The view twice with the "Blending FOV" mask: once with the front and rear cameras' wedges
    // opened to take every overlap, once closed to leave them to the side cameras. Outside the
    // overlaps both give the same pixels; inside, tiles taken in turn from each show both cameras.
    // An engine of its own does it: the shown one keeps its mask and car picture untouched.
    if (!seamHandle_) seamHandle_ = mzMultiviewCreate(0);
    if (!seamHandle_) return;
    MultiviewParam param = *context_.stitchedParam;
    param.blendMode = 1;
    std::vector<uint8_t> sides(context_.stitchedOutput.size(), 0);
    seamOutput_.assign(context_.stitchedOutput.size(), 0);
    const auto& img = context_.cameraImages;
    auto render = [&](float fov, uint8_t* out) {
        param.frontFov = param.rearFov = fov;
        mzMultiviewInit(seamHandle_, &param);
        mzMultiviewApply(seamHandle_, img[0].data(), img[1].data(), img[2].data(), img[3].data(), out);
    };
    render(179.0f, seamOutput_.data());
    render(1.0f, sides.data());
    const int w = context_.stitchedWidth, h = context_.stitchedHeight;
    const size_t stride = static_cast<size_t>(format::paddedImageSize(w, h) / std::max(h, 1));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = seamOutput_.data() + stride * y;
        const uint8_t* side = sides.data() + stride * y;
        for (int x = (y / kSeamTile) % 2 == 0 ? kSeamTile : 0; x < w; x += 2 * kSeamTile) {
            const int end = std::min(x + kSeamTile, w);
            std::copy(side + 3 * x, side + 3 * end, row + 3 * x);
        }
    }
}

std::span<const uint8_t> PreviewViews::output(int& width, int& height) const {
    if (viewType_ == kBowlViewType) return bowl_.picture(width, height);
    if (viewType_ == kStitchedViewType) {
        width = context_.stitchedWidth;
        height = context_.stitchedHeight;
        if (seamCheck_ && !seamOutput_.empty()) return seamOutput_;
        return context_.stitchedOutput;
    }
    width = context_.singleWidth;
    height = context_.singleHeight;
    return context_.singleOutput;
}

}  // namespace mz::core
