// Handles and the exported forwarding, top-view parameters and the table source limit.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mz/mzview.h"

namespace {

TEST(ViewHandles, OnlyKnownKindsCanBeCreated) {
    EXPECT_EQ(nullptr, mzSingleviewCreate(1));
    EXPECT_EQ(nullptr, mzSingleviewCreate(-1));
    EXPECT_EQ(nullptr, mzMultiviewCreate(3));
    // The two bowl views share every slot but create, Init, Apply and SetImage.
    ViewHandle bowl1 = mzMultiviewCreate(1);
    ViewHandle bowl2 = mzMultiviewCreate(2);
    ASSERT_NE(nullptr, bowl1);
    ASSERT_NE(nullptr, bowl2);
    EXPECT_NE(nullptr, bowl2->engine);
    EXPECT_EQ(bowl1->ops->slot[MZ_OP_GET_LUT], bowl2->ops->slot[MZ_OP_GET_LUT]);
    EXPECT_NE(bowl1->ops->slot[MZ_OP_CREATE], bowl2->ops->slot[MZ_OP_CREATE]);
    EXPECT_EQ(0, mzMultiviewRelease(&bowl1));
    EXPECT_EQ(0, mzMultiviewRelease(&bowl2));
    ViewHandle single = mzSingleviewCreate(0);
    ViewHandle multi = mzMultiviewCreate(0);
    ASSERT_NE(nullptr, single);
    ASSERT_NE(nullptr, multi);
    EXPECT_NE(nullptr, single->engine);
    EXPECT_NE(single->ops, multi->ops);
    EXPECT_EQ(0, mzSingleviewRelease(&single));
    EXPECT_EQ(nullptr, single);
    EXPECT_EQ(0, mzSingleviewRelease(&single));  // a second release does nothing
    EXPECT_EQ(0, mzMultiviewRelease(&multi));
    EXPECT_EQ(nullptr, multi);
    EXPECT_EQ(0, mzMultiviewRelease(nullptr));
}

TEST(ViewHandles, NullHandleGivesMinusOneExceptGetFov) {
    int len = 0;
    float h = 0, v = 0;
    EXPECT_EQ(-1, mzSingleviewGetLUTLen(nullptr, &len));
    EXPECT_EQ(0, mzSingleviewGetFOV(nullptr, &h, &v));
    EXPECT_EQ(-1, mzMultiviewGetMaskLen(nullptr, &len, 0));
    EXPECT_EQ(-1, mzMultiviewAdjustCameraPose(nullptr, nullptr, nullptr, 0));
}

TEST(ViewHandles, MissingTableSlotOrEngine) {
    ViewOps empty = {};
    ViewHandleRec noOps = {nullptr, nullptr};
    ViewHandleRec emptySlots = {&empty, nullptr};
    int len = 0;
    EXPECT_EQ(-1, mzMultiviewGetLUTLen(&noOps, &len, 0));
    EXPECT_EQ(-1, mzSingleviewGetLUTLen(&emptySlots, &len));
    float h = 0, v = 0;
    EXPECT_EQ(0, mzSingleviewGetFOV(&emptySlots, &h, &v));
    ViewHandle handle = &noOps;
    EXPECT_EQ(-1, mzMultiviewRelease(&handle));
    EXPECT_EQ(&noOps, handle);

    // A live table with no engine: every operation reports -1, release still frees the handle.
    ViewHandle single = mzSingleviewCreate(0);
    ViewHandle multi = mzMultiviewCreate(0);
    ASSERT_NE(nullptr, single);
    ASSERT_NE(nullptr, multi);
    // Swap the engines out for the test, and back for the release.
    void* e1 = single->engine;
    void* e2 = multi->engine;
    single->engine = nullptr;
    multi->engine = nullptr;
    EXPECT_EQ(-1, mzSingleviewGetLUTLen(single, &len));
    EXPECT_EQ(-1, mzSingleviewGetFOV(single, &h, &v));
    EXPECT_EQ(-1, mzMultiviewGetMaskLen(multi, &len, 0));
    EXPECT_EQ(-1, mzMultiviewAdjustCameraPose(multi, nullptr, nullptr, 0));
    single->engine = e1;
    multi->engine = e2;
    EXPECT_EQ(0, mzSingleviewRelease(&single));
    EXPECT_EQ(0, mzMultiviewRelease(&multi));
}

TEST(LutSourceLimit, SixteenBitEntriesAddressAtMost1024By2048) {
    EXPECT_EQ(0, mzCheckLUTSourceSize(720, 480));
    EXPECT_EQ(0, mzCheckLUTSourceSize(1024, 2048));
    EXPECT_EQ(-1, mzCheckLUTSourceSize(1025, 480));
    EXPECT_EQ(-1, mzCheckLUTSourceSize(1024, 2049));
    EXPECT_EQ(-1, mzCheckLUTSourceSize(0, 480));
}

// ---- top-view parameters ----

std::vector<int> rects(void (*make)(MultiviewParam*, void*, int*), MultiviewParam& p, int* length) {
    uint8_t out[80];
    std::memset(out, 0xEE, sizeof out);
    make(&p, out, length);
    EXPECT_EQ(0xEE, out[72]);
    std::vector<int> v(36);
    for (int i = 0; i < 36; ++i) v[i] = out[2 * i] | out[2 * i + 1] << 8;
    return v;
}

MultiviewParam param(int w, int h, float cx, float cy) {
    MultiviewParam p{};
    p.vehicleWidth = 1800;
    p.vehicleLength = 4600;
    p.width = w;
    p.height = h;
    p.centreX = cx;
    p.centreY = cy;
    p.mmPerPixel = 20;
    return p;
}

TEST(TopviewParam, WorkedExample) {
    MultiviewParam p = param(400, 600, 200, 300);
    int length = 0;
    const std::vector<int> v = rects(mzMakeTopviewParam, p, &length);
    EXPECT_EQ(72, length);
    // L 156, R 248, T 184, B 416, halved.
    const std::vector<int> expected = {78, 0,  46,  92,  0,  0,  78,  92, 0,  92,  78,  116, 0,  208, 78, 92, 78, 208,
                                       46, 92, 124, 208, 76, 92, 124, 92, 76, 116, 124, 0,   76, 92,  78, 92, 46, 116};
    EXPECT_EQ(expected, v);
}

TEST(TopviewParam, FullVariantLaysTheVehicleAcross) {
    // The same vehicle with its front to the left in a 600 x 400 view centred at (300, 200):
    // carL 232 across, carW 92 down; left = 184, bottom = round(200 + 46) = 246 -> 248.
    MultiviewParam p = param(600, 400, 300, 200);
    const std::vector<int> v = rects(mzMakeFullTopviewParam, p, nullptr);
    const int L = 184 / 2, R = 416 / 2, T = 156 / 2, B = 248 / 2;
    EXPECT_EQ((std::vector<int>{0, T, L, B - T}), std::vector<int>(v.begin(), v.begin() + 4));              // front
    EXPECT_EQ((std::vector<int>{L, T, R - L, B - T}), std::vector<int>(v.begin() + 32, v.end()));           // vehicle
    EXPECT_EQ((std::vector<int>{R, T, 300 - R, B - T}), std::vector<int>(v.begin() + 16, v.begin() + 20));  // rear
}

TEST(TopviewParam, RectangleBeyondTheViewIsClamped) {
    // Centre near the left edge: L clamps to 0, the left-hand rectangles have no width.
    MultiviewParam p = param(400, 600, 20, 300);
    const std::vector<int> v = rects(mzMakeTopviewParam, p, nullptr);
    EXPECT_EQ(0, v[4 + 2]);  // front-left corner width
    EXPECT_EQ(0, v[8 + 2]);  // left side width
    EXPECT_EQ(0, v[32]);     // vehicle x
    // left = -26 with remainder -2 gets 4 - (-2) added: -20, so the vehicle ends at 72.
    EXPECT_EQ(72 / 2, v[34]);
}

}  // namespace
