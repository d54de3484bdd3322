// The stitched top view: Apply against the plain remap-and-stitch, the stitching codes of every
// blend mode, the table and mask exports, SetImage and the pose adjustment.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "geometry/image.h"
#include "geometry/lens_model.h"
#include "geometry/map_rows.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"
#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/topview.h"

namespace {

using mztest::decodeLut;
using mztest::makeViewRig;
using mztest::noisePicture;

constexpr int kFront = MZ_CAMERA_FRONT, kRear = MZ_CAMERA_REAR, kLeft = MZ_CAMERA_LEFT, kRight = MZ_CAMERA_RIGHT;
constexpr int kSrcStride = MZ_ROW_STRIDE24(720);

struct Handle {
    ViewHandle h = mzMultiviewCreate(0);
    ~Handle() { mzMultiviewRelease(&h); }
};

int stride(int width) { return MZ_ROW_STRIDE24(width); }

// The straightforward engine: every camera remapped over the whole view with mzRemap into a layer
// that persists between calls, then stitched pixel by pixel and turned for 0x8000.
class Reference {
public:
    void apply(ViewHandle h, uint32_t flags, const std::vector<uint8_t>* const images[4], std::vector<uint8_t>& out) {
        mz::TopviewInternals in;
        ASSERT_TRUE(mz::topviewInternals(h, &in));
        const int W = in.workWidth, H = in.workHeight;
        if (!layers_[0] || layers_[0]->width != W || layers_[0]->height != H) {
            for (auto& l : layers_) {
                l.reset(mz::createImageBuffer(3, W, H));
                mz::clearRows(l->rows, H, l->stride);
            }
        }
        const uint8_t red[3] = {0, 0, 255};
        for (int c = 0; c < 4; ++c) {
            if (images[c] == nullptr) continue;
            mz::ImageBufferPtr src(mz::createImageBuffer(3, in.sourceWidth, in.sourceHeight));
            for (int r = 0; r < in.sourceHeight; ++r)
                std::memcpy(src->rows[r], images[c]->data() + r * src->stride, src->stride);
            std::vector<float*> rows(H);
            for (int r = 0; r < H; ++r) rows[r] = const_cast<float*>(in.maps[c]) + 2 * W * r;
            ASSERT_EQ(0, mzRemap(src.get(), layers_[c].get(), rows.data(), static_cast<int>(flags & 3u), red));
        }
        std::vector<uint8_t> work(static_cast<size_t>(W) * H * 3);
        for (int r = 0; r < H; ++r)
            for (int col = 0; col < W; ++col) {
                const uint8_t* code = in.blendMap + 3 * (r * W + col);
                uint8_t* d = &work[3 * (r * W + col)];
                stitchPixel(code, r, col, d);
                if ((flags & 0x4000u) && code[2] > 0 && code[2] < 255)
                    d[2] = static_cast<uint8_t>((code[2] + d[2]) >> 1);
            }
        const bool rotated = flags & 0x8000u;
        const int ow = rotated ? H : W, oh = rotated ? W : H;
        out.assign(static_cast<size_t>(stride(ow)) * oh, 0);
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                const int wc = rotated ? W - 1 - y : x, wr = rotated ? x : y;
                std::memcpy(&out[y * stride(ow) + 3 * x], &work[3 * (wr * W + wc)], 3);
            }
    }

private:
    void stitchPixel(const uint8_t* code, int r, int col, uint8_t* d) {
        auto px = [&](int c) { return layers_[c]->rows[r] + 3 * col; };
        auto blend = [&](const uint8_t* p, const uint8_t* q) {
            for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>(((q[k] - p[k]) * code[2] + p[k] * 256) >> 8);
        };
        auto copy = [&](const uint8_t* p) { std::memcpy(d, p, 3); };
        const uint8_t b0 = code[0], b1 = code[1];
        if (b1 == 0 && b0 == 0) code[2] == 0 ? copy(px(kFront)) : blend(px(kFront), px(kLeft));
        else if (b1 == 0 && b0 == 255) code[2] == 0 ? copy(px(kLeft)) : blend(px(kRear), px(kLeft));
        else if (b1 == 255 && b0 == 0) code[2] == 0 ? copy(px(kRight)) : blend(px(kFront), px(kRight));
        else if (b1 == 255 && b0 == 255) code[2] == 0 ? copy(px(kRear)) : blend(px(kRear), px(kRight));
        else copy(code);
    }

    mz::ImageBufferPtr layers_[4];
};

