// The exported interface of mzcalib on synthetic bays; accuracy is measured on the simulator's
// bays (sim_bay_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "mz/mzcalib.h"
#include "tests/calib/rig_metrics.h"
#include "testing/synthetic_rig.h"

namespace mz::calib::test {

using mztest::makeRig;
using mztest::SyntheticRig;
using mztest::SyntheticRigOptions;
using mztest::TruePose;
namespace {

struct Handle {
    CalibHandle* h = mzMultiCalibCreate(0);
    Handle(int shape = 0, int size = 1000) { mzMultiCalibInit(h, shape, size, 0); }
    ~Handle() { mzMultiCalibRelease(&h); }
};

std::array<PoseTruth, 4> truthOf(const SyntheticRig& rig) {
    std::array<PoseTruth, 4> t{};
    for (int k = 0; k < 4; ++k) {
        const TruePose& p = rig.truth[k];
        t[k] = {p.x, p.y, p.height, p.tilt, p.roll, p.heading};
    }
    return t;
}

bool allFinite(const SyntheticRig& rig) {
    for (int k = 0; k < 4; ++k) {
        const CameraParam& c = rig.cameras[k];
        for (float v : {c.posX, c.posY, c.posZ, c.rotX, c.rotY, c.rotZ}) {
            if (!std::isfinite(v)) return false;
        }
        for (const Point2F& p : rig.world[k]) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
        }
    }
    return true;
}

TEST(CalibHandle, LifecycleAndResultCodes) {
    EXPECT_EQ(mzMultiCalibCreate(1), nullptr);
    EXPECT_EQ(mzMultiCalibCreate(-1), nullptr);
    EXPECT_EQ(mzMultiCalibInit(nullptr, 0, 1000, 0), -1);
    EXPECT_EQ(mzMultiCalibApply(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(mzMultiCalibGetMarker(nullptr), -1);
    Point2F px{360, 240}, ground{};
    EXPECT_EQ(mzMultiCalibGetImage2World(nullptr, &px, &ground, 0), -1);

    CalibHandle* h = mzMultiCalibCreate(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mzMultiCalibInit(h, 0, 1000, 42), 0);
    EXPECT_EQ(mzMultiCalibGetMarker(h), -9);
    EXPECT_EQ(mzMultiCalibGetImage2World(h, &px, &ground, 3), 0);
    EXPECT_EQ(mzMultiCalibGetImage2World(h, &px, &ground, 4), -1);
    EXPECT_EQ(mzMultiCalibGetImage2World(h, &px, &ground, -1), -1);
    EXPECT_EQ(mzMultiCalibGetImage2World(h, nullptr, &ground, 0), -5);
    EXPECT_EQ(mzMultiCalibApply(h, nullptr, nullptr), -5);

    // A handle whose state is gone answers -1 everywhere.
    CalibState* state = h->state;
    h->state = nullptr;
    EXPECT_EQ(mzMultiCalibInit(h, 0, 1000, 0), -1);
    EXPECT_EQ(mzMultiCalibApply(h, nullptr, nullptr), -1);
    EXPECT_EQ(mzMultiCalibGetMarker(h), -1);
    EXPECT_EQ(mzMultiCalibGetImage2World(h, &px, &ground, 0), -1);
    h->state = state;

    EXPECT_EQ(mzMultiCalibRelease(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(mzMultiCalibRelease(&h), 0);
    EXPECT_EQ(mzMultiCalibRelease(nullptr), 0);

    CalibHandle bare{nullptr, nullptr};
    CalibHandle* barePtr = &bare;
    EXPECT_EQ(mzMultiCalibRelease(&barePtr), -1);
    EXPECT_EQ(barePtr, &bare);
}

TEST(CalibApply, UninitialisedHandleFailsWithoutNaN) {
    SyntheticRig rig;
    makeRig(rig);
    CalibHandle* h = mzMultiCalibCreate(0);
    const int result = mzMultiCalibApply(h, rig.cameras.data(), nullptr);
    EXPECT_LE(result, -1);
    EXPECT_GE(result, -4);
    EXPECT_TRUE(allFinite(rig));
    mzMultiCalibRelease(&h);
}

TEST(CalibApply, MissingPointsChangeNoRecord) {
    SyntheticRig rig;
    makeRig(rig);
    for (auto& points : rig.world) points.fill({-1, -1});
    rig.cameras[2].pointCount = 5;
    const auto before = rig.cameras;
    const auto worldBefore = rig.world;
    Handle h;
    EXPECT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), -5);
    EXPECT_EQ(std::memcmp(&before, &rig.cameras, sizeof before), 0);
    EXPECT_EQ(std::memcmp(&worldBefore, &rig.world, sizeof worldBefore), 0);
    rig.cameras[2].pointCount = 6;
    rig.cameras[1].worldPoints = nullptr;
    EXPECT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), -5);
    EXPECT_EQ(std::memcmp(&worldBefore, &rig.world, sizeof worldBefore), 0);
}

TEST(CalibApply, RightIsoscelesPatternFromTheLowByteOfTheShape) {
    SyntheticRig rig;
    makeRig(rig, {.seed = 4, .shape = 1, .markerSize = 800});
    Handle right(257, 800);
    ASSERT_EQ(mzMultiCalibApply(right.h, rig.cameras.data(), nullptr), 0);
    const RigErrors e = rigErrors(rig.cameras.data(), truthOf(rig));
    EXPECT_LT(e.height, 0.02);
    EXPECT_LT(e.tilt, 1.0);
    EXPECT_LT(e.spacing, 0.02);
    const float rightHeight = rig.cameras[0].posZ;

    // Read as equilateral triangles the same corners give another, worse answer.
    Handle equilateral(256, 800);
    mzMultiCalibApply(equilateral.h, rig.cameras.data(), nullptr);
    EXPECT_GT(std::abs(rig.cameras[0].posZ - rightHeight), 5.0f);
}

TEST(CalibApply, WorldPointsAndImageToWorldAgree) {
    SyntheticRig rig;
    makeRig(rig, {.seed = 7});
    Handle h;
    ASSERT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), 0);
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 6; ++i) {
            Point2F ground{};
            ASSERT_EQ(mzMultiCalibGetImage2World(h.h, &rig.image[k][i], &ground, k), 0);
            EXPECT_FLOAT_EQ(ground.x, rig.world[k][i].x);
            EXPECT_FLOAT_EQ(ground.y, -rig.world[k][i].y);  // world points store -y
        }
    }
    // Same input, same bytes.
    const auto first = rig.world;
    const auto pose = rig.cameras;
    ASSERT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), 0);
    EXPECT_EQ(std::memcmp(&first, &rig.world, sizeof first), 0);
    EXPECT_EQ(std::memcmp(&pose, &rig.cameras, sizeof pose), 0);
}

