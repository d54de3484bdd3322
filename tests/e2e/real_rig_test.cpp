// The real fisheye rig (tests/data/fisheye-rig-960x640): its PNG pictures, its Config.bin built
// from JSON with the imported lenses, and surveyed pairs derived from its published ground
// homographies (scripts/realdata_rig.py). The AVM2D_FULL tables calibration-cli writes from the
// survey must send every top-view pixel where the published homography sends it.
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "format/opencv_storage.h"
#include "tests/e2e/e2e_util.h"

namespace mz::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kRig = fs::path(MZ_SOURCE_DIR) / "tests/data/fisheye-rig-960x640";
constexpr const char* kCameras[4][2] = {{"Front", "front"}, {"Rear", "back"}, {"Left", "left"}, {"Right", "right"}};
constexpr int kViewW = 480, kViewH = 640;
constexpr double kCanvasPerViewPixel = 2.5;  // 25 mm a view pixel, 10 mm a canvas pixel
constexpr int kCanvasW = 1200, kCanvasH = 1600;

// The picture pixel a canvas point shows in one camera, through the published homography and
// OpenCV's fisheye model; false outside that camera's part of the canvas or beyond its horizon.
class PublishedCamera {
public:
    PublishedCamera(const fs::path& yaml, int index) : index_(index) {
        const auto m = format::readOpencvStorage(yaml);
        const auto& k = m.at("camera_matrix").data;
        fx_ = k[0], fy_ = k[4], cx_ = k[2], cy_ = k[5];
        d_ = m.at("dist_coeffs").data;
        const auto& s = m.at("scale_xy").data;
        const auto& t = m.at("shift_xy").data;
        fx2_ = fx_ * s[0], fy2_ = fy_ * s[1], cx2_ = cx_ + t[0], cy2_ = cy_ + t[1];
        const auto& p = m.at("project_matrix").data;
        for (int i = 0; i < 9; ++i) p_[i] = p[i];
        invert();
        // The floor lies on the side of the horizon where the bottom middle of the projected
        // part (the floor beside the vehicle) lies.
        double ux = 0, uy = 0;
        sideSign_ = 1;
        unproject(partWidth() / 2.0, partHeight() - 1.0, ux, uy);
        sideSign_ = std::copysign(1.0, p_[6] * ux + p_[7] * uy + p_[8]);
    }

    bool pixel(double canvasX, double canvasY, double& px, double& py, double& thetaDeg) const {
        double xp = canvasX, yp = canvasY;
        switch (index_) {
        case 1: xp = kCanvasW - 1 - canvasX, yp = kCanvasH - 1 - canvasY; break;
        case 2: xp = kCanvasH - 1 - canvasY, yp = canvasX; break;
        case 3: xp = canvasY, yp = kCanvasW - 1 - canvasX; break;
        default: break;
        }
        if (xp < 0 || yp < 0 || xp > partWidth() - 1 || yp > partHeight() - 1) return false;
        double ux = 0, uy = 0;
        if (!unproject(xp, yp, ux, uy)) return false;
        const double a = (ux - cx2_) / fx2_, b = (uy - cy2_) / fy2_, r = std::hypot(a, b);
        if (r == 0) return false;
        const double theta = std::atan(r), t2 = theta * theta;
        const double td = theta * (1 + t2 * (d_[0] + t2 * (d_[1] + t2 * (d_[2] + t2 * d_[3]))));
        px = fx_ * td / r * a + cx_;
        py = fy_ * td / r * b + cy_;
        thetaDeg = theta * 180 / M_PI;
        return true;
    }

private:
    // Each camera's part of the canvas: front and rear 1200 x 450, the sides 1600 x 500.
    int partWidth() const { return index_ < 2 ? kCanvasW : kCanvasH; }
    int partHeight() const { return index_ < 2 ? 450 : 500; }

    bool unproject(double xp, double yp, double& ux, double& uy) const {
        const double w = q_[6] * xp + q_[7] * yp + q_[8];
        ux = (q_[0] * xp + q_[1] * yp + q_[2]) / w;
        uy = (q_[3] * xp + q_[4] * yp + q_[5]) / w;
        return std::copysign(1.0, p_[6] * ux + p_[7] * uy + p_[8]) == sideSign_;
    }

    void invert() {
        const double* m = p_;
        const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                           m[2] * (m[3] * m[7] - m[4] * m[6]);
        const double q[9] = {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                             m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                             m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
        for (int i = 0; i < 9; ++i) q_[i] = q[i] / det;
    }

    int index_;
    double fx_, fy_, cx_, cy_, fx2_, fy2_, cx2_, cy2_;
    std::vector<double> d_;
    double p_[9], q_[9];
    double sideSign_ = 1;
};

TEST(RealRig, SurveyedTablesAgreeWithThePublishedCanvas) {
    const fs::path dir = freshFolder("real_rig");
    fs::create_directories(dir / "image");
    for (int c = 0; c < 4; ++c) {
        std::string name = kCameras[c][0];
        for (char& ch : name) ch = static_cast<char>(std::tolower(ch));
        fs::copy_file(kRig / "images" / (std::string(kCameras[c][1]) + ".png"), dir / "image" / (name + ".png"));
    }
    const CliResult built =
        runCli({"config", "build", (kRig / "rig/config.json").string(), "--out", (dir / "Config.bin").string()});
    ASSERT_EQ(built.status, 0) << built.output;
    const CliResult run = runCli({"run", "--config", (dir / "Config.bin").string(), "--data", dir.string(), "--survey",
                                  (kRig / "rig/survey.json").string(), "--report", (dir / "report.json").string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readJson(dir / "report.json")["mode"], "survey");

    std::vector<double> errors;
    for (int c = 0; c < 4; ++c) {
        const PublishedCamera published(kRig / "yaml" / (std::string(kCameras[c][1]) + ".yaml"), c);
        const SourceMap table =
            decodeLut(flashPayload(readBytes(dir / "Lut" / ("AVM2D_FULL" + std::string(kCameras[c][0]) + ".bin"))),
                      kViewW, kViewH);
        size_t compared = 0;
        for (int row = 0; row < kViewH; ++row) {
            for (int col = 0; col < kViewW; ++col) {
                const sim::Vec2 entry = table.source[size_t(row) * kViewW + col];
                double px = 0, py = 0, theta = 0;
                if (entry.x < 0 ||
                    !published.pixel(col * kCanvasPerViewPixel, row * kCanvasPerViewPixel, px, py, theta)) {
                    continue;
                }
                // The lens's calibrated field: the fit of the inverse polynomial ends at 80 to 90 degrees.
                if (theta > 80 || px < 0 || py < 0 || px > 959 || py > 639) continue;
                errors.push_back(std::hypot(entry.x - px, entry.y - py));
                ++compared;
            }
        }
        EXPECT_GT(compared, 10000u) << kCameras[c][0];
    }
    const Distribution d = distribution(errors);
    RecordProperty("median_px", std::to_string(d.median));
    RecordProperty("p95_px", std::to_string(d.p95));
    std::printf(
        "real rig: %zu table entries, distance to the published canvas median %.3f px, 95th %.3f px, "
        "worst %.3f px\n",
        d.count, d.median, d.p95, d.max);
    EXPECT_LE(d.p95, 1.0);
    removeFolder(dir);
}

}  // namespace
}  // namespace mz::e2e
