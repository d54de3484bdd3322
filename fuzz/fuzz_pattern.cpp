// mzGetPatternIP on small pictures with arbitrary camera records and search rectangles.
#include <cstdint>
#include <vector>

#include "mz/mzpattern.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mzfuzz::Input in(data, size);
    CameraParam cam{};
    Point2F image[6] = {}, world[6] = {};
    mzfuzz::readCamera(in, cam, image, world, 192, 128);
    int32_t rectangles[8];
    in.bytes(rectangles, sizeof rectangles);
    in.bytes(image, sizeof image);
    const auto picture = in.picture(static_cast<size_t>(cam.width) * cam.height * 3);
    const int32_t result = mzGetPatternIP(picture.data(), &cam, rectangles);
    if (result != 0 && result != -1) __builtin_trap();
    return 0;
}