struct Pictures {
    std::vector<uint8_t> p[4] = {noisePicture(720, 480, 1), noisePicture(720, 480, 2), noisePicture(720, 480, 3),
                                 noisePicture(720, 480, 4)};
    const std::vector<uint8_t>* all[4] = {&p[0], &p[1], &p[2], &p[3]};
};

std::vector<uint8_t> applyEngine(ViewHandle h, const MultiviewParam& p, const std::vector<uint8_t>* const img[4]) {
    std::vector<uint8_t> out(static_cast<size_t>(stride(p.width)) * p.height, 0xAB);
    auto data = [&](int c) { return img[c] ? img[c]->data() : nullptr; };
    EXPECT_EQ(0, mzMultiviewApply(h, data(kFront), data(kLeft), data(kRight), data(kRear), out.data()));
    return out;
}

TEST(TopviewApply, BitIdenticalToRemapAndStitchForEveryInterpolationAndOrientation) {
    Pictures pics;
    for (const uint32_t interp : {0u, 1u, 2u})
        for (const uint32_t extra : {0u, 0x8000u, 0x4000u | 0x8000u}) {
            SCOPED_TRACE(testing::Message() << "flags " << (interp | extra));
            const bool rotated = extra & 0x8000u;
            auto rig = makeViewRig(rotated ? 300 : 200, rotated ? 200 : 300, 30.0f, interp | extra, 0);
            Handle h;
            ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
            Reference ref;
            std::vector<uint8_t> expected;
            ref.apply(h.h, rig->param.flags, pics.all, expected);
            EXPECT_EQ(expected, applyEngine(h.h, rig->param, pics.all));
        }
}

// A camera with no homography yet gets its map without the lens: every entry (-1, -1), which is
// what the lens path makes of 0 / 0 in both of its forms, for every camera of the rig.
TEST(TopviewMaps, NoHomographyMeansNoSourceThroughTheLensToo) {
    auto rig = makeViewRig(64, 40, 80.0f, MZ_MV_BILINEAR, 0);
    for (const CameraParam& cam : rig->cameras) {
        for (const bool wide : {false, true}) {
            if (wide && !mz::avx2()) continue;
            std::vector<float> map(2 * 61 * 40, 7.0f);  // rows that end in a partial group of lanes
            mz::GroundMapJob job{};
            job.cam = &cam;
            job.mmPerPixel = 80.0f;
            job.ox = 30.5f;
            job.oy = 20.0f;
            job.sourceWidth = 720.0f;
            job.sourceHeight = 480.0f;
            job.width = 61;
            job.map = map.data();
            (wide ? mz::groundMapRowsAvx2 : mz::groundMapRowsSse)(job, 0, 40);
            for (const float v : map) ASSERT_EQ(-1.0f, v);
        }
    }
}

// A camera left out of Apply keeps what the whole remap left in its layer, also after the maps and
// the stitching map changed.
TEST(TopviewApply, SkippedCameraKeepsItsLayerAcrossInitAndSetImage) {
    Pictures pics;
    auto rig = makeViewRig(200, 300, 30.0f, 1, 2);
    Handle h;
    Reference ref;
    std::vector<uint8_t> expected;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    ref.apply(h.h, rig->param.flags, pics.all, expected);
    EXPECT_EQ(expected, applyEngine(h.h, rig->param, pics.all));

    // New maps, a new stitching map and bicubic from now on; the left camera's layer stays bilinear.
    rig->param.blendMode = 0;
    rig->param.mmPerPixel = 25.0f;
    rig->param.flags = 2;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    rig->param.mmPerPixel = 27.0f;  // and once more before the next Apply
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const std::vector<uint8_t> noLeft[4] = {noisePicture(720, 480, 5), {}, {}, noisePicture(720, 480, 6)};
    const std::vector<uint8_t>* some[4] = {&noLeft[0], nullptr, nullptr, &noLeft[3]};
    ref.apply(h.h, rig->param.flags, some, expected);
    EXPECT_EQ(expected, applyEngine(h.h, rig->param, some));

    // A predefined map that sends every pixel to the left camera.
    std::vector<uint8_t> allLeft(static_cast<size_t>(stride(200)) * 300, 0);
    for (int r = 0; r < 300; ++r)
        for (int c = 0; c < 200; ++c) allLeft[r * stride(200) + 3 * c] = 255;
    ASSERT_EQ(0, mzMultiviewSetImage(h.h, 200, 300, allLeft.data(), MZ_MV_IMAGE_COPY, 0, 0, 0, 0));
    const std::vector<uint8_t>* none[4] = {nullptr, nullptr, nullptr, nullptr};
    ref.apply(h.h, rig->param.flags, none, expected);
    EXPECT_EQ(expected, applyEngine(h.h, rig->param, none));

    // Smaller camera pictures: the layers made from the old ones stay as they were.
    for (auto& cam : rig->cameras) {
        cam.width = 640;
        cam.height = 400;
    }
    rig->param.blendMode = 1;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    ref.apply(h.h, rig->param.flags, none, expected);
    EXPECT_EQ(expected, applyEngine(h.h, rig->param, none));
    const std::vector<uint8_t> small = noisePicture(640, 400, 8);
    const std::vector<uint8_t>* rearOnly[4] = {nullptr, &small, nullptr, nullptr};
    ref.apply(h.h, rig->param.flags, rearOnly, expected);
    EXPECT_EQ(expected, applyEngine(h.h, rig->param, rearOnly));
}

