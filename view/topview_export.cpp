// The top view's exports: the display unit's look-up tables and masks, and the text and bitmap
// dumps, all in output orientation except the text table (working orientation).
#include <cstring>
#include <vector>

#include "mz/mzview.h"
#include "view/bin_tables.h"
#include "view/dump_files.h"
#include "view/topview_engine.h"

namespace mz {

void TopView::getLutLen(int* length, int /*camera: every camera's table has the same size*/) const {
    if (length != nullptr) *length = lutLength();
}

void TopView::getLut(void* buffer, int length, int camera) {
    if (buffer == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
    if (length != lutLength()) return;
    ensureMaps();
    // Straight from the map: output (x, y) is working (x, y), or working (Wk - 1 - y, x) turned.
    const float* map = maps_[camera].data();
    const std::ptrdiff_t wk = workWidth_;
    if (rotated_)
        makeBinViewStrided(outWidth(), outHeight(), map + 2 * (wk - 1), wk, -1, static_cast<uint8_t*>(buffer),
                           static_cast<int>(flags_ & 1u));
    else
        makeBinViewStrided(outWidth(), outHeight(), map, 1, wk, static_cast<uint8_t*>(buffer),
                           static_cast<int>(flags_ & 1u));
}

void TopView::saveLut(const char* path, int camera) {
    if (path == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
    ensureMaps();
    std::vector<const float*> rows(static_cast<std::size_t>(workHeight_));
    for (int r = 0; r < workHeight_; ++r) rows[r] = &maps_[camera][2 * static_cast<std::size_t>(r) * workWidth_];
    saveMapText(path, workWidth_, workHeight_, rows.data());
}

int TopView::maskLength(int format) const {
    if (blend_.empty()) return 0;
    const int w = outWidth(), h = outHeight();
    switch (format) {
    case 0:
    case 2: return w * h * 2;
    case 1: return w * h * 4;
    case 3: return static_cast<int>(rowBytes(w)) * h;
    default: return 0;
    }
}

void TopView::getMaskLen(int* length, int format) const {
    if (length != nullptr) *length = maskLength(format);
}

// Written only when the caller's length is the one GetMaskLen reports: the builders trust
// their buffer to be that large.
void TopView::getMask(void* buffer, int length, int format) const {
    const int expected = maskLength(format);
    if (buffer == nullptr || expected == 0 || length != expected) return;
    const std::vector<uint8_t> image = blendOutput();
    auto* dst = static_cast<uint8_t*>(buffer);
    const int w = outWidth(), h = outHeight();
    switch (format) {
    case 0: mzMakeBinMaskRGB16(w, h, image.data(), dst, nullptr); break;
    case 1: mzMakeBinMaskRGB32(w, h, image.data(), dst, nullptr); break;
    case 2: mzMakeBinMaskYCbCr(w, h, image.data(), dst, nullptr); break;
    case 3: mzMakeBinMaskRGB24(w, h, image.data(), dst, nullptr); break;
    default: break;
    }
}

// The stitching map in output orientation, rows padded as a 24-bit mask image.
std::vector<uint8_t> TopView::blendOutput() const {
    const int w = outWidth(), h = outHeight();
    const std::size_t stride = rowBytes(w);
    std::vector<uint8_t> image(stride * h, 0);
    std::size_t i = 0;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c, ++i) std::memcpy(&image[r * stride + 3 * c], &blend_[3 * workIndex(i)], 3);
    return image;
}

void TopView::saveImage(const char* path) const {
    if (path == nullptr || blend_.empty()) return;
    const std::vector<uint8_t> image = blendOutput();
    ImageBufferPtr buffer(createImageBuffer(3, outWidth(), outHeight()));
    if (!buffer) return;
    const std::size_t stride = rowBytes(outWidth());
    for (int r = 0; r < outHeight(); ++r) std::memcpy(buffer->rows[r], &image[r * stride], stride);
    saveBitmap(path, buffer.get());
}

}  // namespace mz