TEST(CalibApply, SideHeightOffsetPersistsShiftAndRotationDoNot) {
    SyntheticRig rig;
    makeRig(rig, {.seed = 2});
    Handle h;
    ASSERT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), 0);
    const auto plain = rig.cameras;

    const CalibAdjust adjust = {100, -40, 50, 0, 10, 0};
    mzMultiCalibApply(h.h, rig.cameras.data(), &adjust);
    EXPECT_FLOAT_EQ(rig.cameras[2].posZ, plain[2].posZ + 50);
    EXPECT_FLOAT_EQ(rig.cameras[3].posZ, plain[3].posZ + 50);
    EXPECT_FLOAT_EQ(rig.cameras[0].posZ, plain[0].posZ);
    EXPECT_NEAR(rig.cameras[0].rotY, plain[0].rotY + 10, 0.05);
    const auto adjusted = rig.cameras;

    // Without an adjustment: the offset stays, the turn and the shift go.
    mzMultiCalibApply(h.h, rig.cameras.data(), nullptr);
    EXPECT_FLOAT_EQ(rig.cameras[2].posZ, plain[2].posZ + 50);
    EXPECT_FLOAT_EQ(rig.cameras[0].rotY, adjusted[0].rotY - 10);
    // The shift is the last step: the same apply with rotation 10 and no shift differs by it.
    const CalibAdjust turnOnly = {0, 0, 50, 0, 10, 0};
    mzMultiCalibApply(h.h, rig.cameras.data(), &turnOnly);
    for (int k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(adjusted[k].posX, rig.cameras[k].posX + 100) << k;
        EXPECT_FLOAT_EQ(adjusted[k].posY, rig.cameras[k].posY - 40) << k;
    }

    // Init forgets the stored adjustment.
    mzMultiCalibInit(h.h, 0, 1000, 0);
    mzMultiCalibApply(h.h, rig.cameras.data(), nullptr);
    EXPECT_FLOAT_EQ(rig.cameras[2].posZ, plain[2].posZ);
}

TEST(CalibApply, RigThatCannotCloseNamesTheWorstCamera) {
    // The front camera looks at a bay far wider than the others see: its two triangles lie
    // farther apart than the other three cameras' spans together. The left camera's corners
    // are the least consistent, so it is named.
    SyntheticRig rig;
    makeRig(rig, {.seed = 1});
    SyntheticRig wide;
    makeRig(wide, {.seed = 1, .halfWidth = 9000});
    rig.image[0] = wide.image[0];
    rig.image[2][1].x += 6;
    rig.image[2][4].y -= 6;
    Handle h;
    EXPECT_EQ(mzMultiCalibApply(h.h, rig.cameras.data(), nullptr), -3);
    EXPECT_TRUE(allFinite(rig));

    // A rig that closes but whose shared triangles do not meet: the rear camera's triangles are
    // swapped, and its corners are also the noisiest.
    SyntheticRig swapped;
    makeRig(swapped, {.seed = 1});
    std::swap_ranges(swapped.image[1].begin(), swapped.image[1].begin() + 3, swapped.image[1].begin() + 3);
    swapped.image[1][2].x += 6;
    EXPECT_EQ(mzMultiCalibApply(h.h, swapped.cameras.data(), nullptr), -2);
    EXPECT_TRUE(allFinite(swapped));
}

}  // namespace
}  // namespace mz::calib::test
