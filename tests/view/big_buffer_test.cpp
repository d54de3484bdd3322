// The engines' pooled storage: a handle made from blocks another handle left behind (here filled
// with garbage on purpose) gives the bytes of one made from fresh memory.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/big_buffer.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Everything a top view hands out after a fresh Init: the stitched picture, the four tables and
// the mask.
std::vector<uint8_t> topViewBytes(mztest::ViewRig& rig) {
    const std::vector<uint8_t> pictures[4] = {mztest::noisePicture(720, 480, 1), mztest::noisePicture(720, 480, 2),
                                              mztest::noisePicture(720, 480, 3), mztest::noisePicture(720, 480, 4)};
    ViewHandle h = mzMultiviewCreate(0);
    EXPECT_EQ(0, mzMultiviewInit(h, &rig.param));
    std::vector<uint8_t> out(static_cast<std::size_t>(MZ_ROW_STRIDE24(rig.param.width)) * rig.param.height);
    EXPECT_EQ(0, mzMultiviewApply(h, pictures[0].data(), pictures[2].data(), pictures[3].data(), pictures[1].data(),
                                  out.data()));
    for (int c = 0; c < 4; ++c) {
        int length = 0;
        mzMultiviewGetLUTLen(h, &length, c);
        std::vector<uint8_t> lut(static_cast<std::size_t>(length));
        mzMultiviewGetLUT(h, lut.data(), length, c);
        out.insert(out.end(), lut.begin(), lut.end());
    }
    int length = 0;
    mzMultiviewGetMaskLen(h, &length, 0);
    std::vector<uint8_t> mask(static_cast<std::size_t>(length));
    mzMultiviewGetMask(h, mask.data(), length, 0);
    out.insert(out.end(), mask.begin(), mask.end());
    mzMultiviewRelease(&h);
    return out;
}

std::vector<uint8_t> singleViewBytes(mztest::ViewRig& rig) {
    SingleviewParam v{};
    v.flags = MZ_SV_BILINEAR | MZ_SV_LENS;
    v.scaleX = v.scaleY = 1.2f;
    v.width = 800;
    v.height = 480;
    v.centreX = 400;
    v.centreY = 240;
    v.overlayScale = 10;
    v.camera = &rig.cameras[1];
    v.vehicleLength = 4600;
    const std::vector<uint8_t> picture = mztest::noisePicture(720, 480, 5);
    ViewHandle h = mzSingleviewCreate(0);
    EXPECT_EQ(0, mzSingleviewInit(h, &v));
    std::vector<uint8_t> out(static_cast<std::size_t>(MZ_ROW_STRIDE24(v.width)) * v.height);
    EXPECT_EQ(0, mzSingleviewApply(h, picture.data(), out.data()));
    int length = 0;
    mzSingleviewGetLUTLen(h, &length);
    std::vector<uint8_t> lut(static_cast<std::size_t>(length));
    mzSingleviewGetLUT(h, lut.data(), length);
    out.insert(out.end(), lut.begin(), lut.end());
    mzSingleviewRelease(&h);
    return out;
}

// Pool blocks of every size these engines ask for, each full of 0xFF (NaN as a float).
void poisonPool() {
    std::vector<std::pair<void*, std::size_t>> blocks;
    for (const std::size_t bytes : {2 * kMiB, 4 * kMiB})
        for (int i = 0; i < 10; ++i) {
            void* b = mz::takeBlock(bytes);
            std::memset(b, 0xFF, bytes);
            blocks.push_back({b, bytes});
        }
    for (const auto& [b, bytes] : blocks) mz::giveBlock(b, bytes);
}

TEST(PooledStorage, AHandleOnAnotherHandlesGarbageGivesTheFreshBytes) {
    // 640 x 400: every map is one 2 MB block, the pictures one each too.
    auto rig = mztest::makeViewRig(640, 400, 24.0f, MZ_MV_BILINEAR, 0);
    auto turned = mztest::makeViewRig(640, 400, 24.0f, MZ_MV_BILINEAR | MZ_MV_ROTATED, 2);
    mz::emptyPool();
    const std::vector<uint8_t> top = topViewBytes(*rig), topTurned = topViewBytes(*turned);
    const std::vector<uint8_t> single = singleViewBytes(*rig);

    mz::emptyPool();
    poisonPool();
    ASSERT_EQ(60 * kMiB, mz::pooledBytes());
    EXPECT_EQ(top, topViewBytes(*rig));
    poisonPool();
    EXPECT_EQ(topTurned, topViewBytes(*turned));
    poisonPool();
    EXPECT_EQ(single, singleViewBytes(*rig));
    mz::emptyPool();
}

TEST(PooledStorage, HoldsABoundedAmount) {
    mz::emptyPool();
    std::vector<void*> blocks;
    for (int i = 0; i < 100; ++i) blocks.push_back(mz::takeBlock(4 * kMiB));
    for (void* b : blocks) mz::giveBlock(b, 4 * kMiB);
    EXPECT_GT(mz::pooledBytes(), 0u);
    EXPECT_LE(mz::pooledBytes(), 200 * kMiB);
    mz::emptyPool();
}

}  // namespace
