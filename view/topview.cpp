// The top-view engine's life cycle: Init, the layers of the cameras, Apply through the stitching
// plan, and the operations table behind the handle.
#include "view/topview.h"

#include <algorithm>
#include <cstring>

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
        storeLayers();  // their pictures are about to go
    }
    if (newSource) {
        sourceWidth_ = std::max(front.width, 0);
        sourceHeight_ = std::max(front.height, 0);
        const std::size_t bytes = rowBytes(sourceWidth_) * static_cast<std::size_t>(sourceHeight_);
        for (auto& s : sources_) s.assign(bytes, 0);
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
    ensurePlan();
    const uint8_t* images[kCameraCount] = {front, rear, left, right};
    // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
    const bool show = output != nullptr && plan_.complete(outHeight()) && param_->width == outWidth() &&
                      param_->height == outHeight();
    if (show && front != nullptr && left != nullptr && right != nullptr && rear != nullptr) {
        // Four new pictures: stitched straight from them. The layers are sampled again from the kept
        // pictures only if a later Apply leaves a camera out.
        for (int c = 0; c < kCameraCount; ++c) {
            std::memcpy(sources_[c].data(), images[c], sources_[c].size());
            layer_[c] = Layer::kCurrentMap;
            layerInterp_[c] = interp();
            compactValid_[c] = false;
        }
        stitchPictures(plan_, outWidth(), {sources_[0].data(), sources_[1].data(), sources_[2].data(), sources_[3].data()},
                       sourceWidth_, interp(), output);
        return;
    }
    for (int c = 0; c < kCameraCount; ++c) {
        if (images[c] != nullptr) {
            std::memcpy(sources_[c].data(), images[c], sources_[c].size());
            layer_[c] = Layer::kCurrentMap;
            layerInterp_[c] = interp();
            sampleInto(c);
            compactValid_[c] = true;
        } else if (!compactValid_[c]) {
            refreshCompact(c);
        }
    }
    if (show)
        stitch(plan_, outWidth(), {compact_[0].data(), compact_[1].data(), compact_[2].data(), compact_[3].data()},
               output);
}

void TopView::allocate(int workW, int workH) {
    workWidth_ = workW;
    workHeight_ = workH;
    const std::size_t n = pixelCount();
    for (int c = 0; c < kCameraCount; ++c) {
        maps_[c].assign(2 * n, 0.0f);
        std::vector<float>().swap(oldMaps_[c]);
        std::vector<uint8_t>().swap(stored_[c]);
        compact_[c].clear();
        compactValid_[c] = false;
        layer_[c] = Layer::kZero;
    }
    mapKeyValid_.fill(false);
    planStale_ = false;
    blend_.assign(3 * n, 0);
    vehicle_.assign(3 * n, 0);
    plan_.clear();
}

void TopView::reset() {
    workWidth_ = workHeight_ = 0;
    sourceWidth_ = sourceHeight_ = 0;
    for (int c = 0; c < kCameraCount; ++c) {
        std::vector<float>().swap(maps_[c]);
        std::vector<float>().swap(oldMaps_[c]);
        std::vector<uint8_t>().swap(stored_[c]);
        std::vector<uint8_t>().swap(sources_[c]);
        std::vector<uint8_t>().swap(compact_[c]);
        compactValid_[c] = false;
        layer_[c] = Layer::kZero;
    }
    mapKeyValid_.fill(false);
    planStale_ = false;
    std::vector<uint8_t>().swap(blend_);
    std::vector<uint8_t>().swap(vehicle_);
    plan_.release();
}

Interp TopView::interp() const {
    if (flags_ & MZ_MV_BICUBIC) return Interp::kBicubic;
    return (flags_ & MZ_MV_BILINEAR) ? Interp::kBilinear : Interp::kNearest;
}

void TopView::sampleInto(int c) {
    compact_[c].resize(3 * plan_.samples[c].size());
    samplePicture(sources_[c].data(), sourceWidth_, interp(), plan_.samples[c], compact_[c].data());
}

// The layer of a camera left out of Apply, at the pixels the plan needs now.
void TopView::refreshCompact(int c) {
    compact_[c].assign(3 * plan_.samples[c].size(), 0);
    if (layer_[c] == Layer::kCurrentMap && layerInterp_[c] == interp()) {
        sampleInto(c);
    } else if (layer_[c] != Layer::kZero) {
        const std::vector<std::size_t> pixels = plannedPixels(view(), plan_, c);
        uint8_t* d = compact_[c].data();
        if (layer_[c] == Layer::kStored) {
            for (std::size_t k = 0; k < pixels.size(); ++k) std::memcpy(d + 3 * k, &stored_[c][3 * pixels[k]], 3);
        } else {
            const float* map = layer_[c] == Layer::kOldMap ? oldMaps_[c].data() : maps_[c].data();
            std::vector<Sample> samples(pixels.size());
            for (std::size_t k = 0; k < pixels.size(); ++k)
                samples[k] = makeSample(map, layerInterp_[c], pixels[k], source());
            samplePicture(sources_[c].data(), sourceWidth_, layerInterp_[c], samples, d);
        }
    }
    compactValid_[c] = true;
}

// Before Init replaces the maps of the stale cameras: a layer defined by the current map keeps that
// map aside.
void TopView::retireMaps(const std::array<bool, kCameraCount>& stale) {
    for (int c = 0; c < kCameraCount; ++c) {
        if (!stale[c]) continue;
        if (layer_[c] == Layer::kCurrentMap) {
            std::swap(maps_[c], oldMaps_[c]);
            layer_[c] = Layer::kOldMap;
        }
        maps_[c].resize(2 * pixelCount());
    }
}

// Before the pictures go: every layer that depends on one is computed over the whole view.
void TopView::storeLayers() {
    for (int c = 0; c < kCameraCount; ++c) {
        if (layer_[c] != Layer::kCurrentMap && layer_[c] != Layer::kOldMap) continue;
        const float* map = layer_[c] == Layer::kOldMap ? oldMaps_[c].data() : maps_[c].data();
        std::vector<Sample> samples(pixelCount());
        for (std::size_t w = 0; w < samples.size(); ++w) samples[w] = makeSample(map, layerInterp_[c], w, source());
        stored_[c].resize(3 * pixelCount());
        samplePicture(sources_[c].data(), sourceWidth_, layerInterp_[c], samples, stored_[c].data());
        layer_[c] = Layer::kStored;
        compactValid_[c] = false;
    }
}

// The plan is made when the next Apply needs it, not at every change: an engine initialised only to
// hand out its tables (Save LUT) never pays for it. Everything the plan is made from (maps, stitching
// map, sizes, flags) changes only together with a call of buildPlan, so the plan comes out the same.
void TopView::buildPlan() {
    compactValid_.fill(false);
    plan_.clear();
    planStale_ = true;
}

void TopView::ensurePlan() {
    if (!planStale_) return;
    buildStitchPlan(view(), blend_.data(), {maps_[0].data(), maps_[1].data(), maps_[2].data(), maps_[3].data()},
                    source(), interp(), (flags_ & MZ_MV_SHOW_BLEND) != 0, plan_);
    planStale_ = false;
}

bool TopView::internals(TopviewInternals* out) const {
    if (maps_[0].empty()) return false;
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
    return static_cast<const TopView*>(handle->engine)->internals(out);
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
