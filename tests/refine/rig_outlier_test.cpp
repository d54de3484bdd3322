// One bad corner against the rest of the rig: whichever of the 24 it is, it is named and left out,
// and how far off it is moves no camera.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "refine/refinement.h"
#include "testing/refine_bay.h"

namespace mz::refine {
namespace {

using test::Bay;

constexpr int kSeed = 6;

// The bay with corners as the corner refinement leaves them on a fair picture (a few tenths of a
// pixel off), one of them `off` pixels farther in its own direction; refined and judged.
struct OffBay {
    Bay bay{kSeed};
    RefinementReport report;

    OffBay(int camera, int corner, float off) {
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < 6; ++i) {
                bay.image[k][i].x += 0.2f * std::cos(7.0f * k + 3.0f * i);
                bay.image[k][i].y += 0.2f * std::sin(5.0f * k + 2.0f * i);
            }
        }
        if (camera >= 0) {
            const float angle = 0.9f * (6 * camera + corner);
            bay.image[camera][corner].x += off * std::cos(angle);
            bay.image[camera][corner].y += off * std::sin(angle);
        }
        if (bay.calibrate() != 0) return;
        // Each corner known as well as they are placed: round, a fifth of a pixel.
        CornerCovariances covariances;
        for (auto& camera : covariances) camera.fill({0.04, 0, 0.04});
        report.rig = refineRig(bay.cams.data(), 0, 800, nullptr, &covariances);
        judge(report);
    }
};

// Two corners of a triangle close together in the picture let the rig bend toward the bad one
// until the good one looks the worse: what is left out must be the bad one, and once left out,
// 5 px or 7 px off must make no difference to any pose.
TEST(RigRefinement, OneCornerPixelsOffIsLeftOutAndMovesNoCamera) {
    const OffBay fair(-1, 0, 0);
    ASSERT_TRUE(fair.report.rig.refined) << fair.report.rig.note;
    ASSERT_TRUE(fair.report.rig.dropped.empty());
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 6; ++i) {
            const std::string at = "bad corner " + std::to_string(k) + "/" + std::to_string(i);
            const OffBay near(k, i, 5), far(k, i, 7);
            for (const OffBay* off : {&near, &far}) {
                ASSERT_TRUE(off->report.rig.refined) << at << ": " << off->report.rig.note;
                EXPECT_FALSE(off->report.good) << at;
                ASSERT_EQ(off->report.rig.dropped.size(), 1u) << at;
                EXPECT_EQ(off->report.rig.dropped[0].camera, k) << at;
                EXPECT_EQ(off->report.rig.dropped[0].corner, i) << at;
            }
            for (int c = 0; c < 4; ++c) {
                const CameraParam &a = near.bay.cams[c], &b = far.bay.cams[c];
                EXPECT_NEAR(a.posX, b.posX, 0.05) << at << ", camera " << c;
                EXPECT_NEAR(a.posY, b.posY, 0.05) << at << ", camera " << c;
                EXPECT_NEAR(a.posZ, b.posZ, 0.05) << at << ", camera " << c;
                EXPECT_NEAR(std::remainder(a.rotX - b.rotX, 360.0), 0, 1e-3) << at << ", camera " << c;
                EXPECT_NEAR(std::remainder(a.rotY - b.rotY, 360.0), 0, 1e-3) << at << ", camera " << c;
                EXPECT_NEAR(std::remainder(a.rotZ - b.rotZ, 360.0), 0, 1e-3) << at << ", camera " << c;
                // And the others' heights and tilts as on the fair bay, less what one corner tells.
                if (c == k) continue;
                EXPECT_NEAR(a.posZ, fair.bay.cams[c].posZ, 1.5) << at << ", camera " << c;
                EXPECT_NEAR(a.rotX, fair.bay.cams[c].rotX, 0.06) << at << ", camera " << c;
            }
        }
    }
}

}  // namespace
}  // namespace mz::refine
