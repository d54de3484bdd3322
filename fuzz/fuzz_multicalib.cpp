// mzMultiCalibApply on arbitrary point sets and camera records, then the picture-to-floor map.
#include <cstdint>

#include "mz/mzcalib.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mzfuzz::Input in(data, size);
    const int32_t shape = in.take<int32_t>();
    const int32_t markerSize = in.take<int32_t>();
    CalibAdjust adjust{};
    const bool withAdjust = in.take<uint8_t>() & 1;
    if (withAdjust) in.bytes(&adjust, sizeof adjust);
    CameraParam cams[4]{};
    Point2F image[4][6] = {}, world[4][6] = {};
    for (int c = 0; c < 4; ++c) {
        mzfuzz::readCamera(in, cams[c], image[c], world[c], 4096, 4096);
        in.bytes(image[c], sizeof image[c]);
    }
    CalibHandle* handle = mzMultiCalibCreate(0);
    if (!handle) __builtin_trap();
    mzMultiCalibInit(handle, shape, markerSize, 0);
    const int32_t result = mzMultiCalibApply(handle, cams, withAdjust ? &adjust : nullptr);
    if (result < -5 || result > 0) __builtin_trap();
    for (int c = 0; c < 4; ++c) {
        const Point2F pixel = image[c][0];
        Point2F ground{};
        mzMultiCalibGetImage2World(handle, &pixel, &ground, c);
    }
    if (mzMultiCalibRelease(&handle) != 0 || handle) __builtin_trap();
    return 0;
}
