#include "app/core/car_picture.h"

#include <string>

#include "mz/mzview.h"

namespace mz::core {

void CarPicture::giveConfiguredImage(int slot) {
    if (slot < 0 || slot >= kMultiviewSlots) return;
    ViewHandle handle = state_.multiviewHandles[slot];
    const MultiviewParam& mv = state_.multiviews[slot];
    if (handle && state_.hasCarImage[slot]) {
        mzMultiviewSetImage(handle, mv.width, mv.height, state_.carImages[slot].data(), MZ_MV_IMAGE_COPY, 0, 0, 0, 0);
    }
}

void CarPicture::load() {
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
    placed_ = PlacedCarPicture{std::move(*picture), 0, 0, w, h};
    if (ViewHandle handle = views_.context().stitchedHandle) {
        mzMultiviewSetImage(handle, 0, 0, nullptr, MZ_MV_IMAGE_CLEAR, 0, 0, 0, 0);
    }
    views_.rebuild(kStitchedViewType);
    ui_.previewStateChanged();
}

void CarPicture::place(int left, int top, int width, int height) {
    if (!placed_) return;
    placed_->left = left;
    placed_->top = top;
    placed_->width = width;
    placed_->height = height;
}

void CarPicture::remove() {
    placed_.reset();
    ui_.previewStateChanged();
}

void CarPicture::apply() {
    if (!placed_ || placed_->picture.pixels.empty()) {
        ui_.showMessage("Please select the car image. !!", kAppTitle, MessageIcon::kWarning);
    } else {
        const PlacedCarPicture& car = *placed_;
        if (ViewHandle handle = views_.context().stitchedHandle) {
            mzMultiviewSetImage(handle, car.picture.width, car.picture.height, car.picture.pixels.data(), 0, car.left,
                                car.top, car.width, car.height);
        }
        views_.rebuild(kStitchedViewType);
    }
    placed_.reset();
    ui_.previewStateChanged();
}

}  // namespace mz::core