TEST(TopviewApply, NothingBeforeInitAndUnseenPixelsAreRed) {
    Pictures pics;
    Handle h;
    std::vector<uint8_t> out(stride(200) * 300, 7);
    EXPECT_EQ(
        0, mzMultiviewApply(h.h, pics.p[0].data(), pics.p[2].data(), pics.p[3].data(), pics.p[1].data(), out.data()));
    EXPECT_EQ(std::vector<uint8_t>(stride(200) * 300, 7), out);

    // A camera without point pairs sees nothing: its zone is the fill colour.
    auto rig = makeViewRig(200, 300, 30.0f, 1, 0);
    rig->cameras[kFront].pointCount = 3;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    out = applyEngine(h.h, rig->param, pics.all);
    EXPECT_EQ(0, out[3 * 100]);
    EXPECT_EQ(0, out[3 * 100 + 1]);
    EXPECT_EQ(255, out[3 * 100 + 2]);
}

// ---- stitching codes ----

std::vector<uint8_t> maskRgb24(ViewHandle h, int format = 3) {
    int len = 0;
    EXPECT_EQ(0, mzMultiviewGetMaskLen(h, &len, format));
    std::vector<uint8_t> mask(len, 0xCD);
    EXPECT_EQ(0, mzMultiviewGetMask(h, mask.data(), len, format));
    return mask;
}

struct Zones {
    int x0, y0, x1, y1;
};

// 1800 x 4600 mm at 30 mm per pixel: 60 and 153.3 -> 156 pixels; centred in 200 x 300, the left
// edge 70 raised to 72.
constexpr Zones kZones = {72, 72, 132, 228};

TEST(TopviewBlend, CodesOfEveryZoneForModesZeroToThree) {
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        auto rig = makeViewRig(200, 300, 30.0f, 0, mode);
        rig->param.vehicleColour = 0x336699;
        Handle h;
        ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
        const std::vector<uint8_t> m = maskRgb24(h.h);
        auto at = [&](int x, int y) { return &m[y * stride(200) + 3 * x]; };
        auto code = [&](int x, int y) { return std::vector<int>{at(x, y)[0], at(x, y)[1], at(x, y)[2]}; };
        const Zones& z = kZones;
        EXPECT_EQ((std::vector<int>{0, 0, 0}), code(100, 10));            // front band
        EXPECT_EQ((std::vector<int>{255, 255, 0}), code(100, 290));       // rear band
        EXPECT_EQ((std::vector<int>{255, 0, 0}), code(10, 150));          // left side
        EXPECT_EQ((std::vector<int>{0, 255, 0}), code(190, 150));         // right side
        EXPECT_EQ((std::vector<int>{0x33, 0x66, 0x99}), code(100, 150));  // vehicle: 0x00BBGGRR
        EXPECT_EQ((std::vector<int>{0x33, 0x66, 0x99}), code(z.x0, z.y0));
        EXPECT_EQ((std::vector<int>{0, 0, 0}), code(z.x0, z.y0 - 1));
        if (mode < 2) {  // the seam lines start at the vehicle's corners
            EXPECT_EQ((std::vector<int>{255, 0, 0}), code(z.x0 - 1, z.y0));
            EXPECT_EQ((std::vector<int>{0, 255, 0}), code(z.x1, z.y1 - 1));
            EXPECT_EQ((std::vector<int>{255, 255, 0}), code(z.x1 - 1, z.y1));
        }
        // Corners: far from the seams, where the pair's share is clear.
        const int cornerPts[4][2] = {{2, 2}, {197, 2}, {2, 297}, {197, 297}};
        const int expect01[4][2] = {{0, 0}, {0, 255}, {255, 0}, {255, 255}};
        for (int k = 0; k < 4; ++k) {
            const uint8_t* p = at(cornerPts[k][0], cornerPts[k][1]);
            if (mode == 3) {
                EXPECT_EQ(0, p[2]);
                EXPECT_TRUE(p[0] == 0 || p[0] == 255);
                continue;
            }
            EXPECT_EQ(expect01[k][0], p[0]) << k;
            EXPECT_EQ(expect01[k][1], p[1]) << k;
            if (mode == 0) {
                EXPECT_GE(p[2], 1);
                EXPECT_LE(p[2], 254);
            }
            if (mode == 2) {
                EXPECT_TRUE(p[2] == 1 || p[2] == 255) << int(p[2]);
            }
        }
        // The seam lines are drawn in the vehicle colour in modes 2 and 3 only.
        int seam = 0;
        for (int y = 0; y < z.y0; ++y)
            for (int x = 0; x < z.x0; ++x) seam += at(x, y)[0] == 0x33;
        if (mode >= 2) {
            EXPECT_GT(seam, 20);
        } else {
            EXPECT_EQ(0, seam);
        }
    }
}

