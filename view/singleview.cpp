// The single-camera view engine: one camera through one SingleviewParam, with a ground-plane
// overlay and the display unit's look-up table and OSD mask.
#include "view/singleview.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <new>
#include <unordered_map>

#include "geometry/image.h"
#include "geometry/view_mode.h"
#include "mz/mzview.h"
#include "view/big_buffer.h"
#include "view/bin_tables.h"
#include "view/dump_files.h"
#include "view/stitch_plan.h"
#include "view/two_threads.h"
#include "view/view_engine.h"

namespace mz {

namespace {

constexpr float kDefaultReferenceWidth = 800.0f;
constexpr float kOsdWidth = 720.0f;
constexpr float kOverlayScale = 10.0f;  // mm per overlay pixel, whatever the record says
constexpr uint8_t kBlack[3] = {0, 0, 0};

struct Palette {
    OsdColour entries[256];

    Palette() {
        int k = 0;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) {
                    if (r == 5 && g == 5 && b == 5) continue;  // black is entry 255
                    entries[k++] = {static_cast<uint8_t>(255 - 51 * r), static_cast<uint8_t>(255 - 51 * g),
                                    static_cast<uint8_t>(255 - 51 * b)};
                }
        const uint8_t ramp[10] = {238, 221, 187, 170, 136, 119, 85, 68, 34, 17};
        for (int i = 0; i < 10; ++i) {
            entries[215 + i] = {ramp[i], 0, 0};
            entries[225 + i] = {0, ramp[i], 0};
            entries[235 + i] = {0, 0, ramp[i]};
            entries[245 + i] = {ramp[i], ramp[i], ramp[i]};
        }
        entries[255] = {0, 0, 0};
    }
};

bool sameSize(const ImageBuffer* image, int width, int height) {
    return image != nullptr && image->width == width && image->height == height;
}

ImageBufferPtr zeroedImage(int width, int height) {
    ImageBufferPtr image(createImageBuffer(3, width, height));
    if (!image) throw std::bad_alloc();
    clearRows(image->rows, height, static_cast<std::size_t>(image->stride));
    return image;
}

struct FloatRows {
    float** rows = nullptr;
    int height = 0;

    FloatRows(int h, int pairs) : rows(allocFloatRows(h, 2 * pairs)), height(h) {
        if (rows == nullptr) throw std::bad_alloc();
    }
    ~FloatRows() { freeFloatRows(rows, height); }
    FloatRows(const FloatRows&) = delete;
    FloatRows& operator=(const FloatRows&) = delete;
};

class SingleView {
public:
    void init(SingleviewParam* view) {
        ready_ = false;
        if (view == nullptr || view->camera == nullptr) return;
        const CameraParam& cam = *view->camera;
        // A view or camera picture without pixels has no map to build.
        if (!viewSizeFits(view->width, view->height) || cam.width < 0 || cam.height < 0) return;
        view_ = view;
        flags_ = view->flags;
        referenceWidth_ = kDefaultReferenceWidth;

        // Apply reads the caller's picture of this size; one no picture buffer could hold is refused.
        const int64_t stride = (static_cast<int64_t>(cam.width) * 3 + 3) & ~int64_t{3};
        if (stride > INT_MAX || stride * cam.height > INT_MAX) throw std::bad_alloc();
        sourceWidth_ = cam.width;
        sourceHeight_ = cam.height;
        // The maps and the overlay layer are a function of the two records and the overlay picture:
        // when none of them changed since the last Init they are kept as they are.
        const InitKey key = initKey(*view);
        if (keyValid_ && key == key_) {
            ready_ = true;
            return;
        }
        keyValid_ = false;
        if (view->width != mapWidth_ || view->height != mapHeight_ || map_ == nullptr) {
            map_ = nullptr;
            mapWidth_ = mapHeight_ = 0;
            mapBlock_.release();
            map_ = mapBlock_.assign(view->height, 2 * view->width);
            mapWidth_ = view->width;
            mapHeight_ = view->height;
            // The picture and the overlay layer come zeroed when first needed: an engine that only
            // hands out its table (Save LUT) never has them.
            output_.reset();
            overlayLayer_.reset();
        }
        if (overlay_ && (flags_ & MZ_SV_OVERLAY)) {
            if (!overlayLayer_) overlayLayer_ = zeroedImage(mapWidth_, mapHeight_);
            SingleviewParam ground = *view;
            ground.overlayScale = kOverlayScale;
            overlayMap(overlay_->width, overlay_->height, map_, ground);
            mzRemap(overlay_.get(), overlayLayer_.get(), map_, MZ_REMAP_NEAREST, kBlack);
        }
        // Every row stands alone: half of them go to a second thread.
        inTwoHalves(view->height, [&](int first, int last) {
            viewModeMapRows(sourceWidth_, sourceHeight_, map_, *view, first, last);
        });
        samples_.clear();  // made again by the next Apply
        ready_ = true;
        key_ = key;
        keyValid_ = true;
    }

