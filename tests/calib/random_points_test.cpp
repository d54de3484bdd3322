// Calibration fed points that no rig could produce (random, clustered, all on the principal
// point): apply must answer 0 or a camera's failure code, and never write a non-finite pose or
// world point.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "mz/mzcalib.h"

namespace {

TEST(RandomPoints, ApplyKeepsRecordsFinite) {
    std::mt19937 rng(3);
    auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    CalibHandle* handle = mzMultiCalibCreate(0);
    ASSERT_NE(handle, nullptr);
    for (int trial = 0; trial < 120; ++trial) {
        ASSERT_EQ(mzMultiCalibInit(handle, below(3), 200 + below(1500), 0), 0);
        CameraParam cams[4] = {};
        Point2F image[4][6], world[4][6];
        for (int c = 0; c < 4; ++c) {
            CameraParam& cam = cams[c];
            cam.fx = static_cast<float>(180 + below(100));
            cam.fy = cam.fx * 1.1f;
            cam.cx = 360;
            cam.cy = 240;
            cam.width = 720;
            cam.height = 480;
            cam.pointCount = 6;
            cam.imagePoints = image[c];
            cam.worldPoints = world[c];
            for (int i = 0; i < 6; ++i) {
                if (trial % 4 == 0) image[c][i] = {static_cast<float>(below(720)), static_cast<float>(below(480))};
                else image[c][i] = {(i < 3 ? 150.0f : 570.0f) + below(120) - 60, 300.0f + below(100) - 50};
                if (trial % 7 == 0) image[c][i] = {360, 240};
            }
        }
        const CalibAdjust adjust = {static_cast<float>(below(200) - 100), 0, static_cast<float>(below(400) - 200), 0,
                                    static_cast<float>(below(40) - 20),   0};
        const int result = mzMultiCalibApply(handle, cams, trial % 2 ? &adjust : nullptr);
        EXPECT_TRUE(result >= -4 && result <= 0) << result;
        for (const CameraParam& cam : cams) {
            for (float v : {cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotY, cam.rotZ})
                EXPECT_TRUE(std::isfinite(v)) << "trial " << trial;
            for (int i = 0; i < 6; ++i)
                EXPECT_TRUE(std::isfinite(cam.worldPoints[i].x) && std::isfinite(cam.worldPoints[i].y))
                    << "trial " << trial;
        }
    }
    EXPECT_EQ(mzMultiCalibRelease(&handle), 0);
}

}  // namespace