TEST(TopviewBlend, ModeFourKeepsThePreviousMapAndStartsAllFront) {
    Pictures pics;
    auto rig = makeViewRig(200, 300, 30.0f, 0, 4);
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const std::vector<uint8_t> first = maskRgb24(h.h);
    for (size_t y = 0; y < 300; ++y)
        for (size_t x = 0; x < 600; ++x) ASSERT_EQ(0, first[y * stride(200) + x]);
    // All front: every pixel is the front camera's nearest sample.
    const std::vector<uint8_t> out = applyEngine(h.h, rig->param, pics.all);
    mz::TopviewInternals in;
    ASSERT_TRUE(mz::topviewInternals(h.h, &in));
    for (int y = 0; y < 300; y += 37)
        for (int x = 0; x < 200; x += 23) {
            const float* m = in.maps[kFront] + 2 * (y * 200 + x);
            if (m[0] < 0) continue;
            const int sx = static_cast<int>(std::lround(m[0])), sy = static_cast<int>(std::lround(m[1]));
            if (sx >= 720 || sy >= 480) continue;
            EXPECT_EQ(0, std::memcmp(&out[y * stride(200) + 3 * x], &pics.p[kFront][sy * kSrcStride + 3 * sx], 3));
        }

    rig->param.blendMode = 1;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const std::vector<uint8_t> fov = maskRgb24(h.h);
    rig->param.blendMode = 4;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    EXPECT_EQ(fov, maskRgb24(h.h));
}

// A vehicle colour whose blue and green bytes are key values reads back as a camera code: black
// shows the front camera over the vehicle.
TEST(TopviewBlend, KeyColouredVehicleShowsACamera) {
    Pictures pics;
    auto rig = makeViewRig(200, 300, 30.0f, 0, 0);
    rig->param.vehicleColour = 0x000000;
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const std::vector<uint8_t> out = applyEngine(h.h, rig->param, pics.all);
    Reference ref;
    std::vector<uint8_t> expected;
    ref.apply(h.h, 0, pics.all, expected);
    EXPECT_EQ(expected, out);
    const uint8_t* v = &out[150 * stride(200) + 3 * 100];
    EXPECT_FALSE(v[0] == 0 && v[1] == 0 && v[2] == 0);  // not the colour: a camera pixel
}

// ---- exports ----