    void apply(const uint8_t* source, uint8_t* output) {
        if (map_ != nullptr && !output_) output_ = zeroedImage(mapWidth_, mapHeight_);
        if (ready_ && source != nullptr && sourceWidth_ > 0 && sourceHeight_ > 0) {
            // The remap through precomputed source offsets and weights, read straight from the
            // caller's picture: the same bytes as remapping a copy of it through the map.
            const Interp mode = (flags_ & MZ_REMAP_BICUBIC)    ? Interp::kBicubic
                                : (flags_ & MZ_REMAP_BILINEAR) ? Interp::kBilinear
                                                               : Interp::kNearest;
            const SourceSize size = {sourceWidth_, sourceHeight_};
            const std::size_t w = static_cast<std::size_t>(mapWidth_);
            if (samples_.empty()) {
                samples_.resize(w * static_cast<std::size_t>(mapHeight_));
                for (int r = 0; r < mapHeight_; ++r)
                    for (std::size_t c = 0; c < w; ++c) samples_[r * w + c] = makeSample(map_[r], mode, c, size);
            }
            for (int r = 0; r < mapHeight_; ++r)
                sampleRun(source, size.width, mode, &samples_[r * w], w, output_->rows[r]);
            if ((flags_ & MZ_SV_OVERLAY) && overlayLayer_) drawOverlay();
        }
        // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
        if (output != nullptr && output_ && view_ != nullptr && output_->width == view_->width &&
            output_->height == view_->height)
            copyOut(output_.get(), output);
    }

    void getLutLen(int* length) const {
        if (length != nullptr) *length = lutLength();
    }

    void getLut(void* buffer, int length) const {
        if (buffer == nullptr || map_ == nullptr || length != lutLength() || length == 0) return;
        makeBinViewRows(mapWidth_, mapHeight_, map_, static_cast<uint8_t*>(buffer), static_cast<int>(flags_ & 1u));
    }

    void saveLut(const char* path) const {
        if (path == nullptr || map_ == nullptr) return;
        saveMapText(path, mapWidth_, mapHeight_, map_);
    }

    void getFov(float* horizontal, float* vertical) const {
        if (map_ == nullptr || view_ == nullptr || view_->camera == nullptr) return;
        const CameraParam* cam = view_->camera;
        const float camW = static_cast<float>(cam->width), camH = static_cast<float>(cam->height);
        const int midRow = mapHeight_ / 2, midCol = mapWidth_ / 2;
        auto at = [&](int row, int col) { return Point2F{map_[row][2 * col], map_[row][2 * col + 1]}; };
        // Each scan stops at the first entry that qualifies, else keeps the last one it examined.
        Point2F left{}, right{}, top{}, bottom{};
        for (int j = 0; j < mapWidth_; ++j)
            if (left = at(midRow, j); left.x >= 0 && left.y >= 0) break;
        for (int j = mapWidth_ - 1; j >= 0; --j)
            if (right = at(midRow, j); right.x < camW && right.y >= 0) break;
        for (int i = 0; i < mapHeight_; ++i)
            if (top = at(i, midCol); top.x >= 0 && top.y >= 0) break;
        for (int i = mapHeight_ - 1; i >= 0; --i)
            if (bottom = at(i, midCol); bottom.x >= 0 && bottom.y < camH) break;
        float aLeft = 0, aRight = 0, aTop = 0, aBottom = 0;
        mzGetFOV(cam, left.x, left.y, &aLeft);
        mzGetFOV(cam, right.x, right.y, &aRight);
        mzGetFOV(cam, top.x, top.y, &aTop);
        mzGetFOV(cam, bottom.x, bottom.y, &aBottom);
        if (horizontal != nullptr) *horizontal = std::fabs(aLeft + aRight);
        if (vertical != nullptr) *vertical = std::fabs(aTop + aBottom);
    }

