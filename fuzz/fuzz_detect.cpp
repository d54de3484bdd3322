// mzDetectCorner and mzDetectMarker on small pictures with arbitrary camera records, layout codes
// and search rectangles.
#include <cstdint>
#include <vector>

#include "mz/mzview.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mzfuzz::Input in(data, size);
    const uint8_t mode = in.take<uint8_t>();
    CameraParam cam{};
    Point2F image[MZ_DETECT_POINT_CAPACITY] = {}, world[MZ_DETECT_POINT_CAPACITY] = {};
    mzfuzz::readCamera(in, cam, image, world, 240, 160);
    const int layout = static_cast<int>(in.take<int8_t>() % 6) - 1;  // -1 .. 4: also invalid codes
    int32_t rectangles[8];
    in.bytes(rectangles, sizeof rectangles);
    const auto picture = in.picture(static_cast<size_t>(cam.width) * cam.height * 3);
    if (mode & 1) {
        const int result = mzDetectMarker(picture.data(), &cam, layout, (mode & 2) ? rectangles : nullptr);
        if (result != 1 && result != -1 && result != 0) __builtin_trap();
    } else {
        const int result = mzDetectCorner(picture.data(), &cam, layout);
        if (result != 0 && result != -1) __builtin_trap();
    }
    return 0;
}