// Decodes a display-unit table (even rows, then odd rows) back into x, y per output pixel.
TEST(TopviewExport, LutDecodesToTheMapTurnedWithTheOutput) {
    for (const uint32_t flags : {0u, 1u, 0x8000u, 0x8001u}) {
        SCOPED_TRACE(flags);
        const bool rotated = flags & 0x8000u;
        const int w = rotated ? 300 : 200, hgt = rotated ? 200 : 300;
        auto rig = makeViewRig(w, hgt, 30.0f, flags, 0);
        Handle h;
        ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
        int len = 0;
        ASSERT_EQ(0, mzMultiviewGetLUTLen(h.h, &len, 2));
        ASSERT_EQ(w * hgt * 4, len);
        mz::TopviewInternals in;
        ASSERT_TRUE(mz::topviewInternals(h.h, &in));
        for (const int camera : {kFront, kRight}) {
            std::vector<uint8_t> lut(len + 1, 0x5A);
            ASSERT_EQ(0, mzMultiviewGetLUT(h.h, lut.data(), len, camera));
            EXPECT_EQ(0x5A, lut[len]);
            const std::vector<Point2F> decoded = decodeLut(lut, w, hgt, flags & 1);
            int valid = 0;
            for (int y = 0; y < hgt; ++y)
                for (int x = 0; x < w; ++x) {
                    const int wc = rotated ? in.workWidth - 1 - y : x, wr = rotated ? x : y;
                    const float* m = in.maps[camera] + 2 * (wr * in.workWidth + wc);
                    const Point2F d = decoded[y * w + x];
                    if (m[0] < 0) {
                        EXPECT_EQ(-1.0f, d.x);
                        continue;
                    }
                    // The odd field starts a source row lower; its first row has no row above.
                    if ((flags & 1) && y % 2 == 1 && m[1] < 1.0f) continue;
                    ++valid;
                    const float tol = (flags & 1) ? 0.02f : 0.51f;
                    ASSERT_NEAR(m[0], d.x, tol) << x << "," << y;
                    // Rows are interlaced fields: the table holds y / 2 in whole or 1/32 steps.
                    ASSERT_NEAR(m[1], d.y, (flags & 1) ? 0.04f : 1.01f) << x << "," << y;
                }
            EXPECT_GT(valid, w * hgt / 10);
        }
        // One byte short: nothing is written.
        std::vector<uint8_t> untouched(len, 0x11);
        EXPECT_EQ(0, mzMultiviewGetLUT(h.h, untouched.data(), len - 1, 0));
        EXPECT_EQ(std::vector<uint8_t>(len, 0x11), untouched);
        EXPECT_EQ(0, mzMultiviewGetLUT(h.h, untouched.data(), len, 4));
        EXPECT_EQ(std::vector<uint8_t>(len, 0x11), untouched);
    }
}

TEST(TopviewExport, MaskInEveryFormatOnKnownCodes) {
    auto rig = makeViewRig(200, 300, 30.0f, 0, 0);
    rig->param.vehicleColour = 0x203040;  // R 0x40, G 0x30, B 0x20
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    int len = -1;
    const int expectedLen[5] = {200 * 300 * 2, 200 * 300 * 4, 200 * 300 * 2, 600 * 300, 0};
    for (int f = 0; f < 5; ++f) {
        ASSERT_EQ(0, mzMultiviewGetMaskLen(h.h, &len, f));
        EXPECT_EQ(expectedLen[f], len);
    }
    // Row 0 is the first row of the even field: the front band at column 100, word 0; the left
    // side and vehicle lie on row 150, which is field row 75 of the even field.
    const std::vector<uint8_t> m16 = maskRgb24(h.h, 0), m32 = maskRgb24(h.h, 1), myc = maskRgb24(h.h, 2);
    auto word16 = [&](const std::vector<uint8_t>& m, int row, int x) {
        const size_t i = 2 * (static_cast<size_t>(row / 2) * 200 + x);
        return m[i] | m[i + 1] << 8;
    };
    EXPECT_EQ(0, word16(m16, 0, 100));
    EXPECT_EQ(2, word16(m16, 150, 10));        // left side (255, 0, 0)
    EXPECT_EQ(0x4328, word16(m16, 150, 100));  // vehicle, 4-4-4 colour with bit 3
    EXPECT_EQ(6, word16(m16, 150, 190));       // right side (0, 255, 0)
    EXPECT_EQ(0xFF02, word16(myc, 150, 10));
    const size_t i32 = 4 * (75 * 200 + 100);
    EXPECT_EQ((std::vector<uint8_t>{8, 0x20, 0x30, 0x40}),
              std::vector<uint8_t>(m32.begin() + i32, m32.begin() + i32 + 4));
    // The mask is written only for the exact length.
    std::vector<uint8_t> buf(200 * 300 * 2 + 8, 0x77);
    EXPECT_EQ(0, mzMultiviewGetMask(h.h, buf.data(), static_cast<int>(buf.size()), 0));
    EXPECT_EQ(std::vector<uint8_t>(buf.size(), 0x77), buf);
}

