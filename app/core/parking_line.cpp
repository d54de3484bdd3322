#include "app/core/parking_line.h"

#include <optional>
#include <string>

#include "mz/mzview.h"

namespace mz::core {

void ParkingLine::assist() {
    PreviewContext& context = views_.context();
    const bool overlayView =
        !views_.stitchedShown() && context.singleParam && (context.singleParam->flags & MZ_SV_OVERLAY);
    if (!overlayView) {
        confirmed_ = false;
        // The button is open on a stitched view with parking guides: say where it works instead.
        if (views_.stitchedShown()) ui_.showMessage(kParkingLineOnStitched, kAppTitle, MessageIcon::kInformation);
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
    if (context.singleHandle) {
        mzSingleviewSetImage(context.singleHandle, picture->width, picture->height, picture->pixels.data(), 0);
        mzSingleviewInit(context.singleHandle, context.singleParam);
    }
    views_.rebuildCurrent();
}

}  // namespace mz::core
