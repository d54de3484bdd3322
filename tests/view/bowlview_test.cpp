// The bowl views (multi-view kinds 1 and 2) on the synthetic bay: floor points against the top
// view's geometry, the exported tables, the stitching map and Apply, and the records the
// engines refuse.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "geometry/angles.h"
#include "geometry/image.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"
#include "mz/mzview.h"
#include "testing/view_rig.h"
#include "view/bowlview.h"

namespace {

using mztest::noisePicture;

constexpr int kFront = MZ_CAMERA_FRONT, kRear = MZ_CAMERA_REAR, kLeft = MZ_CAMERA_LEFT, kRight = MZ_CAMERA_RIGHT;
constexpr double kPi = mz::kPi<double>;

struct Handle {
    explicit Handle(unsigned kind) : h(mzMultiviewCreate(kind)) {}
    ~Handle() { mzMultiviewRelease(&h); }
    ViewHandle h;
};

// The synthetic bay with a fifth, virtual camera at `eye` looking at `target` (record frame: x
// right, y rear, z down), and a bowl whose floor ellipse has semi-axes 4000 x 6000 mm.
struct BowlRig {
    std::unique_ptr<mztest::ViewRig> rig;
    std::array<CameraParam, 5> cameras{};
    MultiviewParam param{};
};

std::unique_ptr<BowlRig> makeBowlRig(int width, int height, uint32_t flags, const double eye[3], const double target[3],
                                     double fovDeg = 90) {
    auto b = std::make_unique<BowlRig>();
    b->rig = mztest::makeViewRig(width, height, 30.0f, flags, 0);
    for (int c = 0; c < 4; ++c) b->cameras[c] = b->rig->cameras[c];
    CameraParam& v = b->cameras[4];
    double d[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double& x : d) x /= len;
    v.posX = static_cast<float>(eye[0]);
    v.posY = static_cast<float>(eye[1]);
    v.posZ = static_cast<float>(eye[2]);
    v.rotX = static_cast<float>(std::acos(d[2]) * 180 / kPi);
    v.rotZ = static_cast<float>(-std::atan2(-d[0], -d[1]) * 180 / kPi);
    v.fx = v.fy = static_cast<float>(width / 2.0 / std::tan(fovDeg / 2 * kPi / 180));
    b->param = b->rig->param;
    b->param.cameras = b->cameras.data();
    b->param.bowlWallX = 2000;
    b->param.bowlWallY = 3000;
    b->param.bowlHeight = 2000;
    b->param.bowlFloorY = 6000;
    b->param.blendMode = 0;
    return b;
}

const double kEyeBehind[3] = {0, 9000, -6000};
const double kEyeSide[3] = {-7000, -6000, -5000};
const double kCentre[3] = {0, -1000, 0};

// The virtual camera's floor-to-camera rotation as the engine reads the record.
void rotation(const CameraParam& v, double r[3][3]) {
    const double a = -v.rotX * kPi / 180, b = -v.rotY * kPi / 180, g = -v.rotZ * kPi / 180;
    const double rx[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
    const double ry[3][3] = {{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
    const double rz[3][3] = {{std::cos(g), -std::sin(g), 0}, {std::sin(g), std::cos(g), 0}, {0, 0, 1}};
    double t[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            r[i][j] = 0;
            for (int k = 0; k < 3; ++k) t[i][j] += rx[i][k] * ry[k][j];
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += t[i][k] * rz[k][j];
}

// The view pixel of a record-frame point (z down).
void viewPixel(const CameraParam& v, double gx, double gy, double* x, double* y, double gz = 0) {
    double r[3][3];
    rotation(v, r);
    const double d[3] = {gx - v.posX, gy - v.posY, gz - v.posZ};
    double p[3];
    for (int i = 0; i < 3; ++i) p[i] = r[i][0] * d[0] + r[i][1] * d[1] + r[i][2] * d[2];
    *x = p[0] / p[2] * v.fx + v.cx;
    *y = p[1] / p[2] * v.fy + v.cy;
}

// The floor point a view pixel looks at; false above the horizon.
bool floorUnder(const CameraParam& v, int l, int m, double* gx, double* gy) {
    double r[3][3];
    rotation(v, r);
    const double q[3] = {(l - v.cx) / v.fx, (m - v.cy) / v.fy, 1};
    double d[3];
    for (int i = 0; i < 3; ++i) d[i] = r[0][i] * q[0] + r[1][i] * q[1] + r[2][i] * q[2];
    if (d[2] <= 0) return false;
    const double t = -v.posZ / d[2];
    *gx = v.posX + t * d[0];
    *gy = v.posY + t * d[1];
    return true;
}

TEST(BowlviewGeometry, FloorSeenThroughEveryCameraIsWhereTheTopViewPutsIt) {
    for (const double* eye : {kEyeBehind, kEyeSide}) {
        auto b = makeBowlRig(320, 200, 0, eye, kCentre);
        Handle h(2);
        ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
        mz::BowlviewInternals in;
        ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
        const CameraParam& v = b->cameras[4];
        for (int c = 0; c < 4; ++c) {
            SCOPED_TRACE(c);
            const CameraParam& cam = b->cameras[c];
            // Init solved the pose from the point pairs: it is the bay's (height as a negative z).
            EXPECT_NEAR(b->rig->position[c][0], cam.posX, 1.0);
            EXPECT_NEAR(b->rig->position[c][1], cam.posY, 1.0);
            EXPECT_NEAR(-b->rig->position[c][2], cam.posZ, 1.0);
            MatrixPtr toGround(3, 3);
            mzGetHomography(toGround.get(), &cam, 1);
            int checked = 0;
            double worst = 0;
            for (int m = 0; m < in.height; m += 3)
                for (int l = 0; l < in.width; l += 3) {
                    const float* s = in.maps[c] + 2 * (m * in.width + l);
                    double fx = 0, fy = 0;
                    if (s[0] < 0 || !floorUnder(v, l, m, &fx, &fy)) continue;
                    // Only the inner floor, away from where the wall begins.
                    const double ex = fx / (2000.0 / 3000.0 * 6000.0), ey = fy / 6000.0;
                    if (ex * ex + ey * ey > 0.8) continue;
                    // The floor point that source pixel shows, by the top view's homography.
                    const Point3F g = mzImageToWorld({s[0], s[1]}, &cam, toGround.get());
                    double x = 0, y = 0;
                    viewPixel(v, g.x, g.y, &x, &y);
                    worst = std::max(worst, std::hypot(x - l, y - m));
                    ++checked;
                }
            std::printf("camera %d: %d floor pixels, worst %.3f view pixels\n", c, checked, worst);
            EXPECT_GT(checked, 100);
            EXPECT_LT(worst, 1.0);
        }
    }
}

// The wall stands up: a point of the far wall, 0.4 to 1.9 m above the floor, is where the true
// camera sees a point at that height (the rig's frame has z up).
TEST(BowlviewGeometry, FarWallShowsWhatTheCamerasSeeAtItsHeight) {
    auto b = makeBowlRig(320, 200, 0, kEyeBehind, kCentre);
    Handle h(2);
    ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
    mz::BowlviewInternals in;
    ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
    const mztest::ViewRig& rig = *b->rig;
    int checked = 0;
    double worst = 0;
    for (int c = 0; c < 4; ++c)
        for (int k = 3; k <= 20; ++k)
            for (int i = 0; i < mz::kBowlRingPoints; ++i) {
                const float* q = in.mesh + 3 * (k * mz::kBowlRingPoints + i);
                if (q[1] > -3000) continue;  // the front half, across the bowl from the eye
                double x = 0, y = 0;
                viewPixel(b->cameras[4], q[0], q[1], &x, &y, q[2]);
                if (!(x >= 0 && y >= 0 && x < in.width - 1 && y < in.height - 1)) continue;
                // The map between the four pixels around the point, where all four have a source.
                const int l = static_cast<int>(x), m = static_cast<int>(y);
                const double fx = x - l, fy = y - m;
                double s[2] = {0, 0};
                bool whole = true;
                for (int n = 0; n < 4; ++n) {
                    const float* e = in.maps[c] + 2 * ((m + n / 2) * in.width + l + n % 2);
                    const double w = (n % 2 ? fx : 1 - fx) * (n / 2 ? fy : 1 - fy);
                    whole = whole && e[0] >= 0;
                    s[0] += w * e[0];
                    s[1] += w * e[1];
                }
                if (!whole) continue;
                // The true camera's pixel of the wall point, through the rig's exact lens.
                const auto& r = rig.rotation[c];
                const double d[3] = {q[0] - rig.position[c][0], q[1] - rig.position[c][1], -q[2] - rig.position[c][2]};
                double p[3];
                for (int j = 0; j < 3; ++j) p[j] = r[j][0] * d[0] + r[j][1] * d[1] + r[j][2] * d[2];
                if (p[2] <= 0) continue;
                const double lateral = std::hypot(p[0], p[1]), theta = std::atan2(lateral, p[2]);
                const CameraParam& cam = rig.cameras[c];
                const double px = cam.cx + cam.fx * p[0] * theta / lateral,
                             py = cam.cy + cam.fy * p[1] * theta / lateral;
                worst = std::max(worst, std::hypot(px - s[0], py - s[1]));
                ++checked;
            }
    std::printf("%d wall points, worst %.2f camera pixels\n", checked, worst);
    EXPECT_GT(checked, 50);
    EXPECT_LT(worst, 1.5);
}

TEST(BowlviewGeometry, FlatBowlAndUncoveredPixels) {
    auto b = makeBowlRig(160, 100, 0, kEyeBehind, kCentre);
    b->param.bowlHeight = 0;
    b->param.blendWidth = 0;
    Handle h(2);
    ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
    mz::BowlviewInternals in;
    ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
    const float a = 2000, bw = 3000, d = 6000;
    for (int k = 0; k <= 30; ++k) {
        const float psi = static_cast<float>(3 * k) * static_cast<float>(kPi) / 180.0f;
        for (const int i : {0, 15}) {  // on the two axes
            const float* q = in.mesh + 3 * (k * mz::kBowlRingPoints + i);
            EXPECT_EQ(0.0f, q[2]);
            if (i == 0) EXPECT_NEAR(a / bw * d + a * std::cos(psi), q[0], 0.01f);
            else EXPECT_NEAR(d + bw * std::cos(psi), q[1], 0.01f);
        }
    }
    // The view sees far past the bowl's rim: pixels no quad covers keep the missing marks, and
    // with blend width 0 every weight is 1 or missing.
    int uncovered = 0;
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < in.width * in.height; ++i) {
            const float w = in.weights[c][i];
            ASSERT_TRUE(w == 1.0f || w == -1.0f) << w;
        }
    for (int i = 0; i < in.width * in.height; ++i) {
        bool any = false;
        for (int c = 0; c < 4; ++c) any = any || in.maps[c][2 * i] >= 0;
        if (any) continue;
        ++uncovered;
        for (int c = 0; c < 4; ++c) ASSERT_EQ(-1.0f, in.maps[c][2 * i + 1]);
    }
    EXPECT_GT(uncovered, 100);
}

TEST(BowlviewExport, TablesDecodeToTheMapsAndLengthsAreExact) {
    for (const uint32_t flags : {0u, 1u}) {
        auto b = makeBowlRig(160, 100, flags, kEyeBehind, kCentre);
        Handle h(1);
        ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
        mz::BowlviewInternals in;
        ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
        int len = 0;
        ASSERT_EQ(0, mzMultiviewGetLUTLen(h.h, &len, 0));
        ASSERT_EQ(160 * 100 * 4, len);
        for (int c = 0; c < 4; ++c) {
            std::vector<uint8_t> lut(len, 0x5A);
            ASSERT_EQ(0, mzMultiviewGetLUT(h.h, lut.data(), len, c));
            const std::vector<Point2F> decoded = mztest::decodeLut(lut, 160, 100, static_cast<int>(flags));
            int valid = 0;
            for (int y = 0; y < 100; ++y)
                for (int x = 0; x < 160; ++x) {
                    const float* m = in.maps[c] + 2 * (y * 160 + x);
                    const Point2F d = decoded[y * 160 + x];
                    if (m[0] < 0) {
                        ASSERT_EQ(-1.0f, d.x);
                        continue;
                    }
                    if (flags && y % 2 == 1 && m[1] < 1.0f) continue;  // the odd field has no row above
                    ++valid;
                    ASSERT_NEAR(m[0], d.x, flags ? 0.02f : 0.51f);
                    ASSERT_NEAR(m[1], d.y, flags ? 0.04f : 1.01f);
                }
            EXPECT_GT(valid, 1000);
        }
        // A length one short, or a camera out of range: nothing is written.
        std::vector<uint8_t> untouched(len, 0x11);
        EXPECT_EQ(0, mzMultiviewGetLUT(h.h, untouched.data(), len - 1, 0));
        EXPECT_EQ(0, mzMultiviewGetLUT(h.h, untouched.data(), len, 4));
        EXPECT_EQ(std::vector<uint8_t>(len, 0x11), untouched);
        const int expected[4] = {160 * 100 * 2, 160 * 100 * 4, 160 * 100 * 2, 0};  // no RGB24 mask here
        for (int f = 0; f < 4; ++f) {
            ASSERT_EQ(0, mzMultiviewGetMaskLen(h.h, &len, f));
            EXPECT_EQ(expected[f], len);
        }
        std::vector<uint8_t> mask(160 * 100 * 4 + 8, 0x77);
        EXPECT_EQ(0, mzMultiviewGetMask(h.h, mask.data(), 160 * 100 * 2 + 1, 0));
        EXPECT_EQ(0, mzMultiviewGetMask(h.h, mask.data(), 160 * 100 * 3, 3));
        EXPECT_EQ(std::vector<uint8_t>(mask.size(), 0x77), mask);
        EXPECT_EQ(0, mzMultiviewGetMask(h.h, mask.data(), 160 * 100 * 4, 1));
        EXPECT_NE(0x77, mask[0]);
        EXPECT_EQ(0x77, mask[160 * 100 * 4]);
    }
}

// Apply against the layers remapped over the whole view and stitched pixel by pixel.
std::vector<uint8_t> referenceApply(const mz::BowlviewInternals& in, uint32_t flags, int kind,
                                    const std::vector<uint8_t>* const pictures[4]) {
    const int W = in.width, H = in.height, stride = MZ_ROW_STRIDE24(W);
    const uint8_t red[3] = {0, 0, 255};
    mz::ImageBufferPtr layer[4];
    for (int c = 0; c < 4; ++c) {
        layer[c].reset(mz::createImageBuffer(3, W, H));
        mz::ImageBufferPtr src(mz::createImageBuffer(3, 720, 480));
        for (int r = 0; r < 480; ++r) std::memcpy(src->rows[r], pictures[c]->data() + r * src->stride, src->stride);
        std::vector<float*> rows(H);
        for (int r = 0; r < H; ++r) rows[r] = const_cast<float*>(in.maps[c]) + 2 * W * r;
        EXPECT_EQ(0, mzRemap(src.get(), layer[c].get(), rows.data(), static_cast<int>(flags & 1u), red));
    }
    std::vector<uint8_t> out(static_cast<size_t>(stride) * H);
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) {
            const uint8_t* code = in.blendMap + 3 * (r * W + x);
            uint8_t* d = &out[r * stride + 3 * x];
            auto px = [&](int c) { return layer[c]->rows[r] + 3 * x; };
            auto mix = [&](int p, int q) {
                for (int k = 0; k < 3; ++k)
                    d[k] = static_cast<uint8_t>(((px(q)[k] - px(p)[k]) * code[2] + px(p)[k] * 256) >> 8);
            };
            const bool left = code[1] == 0;
            if ((code[0] != 0 && code[0] != 255) || (code[1] != 0 && code[1] != 255)) {
                std::memcpy(d, code, 3);
            } else if (code[2] == 0) {
                std::memcpy(d, px(code[0] == 0 ? (left ? kFront : kRight) : (left ? kLeft : kRear)), 3);
            } else {
                mix(code[0] == 0 ? kFront : kRear, left ? kLeft : kRight);
            }
            if (kind == 1 && (flags & 0x4000u)) d[2] = static_cast<uint8_t>((code[2] + d[2]) >> 1);
        }
    return out;
}

TEST(BowlviewApply, BothKindsMatchTheRemapAndStitch) {
    const std::vector<uint8_t> p[4] = {noisePicture(720, 480, 1), noisePicture(720, 480, 2), noisePicture(720, 480, 3),
                                       noisePicture(720, 480, 4)};
    const std::vector<uint8_t>* pictures[4] = {&p[0], &p[1], &p[2], &p[3]};
    for (const int kind : {1, 2})
        for (const uint32_t flags : {0u, 0x4001u}) {
            SCOPED_TRACE(kind * 100000 + static_cast<int>(flags));
            auto b = makeBowlRig(160, 100, flags, kEyeBehind, kCentre);
            Handle h(static_cast<unsigned>(kind));
            ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
            mz::BowlviewInternals in;
            ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
            std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(160)) * 100, 0xAB);
            ASSERT_EQ(0, mzMultiviewApply(h.h, p[kFront].data(), p[kLeft].data(), p[kRight].data(), p[kRear].data(),
                                          out.data()));
            ASSERT_EQ(referenceApply(in, flags, kind, pictures), out);
            // Every zone is there: corners share, the middle shows the vehicle colour.
            int zones[6] = {};
            for (int i = 0; i < 160 * 100; ++i) {
                const uint8_t* c = in.blendMap + 3 * i;
                const bool pure0 = c[0] == 0 || c[0] == 255, pure1 = c[1] == 0 || c[1] == 255;
                zones[!pure0 || !pure1 ? 5 : c[2] != 0 ? 4 : (c[0] != 0) * 2 + (c[1] != 0)]++;
            }
            for (int z = 0; z < 6; ++z) EXPECT_GT(zones[z], 20) << z;
            // A camera left out keeps its layer: the same picture again gives the same view, even
            // across a new Init.
            ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
            std::vector<uint8_t> again(out.size(), 0);
            ASSERT_EQ(0, mzMultiviewApply(h.h, nullptr, p[kLeft].data(), nullptr, p[kRear].data(), again.data()));
            EXPECT_EQ(out, again);
        }
}

TEST(BowlviewBlend, KindOnePredefinedStartsAllFrontAndVehiclePicturesStayInTheLayer) {
    const std::vector<uint8_t> front = noisePicture(720, 480, 7);
    auto b = makeBowlRig(160, 100, 0, kEyeBehind, kCentre);
    b->param.blendMode = 4;
    Handle one(1);
    ASSERT_EQ(0, mzMultiviewInit(one.h, &b->param));
    mz::BowlviewInternals in;
    ASSERT_TRUE(mz::bowlviewInternals(one.h, &in));
    for (int i = 0; i < 160 * 100 * 3; ++i) ASSERT_EQ(0, in.blendMap[i]);
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(160)) * 100);
    ASSERT_EQ(0, mzMultiviewApply(one.h, front.data(), nullptr, nullptr, nullptr, out.data()));
    const std::vector<uint8_t>* pictures[4] = {&front, &front, &front, &front};
    EXPECT_EQ(referenceApply(in, 0, 1, pictures), out);

    // A picture placed partly outside the view (both kinds): what falls inside lands, clipped.
    std::vector<uint8_t> car(static_cast<size_t>(MZ_ROW_STRIDE24(40)) * 30, 0);
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 40; ++c) {
            uint8_t* px = &car[r * MZ_ROW_STRIDE24(40) + 3 * c];
            px[0] = 40, px[1] = 80, px[2] = 255;  // kind 1 takes only 1..254: this red is a key
            if (c >= 10) px[2] = 120;
        }
    for (const unsigned kind : {1u, 2u}) {
        SCOPED_TRACE(kind);
        Handle h(kind);
        b->param.blendMode = 0;
        ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
        ASSERT_EQ(0, mzMultiviewSetImage(h.h, 40, 30, car.data(), 0, -20, 85, 40, 30));
        ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
        const uint8_t* inside = in.blendMap + 3 * (90 * 160 + 0);  // picture (r 5, c 20)
        EXPECT_EQ((std::vector<int>{40, 80, 120}), (std::vector<int>{inside[0], inside[1], inside[2]}));
        ASSERT_EQ(0, mzMultiviewSetImage(h.h, 40, 30, car.data(), 0, 140, -10, 40, 30));
        ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
        const uint8_t* corner = in.blendMap + 3 * (5 * 160 + 145);  // picture (r 15, c 5)
        if (kind == 2) {
            EXPECT_EQ((std::vector<int>{40, 80, 254}), (std::vector<int>{corner[0], corner[1], corner[2]}));
        }
        // Kind 1 keeps the placed picture through a new Init, kind 2 rebuilds without it.
        ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
        ASSERT_TRUE(mz::bowlviewInternals(h.h, &in));
        const uint8_t* kept = in.blendMap + 3 * (15 * 160 + 155);  // picture (r 25, c 15)
        EXPECT_EQ(kind == 1, kept[0] == 40 && kept[1] == 80 && kept[2] == 120);
    }
}