TEST(TopviewExport, SaveLutWritesMissingEntriesAsTheMarkerValue) {
    auto rig = makeViewRig(40, 60, 150.0f, 0, 0);
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const std::string path = testing::TempDir() + "topview_lut.txt";
    ASSERT_EQ(0, mzMultiviewSaveLUT(h.h, path.c_str(), kFront));
    std::ifstream in(path);
    std::string line;
    int lines = 0, missing = 0;
    while (std::getline(in, line)) {
        ++lines;
        if (line.find("36245.000000 36245.000000") != std::string::npos) ++missing;
        if (lines == 1) {
            EXPECT_EQ(0, line.rfind("0 0 ", 0));
        }
    }
    EXPECT_EQ(40 * 60, lines);
    EXPECT_GT(missing, 0);  // far behind the front camera
    std::remove(path.c_str());
    EXPECT_EQ(0, mzMultiviewSaveLUT(h.h, path.c_str(), 7));
    EXPECT_FALSE(std::ifstream(path).good());
}

// ---- SetImage ----

TEST(TopviewSetImage, CopyPlaceAndClear) {
    auto rig = makeViewRig(200, 300, 30.0f, 0, 4);
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    // Copy mode needs the exact size.
    std::vector<uint8_t> map(static_cast<size_t>(stride(200)) * 300, 255);
    EXPECT_EQ(0, mzMultiviewSetImage(h.h, 200, 299, map.data(), MZ_MV_IMAGE_COPY, 0, 0, 0, 0));
    EXPECT_EQ(0, maskRgb24(h.h)[0]);
    EXPECT_EQ(0, mzMultiviewSetImage(h.h, 200, 300, map.data(), MZ_MV_IMAGE_COPY, 0, 0, 0, 0));
    EXPECT_EQ(255, maskRgb24(h.h)[0]);
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));  // mode 4 keeps it
    EXPECT_EQ(255, maskRgb24(h.h)[0]);

    // A 10 x 10 grey picture placed at (50, 60): its 2-pixel border is left out; black is clear.
    std::vector<uint8_t> car(static_cast<size_t>(stride(10)) * 10, 100);
    car[5 * stride(10) + 3 * 5] = 0;
    rig->param.blendMode = 0;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    ASSERT_EQ(0, mzMultiviewSetImage(h.h, 10, 10, car.data(), 0, 50, 60, 10, 10));
    std::vector<uint8_t> m = maskRgb24(h.h);
    auto at = [&](int x, int y) { return &m[y * stride(200) + 3 * x]; };
    EXPECT_EQ(100, at(53, 63)[0]);
    EXPECT_EQ(100, at(57, 67)[2]);
    EXPECT_NE(100, at(51, 63)[0]);
    EXPECT_NE(100, at(58, 63)[0]);
    EXPECT_NE(100, at(55, 65)[0]);  // transparent hole
    // The placed picture survives a new Init; mode 5 clears it from the next Init on.
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    EXPECT_EQ(100, maskRgb24(h.h)[63 * stride(200) + 3 * 53]);
    ASSERT_EQ(0, mzMultiviewSetImage(h.h, 0, 0, nullptr, MZ_MV_IMAGE_CLEAR, 0, 0, 0, 0));
    EXPECT_EQ(100, maskRgb24(h.h)[63 * stride(200) + 3 * 53]);
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    EXPECT_NE(100, maskRgb24(h.h)[63 * stride(200) + 3 * 53]);
}

