// The view engines (single view; stitched kinds 0, 1 and 2) on arbitrary records within small
// sizes: Init, Apply, the tables, the masks, the vehicle picture and the pose adjustment. Every
// buffer is sized from the engine's own length operations, as callers do.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "mz/mzview.h"
#include "records.h"

namespace {

size_t pictureBytes(int width, int height) {
    return static_cast<size_t>(MZ_ROW_STRIDE24(width)) * static_cast<size_t>(height);
}

std::vector<uint8_t> sized(int length) { return std::vector<uint8_t>(static_cast<size_t>(std::max(length, 1))); }

void stitched(mzfuzz::Input& in, unsigned kind) {
    CameraParam cams[5]{};
    Point2F image[5][6] = {}, world[5][6] = {};
    for (int c = 0; c < 5; ++c) {
        mzfuzz::readCamera(in, cams[c], image[c], world[c], 96, 64);
        in.bytes(image[c], sizeof image[c]);
        in.bytes(world[c], sizeof world[c]);
        cams[c].pointCount = std::clamp(cams[c].pointCount, 0, 6);
    }
    MultiviewParam mv{};
    in.bytes(&mv, offsetof(MultiviewParam, cameras));
    mv.width = 1 + static_cast<int32_t>(static_cast<uint32_t>(mv.width) % 128u);
    mv.height = 1 + static_cast<int32_t>(static_cast<uint32_t>(mv.height) % 96u);
    mv.cameras = cams;

    ViewHandle h = mzMultiviewCreate(kind);
    if (!h) __builtin_trap();
    mzMultiviewInit(h, &mv);
    // Every camera picture has the front camera's size, as the workflow makes sure (the engines
    // take the size from the front camera); the output holds either orientation.
    std::vector<std::vector<uint8_t>> src;
    for (int c = 0; c < 4; ++c) src.push_back(in.picture(pictureBytes(cams[0].width, cams[0].height)));
    std::vector<uint8_t> out(std::max(pictureBytes(mv.width, mv.height), pictureBytes(mv.height, mv.width)));
    mzMultiviewApply(h, src[0].data(), src[2].data(), src[3].data(), src[1].data(), out.data());
    for (int c = 0; c < 4; ++c) {
        int n = 0;
        mzMultiviewGetLUTLen(h, &n, c);
        auto lut = sized(n);
        mzMultiviewGetLUT(h, lut.data(), n, c);
    }
    for (int format = 0; format < 4; ++format) {
        int n = 0;
        mzMultiviewGetMaskLen(h, &n, format);
        auto mask = sized(n);
        mzMultiviewGetMask(h, mask.data(), n, format);
    }
    const std::vector<uint8_t> car = in.picture(pictureBytes(mv.width, mv.height));
    const int x = in.range(-200, 200), y = in.range(-200, 200), w = in.range(0, 200), hh = in.range(0, 200);
    const unsigned mode = in.range(0, 2) == 0 ? MZ_MV_IMAGE_COPY : static_cast<unsigned>(in.range(0, 8));
    mzMultiviewSetImage(h, mv.width, mv.height, car.data(), mode, x, y, w, hh);
    float delta[6];
    in.bytes(delta, sizeof delta);
    mzMultiviewAdjustCameraPose(h, &mv, delta, in.range(-1, 4));
    mzMultiviewApply(h, src[0].data(), nullptr, src[3].data(), nullptr, out.data());
    if (mzMultiviewRelease(&h) != 0 || h) __builtin_trap();
}

void single(mzfuzz::Input& in) {
    CameraParam cam{};
    Point2F image[6] = {}, world[6] = {};
    mzfuzz::readCamera(in, cam, image, world, 96, 64);
    in.bytes(image, sizeof image);
    in.bytes(world, sizeof world);
    cam.pointCount = std::clamp(cam.pointCount, 0, 6);
    SingleviewParam sv{};
    in.bytes(&sv, offsetof(SingleviewParam, camera));
    sv.width = 1 + static_cast<int32_t>(static_cast<uint32_t>(sv.width) % 128u);
    sv.height = 1 + static_cast<int32_t>(static_cast<uint32_t>(sv.height) % 96u);
    sv.camera = &cam;
    sv.vehicleWidth = in.take<int32_t>();
    sv.vehicleLength = in.take<int32_t>();

    ViewHandle h = mzSingleviewCreate(0);
    if (!h) __builtin_trap();
    const int ow = in.range(1, 48), oh = in.range(1, 32);
    const std::vector<uint8_t> overlay = in.picture(pictureBytes(ow, oh));
    mzSingleviewSetImage(h, ow, oh, overlay.data(), in.range(0, 3) == 0);
    mzSingleviewInit(h, &sv);
    const std::vector<uint8_t> src = in.picture(pictureBytes(cam.width, cam.height));
    std::vector<uint8_t> out(pictureBytes(sv.width, sv.height));
    mzSingleviewApply(h, src.data(), out.data());
    int n = 0;
    mzSingleviewGetLUTLen(h, &n);
    auto lut = sized(n);
    mzSingleviewGetLUT(h, lut.data(), n);
    mzSingleviewGetMaskLen(h, &n, in.range(-10, 1000));
    auto mask = sized(n);
    mzSingleviewGetMask(h, mask.data(), n);
    float horizontal = 0, vertical = 0;
    mzSingleviewGetFOV(h, &horizontal, &vertical);
    if (mzSingleviewRelease(&h) != 0 || h) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mzfuzz::Input in(data, size);
    const unsigned kind = in.take<uint8_t>() % 4u;
    if (kind == 3) single(in);
    else stitched(in, kind);
    return 0;
}
