// The stitched top view of a simulated bay, with cameras posed by the simulator's truth: the dark
// frames of the top view lie on the true floor triangles, for every blend mode, with and without
// the rotated output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "mz/mzview.h"
#include "format/stitching_map.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

using namespace mz::sim;

constexpr float kMmPerPixel = 6.0f;
constexpr double kMargin = 25.0;  // mm kept clear of every frame edge before judging a pixel

struct Bay {
    Rig rig;
    std::array<Picture, 4> pictures;
    std::array<CameraParam, 4> cameras{};
    std::array<std::array<Point2F, 6>, 4> image{}, world{};
    int width = 0, height = 0;  // unrotated display size

    Bay() {
        RigOptions options;
        options.seed = 7;
        options.noiseSigma = 1.0;
        options.vignetting = 0.0;
        rig = drawRig(options);
        double extentX = 0, extentY = 0;
        for (const Triangle& t : rig.triangles)
            for (const Vec2& c : t.corners) {
                extentX = std::max(extentX, std::fabs(c.x));
                extentY = std::max(extentY, std::fabs(c.y));
            }
        width = 2 * static_cast<int>(std::ceil((extentX + 300) / kMmPerPixel));
        height = 2 * static_cast<int>(std::ceil((extentY + 300) / kMmPerPixel));
        for (int c = 0; c < 4; ++c) {
            pictures[c] = renderCamera(rig, c);
            CameraParam& cam = cameras[c];
            cam = cameraRecord(rig.cameras[c]);
            const CameraPoints truth = cameraPoints(rig, c);
            for (int i = 0; i < 6; ++i) {
                image[c][i] = {static_cast<float>(truth.image[i].x), static_cast<float>(truth.image[i].y)};
                // The records' ground frame has y toward the rear.
                world[c][i] = {static_cast<float>(truth.floor[i].x), static_cast<float>(-truth.floor[i].y)};
            }
            cam.pointCount = 6;
            cam.imagePoints = image[c].data();
            cam.worldPoints = world[c].data();
        }
    }

    // Depth of a floor point inside the nearest frame's outer triangle (negative outside).
    double insideDepth(double x, double y) const {
        double best = -1e30;
        for (const Triangle& t : rig.triangles) {
            double inside = 1e30;
            for (int e = 0; e < 3; ++e) {
                const Vec2 a = t.corners[e], n = inwardNormal(t, e);
                inside = std::min(inside, n.x * (x - a.x) + n.y * (y - a.y));
            }
            best = std::max(best, inside);
        }
        return best;
    }
};

const Bay& bay() {
    static const Bay b;
    return b;
}

bool key(uint8_t v) { return v == 0 || v == 255; }

TEST(TopviewGeometry, DarkFramesLieOnTheTrueFloorTriangles) {
    const Bay& b = bay();
    const double band = b.rig.triangles[0].band;
    ASSERT_GT(band, 3 * kMargin);
    for (const bool rotated : {false, true})
        for (int mode = 0; mode <= 4; ++mode) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (rotated ? " rotated" : ""));
            std::array<CameraParam, 4> cameras = b.cameras;
            MultiviewParam p{};
            p.flags = MZ_MV_BILINEAR | (rotated ? MZ_MV_ROTATED : 0u);
            p.vehicleWidth = static_cast<int>(b.rig.options.vehicleWidth);
            p.vehicleLength = static_cast<int>(b.rig.options.vehicleLength);
            p.frontFov = 150;
            p.rearFov = 150;
            p.blendWidth = 10;
            p.vehicleColour = 0x010101;
            p.lineWidth = 4;
            p.blendMode = mode;
            p.width = rotated ? b.height : b.width;
            p.height = rotated ? b.width : b.height;
            p.centreX = static_cast<float>(p.width) / 2;
            p.centreY = static_cast<float>(p.height) / 2;
            p.mmPerPixel = kMmPerPixel;
            p.cameras = cameras.data();
            ViewHandle h = mzMultiviewCreate(0);
            ASSERT_EQ(0, mzMultiviewInit(h, &p));
            if (mode == 4) {
                mz::format::StitchingLayout tv;
                tv.width = p.width;
                tv.height = p.height;
                tv.centreX = p.centreX;
                tv.centreY = p.centreY;
                tv.mmPerPixel = kMmPerPixel;
                tv.rotated = rotated;
                tv.vehicleWidth = p.vehicleWidth;
                tv.vehicleLength = p.vehicleLength;
                const mz::format::Bitmap mask = mz::format::drawStitchingMap(tv);
                ASSERT_EQ(0, mzMultiviewSetImage(h, mask.width, mask.height, mask.pixels.data(), MZ_MV_IMAGE_COPY, 0, 0,
                                                 0, 0));
            }
            const int stride = MZ_ROW_STRIDE24(p.width);
            std::vector<uint8_t> out(static_cast<size_t>(stride) * p.height);
            ASSERT_EQ(0, mzMultiviewApply(h, b.pictures[0].bytes.data(), b.pictures[2].bytes.data(),
                                          b.pictures[3].bytes.data(), b.pictures[1].bytes.data(), out.data()));
            int len = 0;
            ASSERT_EQ(0, mzMultiviewGetMaskLen(h, &len, 3));
            std::vector<uint8_t> codes(len);
            ASSERT_EQ(0, mzMultiviewGetMask(h, codes.data(), len, 3));
            ASSERT_EQ(0, mzMultiviewRelease(&h));

            // Working (front up) coordinates of a display pixel, and its floor point (y to the front).
            const int workW = rotated ? p.height : p.width;
            const double ox = rotated ? p.height - p.centreY : p.centreX, oy = rotated ? p.centreX : p.centreY;
            int darkExpected = 0, darkWrong = 0, lightExpected = 0, lightWrong = 0, darkSeen = 0, darkStray = 0;
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) {
                    const uint8_t* code = &codes[y * stride + 3 * x];
                    if (!key(code[0]) || !key(code[1])) continue;  // vehicle area, seam lines
                    const uint8_t* px = &out[y * stride + 3 * x];
                    if (px[2] - std::max(px[0], px[1]) > 40) continue;  // a camera that sees nothing here
                    const int col = rotated ? workW - 1 - y : x, row = rotated ? x : y;
                    const double fx = (col - ox) * kMmPerPixel, fy = -(row - oy) * kMmPerPixel;
                    const double d = b.insideDepth(fx, fy);
                    const int brightest = std::max({px[0], px[1], px[2]});
                    const int darkest = std::min({px[0], px[1], px[2]});
                    if (d >= kMargin && d <= band - kMargin) {
                        ++darkExpected;
                        darkWrong += brightest >= 110;
                    } else if (d < -kMargin || d > band + kMargin) {
                        ++lightExpected;
                        lightWrong += darkest <= 120;
                    }
                    if (brightest < 70) {
                        ++darkSeen;
                        darkStray += d < -kMargin || d > band + kMargin;
                    }
                }
            EXPECT_GT(darkExpected, 400);
            EXPECT_LE(darkWrong, darkExpected / 100);
            EXPECT_LE(lightWrong, lightExpected / 1000);
            EXPECT_GT(darkSeen, darkExpected);
            EXPECT_LE(darkStray, darkSeen / 200);
        }
}

}  // namespace