TEST(TopviewSetImage, PlacementInRotatedOutputLandsWhereTheDisplaySaysAndSaveImageWritesIt) {
    auto rig = makeViewRig(300, 200, 30.0f, 0x8000u, 0);
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    std::vector<uint8_t> car(static_cast<size_t>(stride(20)) * 10, 90);
    ASSERT_EQ(0, mzMultiviewSetImage(h.h, 20, 10, car.data(), 0, 40, 30, 20, 10));
    const std::vector<uint8_t> m = maskRgb24(h.h);
    auto at = [&](int x, int y) { return m[y * stride(300) + 3 * x]; };
    EXPECT_EQ(90, at(45, 35));
    EXPECT_EQ(90, at(57, 37));
    EXPECT_NE(90, at(45, 45));
    EXPECT_NE(90, at(61, 35));

    const std::string path = testing::TempDir() + "topview_blend.bmp";
    ASSERT_EQ(0, mzMultiviewSaveImage(h.h, path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(static_cast<size_t>(54 + stride(300) * 200), bmp.size());
    EXPECT_EQ(300, bmp[18] | bmp[19] << 8);
    EXPECT_EQ(200, bmp[22] | bmp[23] << 8);
    // Bottom-up rows: display row 35 is file row 164.
    EXPECT_EQ(90, bmp[54 + 164 * stride(300) + 3 * 45]);
    std::remove(path.c_str());
}

// ---- pose adjustment ----

// Init keeps the map of a camera whose records did not change; a moved camera gets a new one. Every
// table and the stitched picture then equal those of an engine initialised afresh.
TEST(TopviewInit, KeptAndRebuiltMapsEqualAFreshEngine) {
    Pictures pics;
    auto rig = makeViewRig(200, 300, 30.0f, 1, 0);
    Handle kept;
    ASSERT_EQ(0, mzMultiviewInit(kept.h, &rig->param));
    applyEngine(kept.h, rig->param, pics.all);
    rig->cameras[kLeft].cx += 3.0f;
    rig->world[kRear][0].x += 40.0f;
    ASSERT_EQ(0, mzMultiviewInit(kept.h, &rig->param));
    Handle fresh;
    ASSERT_EQ(0, mzMultiviewInit(fresh.h, &rig->param));
    for (int c = 0; c < 4; ++c) {
        std::vector<uint8_t> a(200 * 300 * 4), b(a.size());
        ASSERT_EQ(0, mzMultiviewGetLUT(kept.h, a.data(), static_cast<int>(a.size()), c));
        ASSERT_EQ(0, mzMultiviewGetLUT(fresh.h, b.data(), static_cast<int>(b.size()), c));
        EXPECT_EQ(a, b) << "camera " << c;
    }
    EXPECT_EQ(applyEngine(fresh.h, rig->param, pics.all), applyEngine(kept.h, rig->param, pics.all));
}

// In the predefined blend mode Init leaves the maps to their first reader. A map read later is that
// of its Init's records, though the caller changed them since; one a later Init replaced before
// anything read it is the later Init's.
TEST(TopviewInit, MapsMadeWhenFirstReadAreThoseOfTheirInit) {
    auto rig = makeViewRig(200, 300, 30.0f, 0, 4);
    const auto tables = [](ViewHandle h) {
        std::array<std::vector<uint8_t>, 4> out;
        for (int c = 0; c < 4; ++c) {
            out[c].assign(200 * 300 * 4, 0);
            EXPECT_EQ(0, mzMultiviewGetLUT(h, out[c].data(), static_cast<int>(out[c].size()), c));
        }
        return out;
    };
    Handle read, unread;
    ASSERT_EQ(0, mzMultiviewInit(read.h, &rig->param));
    ASSERT_EQ(0, mzMultiviewInit(unread.h, &rig->param));
    const auto atInit = tables(read.h);
    rig->cameras[kLeft].cx += 3.0f;
    rig->cameras[kFront].k1 *= 1.01f;
    rig->world[kRear][0].x += 40.0f;
    rig->param.mmPerPixel = 31.0f;
    EXPECT_EQ(atInit, tables(unread.h));

    ASSERT_EQ(0, mzMultiviewInit(unread.h, &rig->param));
    rig->cameras[kRight].cy -= 2.0f;
    ASSERT_EQ(0, mzMultiviewInit(unread.h, &rig->param));
    Handle fresh;
    ASSERT_EQ(0, mzMultiviewInit(fresh.h, &rig->param));
    EXPECT_EQ(tables(fresh.h), tables(unread.h));
    EXPECT_NE(atInit, tables(unread.h));
}

// Every map entry is the working pixel's ground point through the camera's homography and the
// one-pixel lens form, whatever the orientation, ground scale or view width (one not a multiple of
// four included): the engine computes several pixels at a time and on two threads.
TEST(TopviewInit, MapsEqualTheOnePixelLensForm) {
    for (const auto& [width, height, rotated] : {std::tuple{200, 300, false}, std::tuple{203, 141, true}}) {
        auto rig = makeViewRig(width, height, 27.5f, rotated ? MZ_MV_ROTATED : 0u, 1);
        rig->cameras[kRight].k3 = 0.004f;  // a lens of its own
        Handle h;
        ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
        mz::TopviewInternals in;
        ASSERT_TRUE(mz::topviewInternals(h.h, &in));
        const float ox = rotated ? static_cast<float>(height) - rig->param.centreY : rig->param.centreX;
        const float oy = rotated ? rig->param.centreX : rig->param.centreY;
        const float mm = rig->param.mmPerPixel;
        for (int c = 0; c < 4; ++c) {
            const CameraParam& cam = rig->cameras[c];
            MatrixPtr hm(3, 3);
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k) hm[r][k] = 0.0f;
            mzGetHomography(hm.get(), &cam, 0);
            int wrong = 0;
            for (int row = 0; row < in.workHeight; ++row)
                for (int col = 0; col < in.workWidth; ++col) {
                    const float Y = (static_cast<float>(row) - oy) * mm, X = (static_cast<float>(col) - ox) * mm;
                    const float a = hm[0][0] * X + hm[0][1] * Y + hm[0][2];
                    const float b = hm[1][0] * X + hm[1][1] * Y + hm[1][2];
                    const float w = hm[2][0] * X + hm[2][1] * Y + hm[2][2];
                    float x, y;
                    mz::lens::pixelOfRay(cam, a / w / cam.f, b / w / cam.f, x, y);
                    if (!(x >= 0.0f && x < 720.0f && y >= 0.0f && y < 480.0f)) x = y = -1.0f;
                    const float* m = in.maps[c] + 2 * (static_cast<size_t>(row) * in.workWidth + col);
                    if (std::memcmp(m, &x, 4) != 0 || std::memcmp(m + 1, &y, 4) != 0) ++wrong;
                }
            EXPECT_EQ(0, wrong) << "camera " << c << ", " << width << " x " << height;
        }
    }
}

TEST(TopviewAdjust, ZeroDeltaReproducesTheWorldPointsAndAShiftMovesThem) {
    auto rig = makeViewRig(200, 300, 30.0f, 0, 0);
    CameraParam& front = rig->cameras[kFront];
    // The record's pose in the calibration's frame: y toward the front, height positive.
    front.posX = 0;
    front.posY = 2300;
    front.posZ = 900;
    front.rotX = 40;
    front.rotZ = 0;
    front.rotY = 0;
    const auto truth = rig->world[kFront];
    Handle h;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    const float zero[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, mzMultiviewAdjustCameraPose(h.h, &rig->param, zero, kFront));
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(truth[i].x, rig->world[kFront][i].x, 1.0f) << i;
        EXPECT_NEAR(truth[i].y, rig->world[kFront][i].y, 1.0f) << i;
    }
    mz::TopviewInternals in;
    ASSERT_TRUE(mz::topviewInternals(h.h, &in));
    const std::vector<float> before(in.maps[kFront], in.maps[kFront] + 2 * 200 * 300);
    const float shift[6] = {300, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, mzMultiviewAdjustCameraPose(h.h, &rig->param, shift, kFront));
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(truth[i].x + 300, rig->world[kFront][i].x, 1.0f) << i;
    EXPECT_EQ(2300, front.posY);  // the record's pose is not changed
    ASSERT_TRUE(mz::topviewInternals(h.h, &in));
    // The front camera's picture now lies 300 mm (10 pixels) further right in the top view.
    const float* after = in.maps[kFront];
    const int x = 100, y = 40;
    EXPECT_NEAR(before[2 * (y * 200 + x)], after[2 * (y * 200 + x + 10)], 1.0f);
    EXPECT_EQ(0, mzMultiviewAdjustCameraPose(h.h, &rig->param, shift, 4));
    EXPECT_EQ(0, mzMultiviewAdjustCameraPose(h.h, &rig->param, nullptr, 0));
}

