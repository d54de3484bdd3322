// The top-view engine's life cycle: Init, Apply through the cameras' layers (view/layer_cache.h),
// and the operations table behind the handle.
#include "view/topview.h"

#include <algorithm>

#include "view/topview_engine.h"
#include "view/two_threads.h"
#include "view/view_engine.h"

namespace mz {

TopView::TopView() {
    for (auto& h : homography_)
        for (auto& row : h) row.fill(0.0f);
}

void TopView::init(MultiviewParam* param) {
    if (param == nullptr || param->cameras == nullptr || !viewSizeFits(param->width, param->height)) return;
    guarded([&] { build(param); });
}

void TopView::build(MultiviewParam* param) {
    param_ = param;
    const bool rotated = (param->flags & MZ_MV_ROTATED) != 0;
    const int workW = rotated ? param->height : param->width;
    const int workH = rotated ? param->width : param->height;

    const CameraParam& front = param->cameras[kFront];
    const bool newSize = workW != workWidth_ || workH != workHeight_ || maps_[0].empty();
    const bool newSource = front.width != sourceWidth_ || front.height != sourceHeight_;
    if (newSize) {
        allocate(workW, workH);
    } else if (newSource) {
        layers_.storeLayers(frame());  // their pictures are about to go
    }
    if (newSource) {
        sourceWidth_ = std::max(front.width, 0);
        sourceHeight_ = std::max(front.height, 0);
        layers_.resetPictures(source());
    }
    flags_ = param->flags;
    rotated_ = rotated;
    ox_ = rotated ? static_cast<float>(param->height) - param->centreY : param->centreX;
    oy_ = rotated ? param->centreX : param->centreY;

    frontFov_ = param->frontFov;
    rearFov_ = param->rearFov;
    blendWidth_ = param->blendWidth;
    colour_ = param->vehicleColour;
    lineWidth_ = param->lineWidth;
    blendMode_ = param->blendMode;

    buildMaps(*param);
    // "Predefined": the stitching map is what SetImage's copy mode loaded.
    if (blendMode_ != 4) {
        ensureMaps();  // the other modes weigh the cameras by where their maps land
        rect_ = vehicleRect(*param, workWidth_, workHeight_, ox_, oy_);
        inTwoHalves(workHeight_, [&](int first, int last) { blendRows(first, last); });
        if (blendMode_ == 2 || blendMode_ == 3) drawSeams(blendMode_ == 3);
        mergeVehicle();
    }
    buildPlan();
}

void TopView::apply(const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear,
                    uint8_t* output) {
    if (maps_[0].empty() || sourceWidth_ == 0 || sourceHeight_ == 0) return;
    ensureMaps();
    const LayerFrame now = frame();
    layers_.ensurePlan(now, blend_.data(), (flags_ & MZ_MV_SHOW_BLEND) != 0);
    // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
    const bool show = output != nullptr && layers_.planComplete(outHeight()) && param_->width == outWidth() &&
                      param_->height == outHeight();
    layers_.apply({front, rear, left, right}, now, show ? output : nullptr);
}

void TopView::allocate(int workW, int workH) {
    workWidth_ = workW;
    workHeight_ = workH;
    const std::size_t n = pixelCount();
    // Init writes every entry of a new map: it is not zeroed first.
    for (auto& m : maps_) {
        m.clear();
        m.resize(2 * n);
    }
    mapKeyValid_.fill(false);
    layers_.clear();
    blend_.assign(3 * n, 0);
    vehicle_.assign(3 * n, 0);
}

void TopView::reset() {
    workWidth_ = workHeight_ = 0;
    sourceWidth_ = sourceHeight_ = 0;
    for (auto& m : maps_) BigVector<float>().swap(m);
    mapKeyValid_.fill(false);
    mapPending_.fill(false);
    layers_.release();
    BigVector<uint8_t>().swap(blend_);
    BigVector<uint8_t>().swap(vehicle_);
}

Interp TopView::interp() const {
    if (flags_ & MZ_MV_BICUBIC) return Interp::kBicubic;
    return (flags_ & MZ_MV_BILINEAR) ? Interp::kBilinear : Interp::kNearest;
}

// Before Init replaces the maps of the stale cameras: a layer defined by the current map keeps that
// map aside.
void TopView::retireMaps(const std::array<bool, kCameraCount>& stale) {
    for (int c = 0; c < kCameraCount; ++c) {
        if (!stale[c]) continue;
        layers_.retireMap(c, maps_[c]);
        maps_[c].resize(2 * pixelCount());
    }
}

bool TopView::internals(TopviewInternals* out) {
    if (maps_[0].empty()) return false;
    ensureMaps();
    out->workWidth = workWidth_;
    out->workHeight = workHeight_;
    out->sourceWidth = sourceWidth_;
    out->sourceHeight = sourceHeight_;
    for (int c = 0; c < kCameraCount; ++c) out->maps[c] = maps_[c].data();
    out->blendMap = blend_.data();
    return true;
}

namespace {

ViewHandle createTopview() { return createView<TopView>(&kTopviewOps); }

}  // namespace

bool topviewInternals(ViewHandle handle, TopviewInternals* out) {
    if (handle == nullptr || out == nullptr || handle->ops != &kTopviewOps || handle->engine == nullptr) return false;
    return static_cast<TopView*>(handle->engine)->internals(out);
}

const ViewOps kTopviewOps = {{
    toSlot(&createTopview),
    toSlot(&viewOp<TopView, &TopView::init, MultiviewParam*>),
    toSlot(&viewOp<TopView, &TopView::apply, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*>),
    toSlot(&viewOp<TopView, &TopView::getLutLen, int*, int>),
    toSlot(&viewOp<TopView, &TopView::getLut, void*, int, int>),
    toSlot(&viewOp<TopView, &TopView::saveLut, const char*, int>),
    toSlot(&viewOp<TopView, &TopView::getMaskLen, int*, int>),
    toSlot(&viewOp<TopView, &TopView::getMask, void*, int, int>),
    toSlot(&viewOp<TopView, &TopView::setImage, int, int, const uint8_t*, unsigned, int, int, int, int>),
    toSlot(&viewOp<TopView, &TopView::saveImage, const char*>),
    toSlot(&viewOp<TopView, &TopView::adjustCameraPose, MultiviewParam*, const float*, int>),
    toSlot(&releaseView<TopView>),
}};

}  // namespace mz