TEST(BowlviewInit, RecordsTheEngineRefusesOrPartlyIgnores) {
    auto b = makeBowlRig(160, 100, 0, kEyeBehind, kCentre);
    Handle h(2);
    int len = -1;
    // A virtual camera without a focal length, and a view whose tables would overflow their length.
    b->cameras[4].fx = 0;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
    b->cameras[4].fx = 80;
    b->param.width = 50000;
    b->param.height = 50000;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
    ASSERT_EQ(0, mzMultiviewGetLUTLen(h.h, &len, 0));
    EXPECT_EQ(0, len);
    std::vector<uint8_t> out(16, 0xAB);
    EXPECT_EQ(0, mzMultiviewApply(h.h, nullptr, nullptr, nullptr, nullptr, out.data()));
    EXPECT_EQ(std::vector<uint8_t>(16, 0xAB), out);

    // A camera with three point pairs keeps the pose it had; the others get theirs solved.
    b->param.width = 160;
    b->param.height = 100;
    b->cameras[kLeft].pointCount = 3;
    b->cameras[kLeft].posX = 123;
    b->cameras[kLeft].rotX = 45;
    ASSERT_EQ(0, mzMultiviewInit(h.h, &b->param));
    EXPECT_EQ(123.0f, b->cameras[kLeft].posX);
    EXPECT_EQ(45.0f, b->cameras[kLeft].rotX);
    EXPECT_NEAR(-b->rig->position[kRight][2], b->cameras[kRight].posZ, 1.0);
    EXPECT_EQ(80.0f, b->cameras[4].cx);  // the view's centre
    ASSERT_EQ(0, mzMultiviewGetLUTLen(h.h, &len, 0));
    EXPECT_EQ(160 * 100 * 4, len);
    EXPECT_EQ(0, mzMultiviewAdjustCameraPose(h.h, &b->param, nullptr, 0));
}

}  // namespace