    void getMaskLen(int* length, int referenceWidth) {
        mask_.clear();
        if (length != nullptr) *length = 0;
        if (!overlay_ || !(flags_ & MZ_SV_OVERLAY) || view_ == nullptr) return;
        referenceWidth_ = static_cast<float>(referenceWidth);
        ImageBufferPtr scaled = scaledOverlay();
        if (!scaled) return;
        std::vector<uint8_t> indices(static_cast<std::size_t>(scaled->width) * scaled->height);
        quantise(*scaled, indices.data());
        // The code is as long as it needs to be: a busy overlay may take up to two bytes a pixel,
        // more than any fixed buffer sized for typical guide lines.
        osdRunLength(indices.data(), indices.size(), mask_);
        if (length != nullptr) *length = static_cast<int>(mask_.size());
    }

    void getMask(void* buffer, int length) const {
        if (buffer == nullptr || length != static_cast<int>(mask_.size())) return;
        if (!mask_.empty()) std::memcpy(buffer, mask_.data(), mask_.size());
    }

    void setImage(int width, int height, const uint8_t* image, int clear) {
        keyValid_ = false;  // the overlay layer is made again at the next Init
        if (clear != 0) {
            if (overlay_) clearRows(overlay_->rows, overlay_->height, static_cast<std::size_t>(overlay_->stride));
            return;
        }
        if (image == nullptr || width <= 0 || height <= 0) return;
        if (!sameSize(overlay_.get(), width, height)) overlay_ = zeroedImage(width, height);
        copyIn(overlay_.get(), image);
    }

    void saveImage(const char* path) {
        if (path == nullptr || !overlay_ || !(flags_ & MZ_SV_OVERLAY) || view_ == nullptr) return;
        ImageBufferPtr scaled = scaledOverlay();
        if (!scaled) return;
        saveBitmap(path, scaled.get());
    }

private:
    // The bytes of the view record and of its camera's record, pointers left out.
    using InitKey = std::array<unsigned char, sizeof(SingleviewParam) + sizeof(CameraParam)>;
    static InitKey initKey(const SingleviewParam& view) {
        InitKey key{};
        std::memcpy(key.data(), &view, sizeof view);
        std::memcpy(key.data() + sizeof view, view.camera, sizeof(CameraParam));
        auto clear = [&](std::size_t offset) { std::memset(key.data() + offset, 0, sizeof(void*)); };
        clear(offsetof(SingleviewParam, camera));
        clear(sizeof view + offsetof(CameraParam, imagePoints));
        clear(sizeof view + offsetof(CameraParam, worldPoints));
        return key;
    }

    int lutLength() const { return map_ == nullptr ? 0 : mapWidth_ * mapHeight_ * 4; }

    static void copyIn(ImageBuffer* image, const uint8_t* data) {
        const std::size_t bytes = MZ_ROW_STRIDE24(static_cast<std::size_t>(image->width));
        for (int i = 0; i < image->height; ++i) std::memcpy(image->rows[i], data + bytes * i, bytes);
    }

    static void copyOut(const ImageBuffer* image, uint8_t* data) {
        const std::size_t bytes = MZ_ROW_STRIDE24(static_cast<std::size_t>(image->width));
        for (int i = 0; i < image->height; ++i) std::memcpy(data + bytes * i, image->rows[i], bytes);
    }

    // Black overlay pixels are transparent.
    void drawOverlay() {
        for (int i = 0; i < output_->height; ++i) {
            const uint8_t* s = overlayLayer_->rows[i];
            uint8_t* d = output_->rows[i];
            for (int j = 0; j < output_->width * 3; j += 3)
                if (s[j] != 0 || s[j + 1] != 0 || s[j + 2] != 0) {
                    d[j] = s[j];
                    d[j + 1] = s[j + 1];
                    d[j + 2] = s[j + 2];
                }
        }
    }

