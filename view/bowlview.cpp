// The bowl views' life cycle: Init, Apply through the cameras' layers (view/layer_cache.h), the
// exports, and the operations tables of kinds 1 and 2.
#include "view/bowlview.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "geometry/image.h"
#include "mz/mzview.h"
#include "view/dump_files.h"
#include "view/view_engine.h"

namespace mz {

void BowlView::init(MultiviewParam* param) {
    if (param == nullptr || param->cameras == nullptr || !viewSizeFits(param->width, param->height)) return;
    // Without a focal length the virtual camera sees nothing: keep what the last Init built.
    const CameraParam& eye = param->cameras[kCameraCount];
    if (!(eye.fx != 0.0f && eye.fy != 0.0f && std::isfinite(eye.fx) && std::isfinite(eye.fy))) return;
    try {
        build(param);
    } catch (...) {
        reset();
        throw;
    }
}

void BowlView::build(MultiviewParam* param) {
    param_ = param;
    CameraParam* cameras = param->cameras;
    const CameraParam& front = cameras[kFront];
    if (param->width != width_ || param->height != height_ || maps_[0].empty()) {
        allocate(param->width, param->height);
    } else {
        layers_.storeLayers(frame());  // their maps (and perhaps their pictures) are about to change
    }
    if (front.width != sourceWidth_ || front.height != sourceHeight_) {
        sourceWidth_ = std::max(front.width, 0);
        sourceHeight_ = std::max(front.height, 0);
        layers_.resetPictures({sourceWidth_, sourceHeight_});
    }
    flags_ = param->flags;
    cameras[kCameraCount].cx = param->centreX;
    cameras[kCameraCount].cy = param->centreY;

    solvePoses(cameras);
    wallX_ = param->bowlWallX;
    wallY_ = param->bowlWallY;
    bowlHeight_ = param->bowlHeight;
    floorY_ = param->bowlFloorY;
    frontFov_ = param->frontFov;
    rearFov_ = param->rearFov;
    blendWidth_ = param->blendWidth;
    ox_ = front.originX;
    oy_ = front.originY;

    buildMesh();
    buildMaps(cameras);
    // Kind 1 with "Predefined" keeps the map SetImage's copy mode loaded; kind 2 always rebuilds
    // it and leaves the vehicle picture to the next SetImage.
    if (kind_ == 2 || param->blendMode != 4) {
        rebuildBlend(*param);
        if (kind_ == 1) mergeVehicle();
    }
    buildPlan();
}

void BowlView::allocate(int width, int height) {
    width_ = width;
    height_ = height;
    const std::size_t n = pixelCount();
    for (int c = 0; c < kCameraCount; ++c) {
        maps_[c].assign(2 * n, 0.0f);
        weights_[c].assign(n, 0.0f);
    }
    layers_.clear();
    blend_.assign(3 * n, 0);
    vehicle_.assign(3 * n, 0);
}

void BowlView::reset() {
    width_ = height_ = 0;
    sourceWidth_ = sourceHeight_ = 0;
    std::vector<float>().swap(mesh_);
    for (int c = 0; c < kCameraCount; ++c) {
        BigVector<float>().swap(maps_[c]);
        BigVector<float>().swap(weights_[c]);
    }
    layers_.release();
    BigVector<uint8_t>().swap(blend_);
    BigVector<uint8_t>().swap(vehicle_);
}

// Made at once (Init and SetImage pay for it, Apply never does).
void BowlView::buildPlan() {
    layers_.planChanged();
    layers_.ensurePlan(frame(), blend_.data(), false);
}

void BowlView::apply(const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear,
                     uint8_t* output) {
    if (maps_[0].empty() || sourceWidth_ == 0 || sourceHeight_ == 0) return;
    // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
    const bool show =
        output != nullptr && layers_.planComplete(height_) && param_->width == width_ && param_->height == height_;
    layers_.apply({front, rear, left, right}, frame(), show ? output : nullptr);
    if (show) showBlend(output);
}

void BowlView::showBlend(uint8_t* output) const {
    if (kind_ == 1 && (flags_ & MZ_MV_SHOW_BLEND) != 0) {
        // Every pixel's red leans toward its code's third byte: the blend zones show.
        const std::size_t stride = rowBytes(width_);
        for (int m = 0; m < height_; ++m) {
            uint8_t* d = output + stride * m;
            const uint8_t* code = &blend_[3 * static_cast<std::size_t>(m) * width_];
            for (int l = 0; l < width_; ++l) d[3 * l + 2] = static_cast<uint8_t>((code[3 * l + 2] + d[3 * l + 2]) >> 1);
        }
    }
}

// ---- exports ----

void BowlView::getLutLen(int* length, int /*camera: every camera's table has the same size*/) const {
    if (length != nullptr) *length = maps_[0].empty() ? 0 : width_ * height_ * 4;
}

// Written only when the caller's length is the one GetLUTLen reports: the packer trusts its buffer.
void BowlView::getLut(void* buffer, int length, int camera) const {
    if (buffer == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
    if (length != width_ * height_ * 4) return;
    std::vector<Point2F> pairs(pixelCount());
    std::memcpy(pairs.data(), maps_[camera].data(), pairs.size() * sizeof(Point2F));
    mzMakeBinView(width_, height_, pairs.data(), static_cast<uint8_t*>(buffer), nullptr, static_cast<int>(flags_ & 1u));
}

void BowlView::saveLut(const char* path, int camera) const {
    if (path == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
    std::vector<const float*> rows(static_cast<std::size_t>(height_));
    for (int r = 0; r < height_; ++r) rows[r] = &maps_[camera][2 * static_cast<std::size_t>(r) * width_];
    saveMapText(path, width_, height_, rows.data());
}

int BowlView::maskLength(int format) const {
    if (blend_.empty()) return 0;
    switch (format) {
    case 0:
    case 2: return width_ * height_ * 2;
    case 1: return width_ * height_ * 4;
    default: return 0;
    }
}

void BowlView::getMaskLen(int* length, int format) const {
    if (length != nullptr) *length = maskLength(format);
}

// Written only when the caller's length is the one GetMaskLen reports.
void BowlView::getMask(void* buffer, int length, int format) const {
    const int expected = maskLength(format);
    if (buffer == nullptr || expected == 0 || length != expected) return;
    const std::vector<uint8_t> image = paddedBlend();
    auto* dst = static_cast<uint8_t*>(buffer);
    switch (format) {
    case 0: mzMakeBinMaskRGB16(width_, height_, image.data(), dst, nullptr); break;
    case 1: mzMakeBinMaskRGB32(width_, height_, image.data(), dst, nullptr); break;
    case 2: mzMakeBinMaskYCbCr(width_, height_, image.data(), dst, nullptr); break;
    default: break;
    }
}

std::vector<uint8_t> BowlView::paddedBlend() const {
    const std::size_t stride = rowBytes(width_), bytes = static_cast<std::size_t>(width_) * 3;
    std::vector<uint8_t> image(stride * height_, 0);
    for (int r = 0; r < height_; ++r) std::memcpy(&image[r * stride], &blend_[r * bytes], bytes);
    return image;
}

void BowlView::saveImage(const char* path) const {
    if (path == nullptr || blend_.empty()) return;
    ImageBufferPtr buffer(createImageBuffer(3, width_, height_));
    if (!buffer) return;
    const std::size_t bytes = static_cast<std::size_t>(width_) * 3;
    for (int r = 0; r < height_; ++r) std::memcpy(buffer->rows[r], &blend_[r * bytes], bytes);
    saveBitmap(path, buffer.get());
}

void BowlView::setImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
    try {
        changeImage(width, height, image, mode, x, y, w, h);
    } catch (...) {
        reset();
        throw;
    }
}

bool BowlView::internals(BowlviewInternals* out) const {
    if (maps_[0].empty()) return false;
    out->width = width_;
    out->height = height_;
    for (int c = 0; c < kCameraCount; ++c) {
        out->maps[c] = maps_[c].data();
        out->weights[c] = weights_[c].data();
    }
    out->blendMap = blend_.data();
    out->mesh = mesh_.data();
    return true;
}

namespace {

template <int Kind>
ViewHandle createBowlview() {
    auto* handle = static_cast<ViewHandleRec*>(std::malloc(sizeof(ViewHandleRec)));
    if (handle == nullptr) return nullptr;
    handle->ops = Kind == 1 ? &kBowlview1Ops : &kBowlview2Ops;
    handle->engine = new (std::nothrow) BowlView(Kind);
    return handle;
}

// Kinds 1 and 2 differ in create, Init, Apply and SetImage; the engine knows its kind, each table
// still has slots of its own there.
template <int Kind>
int initBowl(ViewHandle handle, MultiviewParam* param) {
    return viewOp<BowlView, &BowlView::init, MultiviewParam*>(handle, param);
}

template <int Kind>
int applyBowl(ViewHandle handle, const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear,
              uint8_t* output) {
    return viewOp<BowlView, &BowlView::apply, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*>(
        handle, front, left, right, rear, output);
}

template <int Kind>
int setImageBowl(ViewHandle handle, int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w,
                 int h) {
    return viewOp<BowlView, &BowlView::setImage, int, int, const uint8_t*, unsigned, int, int, int, int>(
        handle, width, height, image, mode, x, y, w, h);
}

template <int Kind>
ViewOps bowlOps() {
    return {{
        toSlot(&createBowlview<Kind>),
        toSlot(&initBowl<Kind>),
        toSlot(&applyBowl<Kind>),
        toSlot(&viewOp<BowlView, &BowlView::getLutLen, int*, int>),
        toSlot(&viewOp<BowlView, &BowlView::getLut, void*, int, int>),
        toSlot(&viewOp<BowlView, &BowlView::saveLut, const char*, int>),
        toSlot(&viewOp<BowlView, &BowlView::getMaskLen, int*, int>),
        toSlot(&viewOp<BowlView, &BowlView::getMask, void*, int, int>),
        toSlot(&setImageBowl<Kind>),
        toSlot(&viewOp<BowlView, &BowlView::saveImage, const char*>),
        toSlot(&viewOp<BowlView, &BowlView::adjustCameraPose, MultiviewParam*, const float*, int>),
        toSlot(&releaseView<BowlView>),
    }};
}

}  // namespace

bool bowlviewInternals(ViewHandle handle, BowlviewInternals* out) {
    if (handle == nullptr || out == nullptr || handle->engine == nullptr ||
        (handle->ops != &kBowlview1Ops && handle->ops != &kBowlview2Ops))
        return false;
    return static_cast<const BowlView*>(handle->engine)->internals(out);
}

const ViewOps kBowlview1Ops = bowlOps<1>();
const ViewOps kBowlview2Ops = bowlOps<2>();

}  // namespace mz
