// Lens records from OpenCV fisheye calibrations: the real rig's four files, a mild lens, and the
// files the import must refuse.
#include "app/core/lens_import.h"

#include <gtest/gtest.h>

#include <cmath>

namespace mz::core {
namespace {

const std::filesystem::path kRig = std::filesystem::path(MZ_SOURCE_DIR) / "tests/data/fisheye-rig-960x640";

std::string storage(const std::string& k, const std::string& d, const std::string& resolution) {
    return "%YAML:1.0\n---\ncamera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n   data: [ " + k +
           " ]\ndist_coeffs: !!opencv-matrix\n   rows: 4\n   cols: 1\n   dt: d\n   data: [ " + d +
           " ]\nresolution: !!opencv-matrix\n   rows: 2\n   cols: 1\n   dt: i\n   data: [ " + resolution + " ]\n";
}

TEST(LensImport, RealRigLensesKeepTheirForwardModelAndFitTheInverseOverTheField) {
    for (const char* camera : {"front", "back", "left", "right"}) {
        const auto entries = format::readOpencvStorage(kRig / "yaml" / (std::string(camera) + ".yaml"));
        const ImportedLens lens = importOpencvFisheye(entries);
        const auto& k = entries.at("camera_matrix").data;
        const auto& d = entries.at("dist_coeffs").data;
        EXPECT_EQ(lens.fx, static_cast<float>(k[0])) << camera;
        EXPECT_EQ(lens.cy, static_cast<float>(k[5])) << camera;
        EXPECT_EQ(lens.k[0], 1.0f);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(lens.k[i + 1], static_cast<float>(d[i])) << camera;
        EXPECT_EQ(lens.width, 960);
        EXPECT_EQ(lens.height, 640);
        // The field ends at 90 degrees or where the polynomial flattens; the fisheye's dark corners
        // lie beyond it.
        EXPECT_GT(lens.fieldDegrees, 75) << camera;
        EXPECT_LE(lens.fieldDegrees, 90.0001) << camera;
        EXPECT_LT(lens.outsideShare, 0.35) << camera;
        EXPECT_LT(lens.maxError, kLensFitLimit) << camera;
        EXPECT_EQ(lens.c[0], 0.0f);

        // A pixel halfway out goes to a ray and back through the stored floats.
        const double u = 0.5 * lens.fieldRadius / std::sqrt(2.0), v = u;
        double theta = 0, p = 1;
        for (int i = 0; i < 9; ++i, p *= std::hypot(u, v)) theta += lens.c[i] * p;
        double t = theta, back = 0;
        for (int i = 0; i < 5; ++i, t *= theta * theta) back += lens.k[i] * t;
        EXPECT_NEAR(back * lens.fx, std::hypot(u, v) * lens.fx, lens.maxError + 1e-6) << camera;
    }
}

TEST(LensImport, MildLensMeetsTheGoalOverTheWholePicture) {
    const ImportedLens lens = importOpencvFisheye(format::parseOpencvYaml(
        storage("700., 0., 640., 0., 700., 360., 0., 0., 1.", "0.01, -0.002, 0., 0.", "1280, 720")));
    EXPECT_EQ(lens.outsideShare, 0.0);
    EXPECT_LE(lens.maxError, kLensFitGoal);
}

TEST(LensImport, XmlStorageReadsAsTheYamlOne) {
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<opencv_storage>\n<camera_matrix type_id=\"opencv-matrix\">\n  <rows>3</rows>\n"
        "  <cols>3</cols>\n  <dt>d</dt>\n  <data>\n    700. 0. 640. 0. 700. 360. 0. 0. 1.</data></camera_matrix>\n"
        "<dist_coeffs type_id=\"opencv-matrix\">\n  <rows>4</rows>\n  <cols>1</cols>\n  <dt>d</dt>\n  <data>\n"
        "    1.0000000000000000e-02 -2.0000000000000000e-03 0. 0.</data></dist_coeffs>\n"
        "<image_width>1280</image_width>\n<image_height>720</image_height>\n<note>calibrated</note>\n"
        "</opencv_storage>\n";
    const ImportedLens fromXml = importOpencvFisheye(format::parseOpencvXml(xml));
    const ImportedLens fromYaml = importOpencvFisheye(format::parseOpencvYaml(
        storage("700., 0., 640., 0., 700., 360., 0., 0., 1.", "0.01, -0.002, 0., 0.", "1280, 720")));
    EXPECT_EQ(fromXml.k, fromYaml.k);
    EXPECT_EQ(fromXml.c, fromYaml.c);
    EXPECT_EQ(fromXml.width, 1280);
    EXPECT_EQ(fromXml.cx, fromYaml.cx);
}

TEST(LensImport, RefusalsNameWhatIsWrong) {
    const auto refusal = [](const std::string& text) -> std::string {
        try {
            importOpencvFisheye(text.find('<') == 0 ? format::parseOpencvXml(text) : format::parseOpencvYaml(text));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(accepted)";
    };
    const std::string k = "300., 0., 480., 0., 300., 320., 0., 0., 1.";
    EXPECT_NE(refusal(storage(k, "0.01, 0.", "960, 640")).find("dist_coeffs: 4 x 1 matrix with 2 numbers"),
              std::string::npos);
    EXPECT_NE(refusal(storage("300., 5., 480., 0., 300., 320., 0., 0., 1.", "0, 0, 0, 0", "960, 640")).find("skew"),
              std::string::npos);
    EXPECT_NE(refusal(storage(k, "0, 0, 0, 0", "960, 0")).find("resolution"), std::string::npos);
    EXPECT_NE(refusal("%YAML:1.0\ncamera_matrix: [1, 2\n").find("YAML"), std::string::npos);
    EXPECT_NE(refusal("<?xml version=\"1.0\"?>\n<opencv_storage><camera_matrix>").find("not readable XML"),
              std::string::npos);
    std::string noCoefficients = storage(k, "0, 0, 0, 0", "960, 640");
    noCoefficients.replace(noCoefficients.find("dist_coeffs"), 11, "distortion");
    EXPECT_NE(refusal(noCoefficients).find("no dist_coeffs"), std::string::npos);
    // theta_d = theta (1 - theta^2) is half as steep as at the centre from 24 degrees.
    EXPECT_NE(refusal(storage(k, "-1, 0, 0, 0", "960, 640")).find("flattens"), std::string::npos);
}

}  // namespace
}  // namespace mz::core