TEST(TopviewInit, BadRecordsDoNotCrash) {
    Handle h;
    EXPECT_EQ(0, mzMultiviewInit(h.h, nullptr));
    auto rig = makeViewRig(0, 300, 30.0f, 0, 0);
    EXPECT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    rig->param.width = -5;
    EXPECT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    rig->param.width = 200;
    rig->param.cameras = nullptr;
    EXPECT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    rig->param.width = 1 << 20;
    rig->param.height = 1 << 20;
    rig->param.cameras = rig->cameras.data();
    EXPECT_EQ(0, mzMultiviewInit(h.h, &rig->param));  // too large for the tables' int lengths
    int len = 5;
    EXPECT_EQ(0, mzMultiviewGetLUTLen(h.h, &len, 0));
    EXPECT_EQ(0, len);
    EXPECT_EQ(0, mzMultiviewGetMaskLen(h.h, &len, 0));
    EXPECT_EQ(0, len);

    // A record made smaller without a new Init: Apply keeps out of the caller's smaller buffer.
    rig->param.width = 200;
    rig->param.height = 300;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &rig->param));
    rig->param.width = 20;
    rig->param.height = 30;
    Pictures pics;
    std::vector<uint8_t> small(stride(20) * 30, 9);
    EXPECT_EQ(
        0, mzMultiviewApply(h.h, pics.p[0].data(), pics.p[2].data(), pics.p[3].data(), pics.p[1].data(), small.data()));
    EXPECT_EQ(std::vector<uint8_t>(stride(20) * 30, 9), small);
}

}  // namespace