    // The overlay as the display shows it: the view squeezed to the OSD's 720 columns for the
    // stored reference width. The caller's record is left alone except for its centre, which the
    // display unit's tool has always left at the middle of the view afterwards.
    ImageBufferPtr scaledOverlay() {
        int width = 0;
        if (!roundToInt(static_cast<float>(view_->width) * kOsdWidth / referenceWidth_, &width) || width <= 0)
            return nullptr;
        SingleviewParam osd = *view_;
        osd.overlayScale = kOverlayScale;
        osd.width = width;
        osd.centreX = static_cast<float>(width) * 0.5f;
        osd.scaleX = view_->scaleX * kOsdWidth / referenceWidth_;
        FloatRows map(view_->height, width);
        overlayMap(overlay_->width, overlay_->height, map.rows, osd);
        ImageBufferPtr scaled = zeroedImage(width, view_->height);
        mzRemap(overlay_.get(), scaled.get(), map.rows, MZ_REMAP_NEAREST, kBlack);
        view_->centreX = static_cast<float>(view_->width) * 0.5f;
        return scaled;
    }

    // Overlays hold few colours: each distinct colour is matched against the palette once.
    static void quantise(const ImageBuffer& image, uint8_t* out) {
        std::unordered_map<uint32_t, uint8_t> seen;
        for (int i = 0; i < image.height; ++i) {
            const uint8_t* p = image.rows[i];
            for (int j = 0; j < image.width; ++j, p += 3) {
                const uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
                auto it = seen.find(key);
                if (it == seen.end()) it = seen.emplace(key, osdPaletteIndex(p[0], p[1], p[2])).first;
                *out++ = it->second;
            }
        }
    }

    bool ready_ = false;
    uint32_t flags_ = 0;
    SingleviewParam* view_ = nullptr;
    int sourceWidth_ = 0, sourceHeight_ = 0;  // of the camera picture Apply reads
    std::vector<Sample> samples_;             // per view pixel, where Apply reads; empty until needed
    ImageBufferPtr output_;
    ImageBufferPtr overlay_;
    ImageBufferPtr overlayLayer_;
    std::vector<uint8_t> mask_;
    InitKey key_{};
    bool keyValid_ = false;  // map_ and overlayLayer_ are what an Init with key_ makes
    FloatRowBlock mapBlock_;
    float** map_ = nullptr;  // the rows of mapBlock_
    int mapWidth_ = 0;
    int mapHeight_ = 0;
    float referenceWidth_ = kDefaultReferenceWidth;
};

ViewHandle createSingleview() { return createView<SingleView>(&kSingleviewOps); }

}  // namespace

const OsdColour* osdPalette() {
    static const Palette palette;
    return palette.entries;
}

uint8_t osdPaletteIndex(uint8_t blue, uint8_t green, uint8_t red) {
    const OsdColour* palette = osdPalette();
    int best = 0;
    int bestDistance = 1 << 30;
    for (int k = 0; k < 256; ++k) {
        const int dr = red - palette[k].r, dg = green - palette[k].g, db = blue - palette[k].b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return static_cast<uint8_t>(best);
}

void osdRunLength(const uint8_t* indices, std::size_t count, std::vector<uint8_t>& out) {
    std::size_t i = 0;
    while (i < count) {
        const uint8_t value = indices[i];
        std::size_t repeats = 0;
        while (repeats < 255 && i + 1 + repeats < count && indices[i + 1 + repeats] == value) ++repeats;
        out.push_back(value);
        out.push_back(static_cast<uint8_t>(repeats));
        i += 1 + repeats;
    }
}

const ViewOps kSingleviewOps = {{
    toSlot(&createSingleview),
    toSlot(&viewOp<SingleView, &SingleView::init, SingleviewParam*>),
    toSlot(&viewOp<SingleView, &SingleView::apply, const uint8_t*, uint8_t*>),
    toSlot(&viewOp<SingleView, &SingleView::getLutLen, int*>),
    toSlot(&viewOp<SingleView, &SingleView::getLut, void*, int>),
    toSlot(&viewOp<SingleView, &SingleView::saveLut, const char*>),
    toSlot(&viewOp<SingleView, &SingleView::getFov, float*, float*>),
    toSlot(&viewOp<SingleView, &SingleView::getMaskLen, int*, int>),
    toSlot(&viewOp<SingleView, &SingleView::getMask, void*, int>),
    toSlot(&viewOp<SingleView, &SingleView::setImage, int, int, const uint8_t*, int>),
    toSlot(&viewOp<SingleView, &SingleView::saveImage, const char*>),
    toSlot(&releaseView<SingleView>),
}};

}  // namespace mz
