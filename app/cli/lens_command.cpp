#include "app/cli/lens_command.h"

#include <cstdio>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/folded_output.h"
#include "app/core/lens_import.h"
#include "format/opencv_storage.h"

namespace mz::cli {

namespace {

// Floats printed in their shortest form, as config show prints them.
using Json =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;

}  // namespace

void addLensCommand(CLI::App& app, LensOptions& o) {
    CLI::App* cmd = app.add_subcommand("lens", "Lens records for Config.bin from other calibrations");
    cmd->require_subcommand(1);
    CLI::App* import = cmd->add_subcommand(
        "import",
        "Print a camera's lens fields (f, fx, fy, cx, cy, k1..k5, c0..c8, width, height) for config "
        "build's JSON, with the inverse polynomial fitted and its round-trip error");
    import
        ->add_option(
            "--opencv-fisheye", o.opencvFisheye,
            "OpenCV file storage (YAML or XML) of cv::fisheye::calibrate: camera_matrix, dist_coeffs, resolution")
        ->required()
        ->check(CLI::ExistingFile);
    import->add_option("--name", o.name, "Camera of the record: front, rear, left or right")
        ->check(CLI::IsMember({"front", "rear", "left", "right"}));
}

int runLens(const LensOptions& o) {
    const core::ImportedLens lens = core::importOpencvFisheye(format::readOpencvStorage(o.opencvFisheye));
    std::fprintf(stderr,
                 "%s: %d x %d, field up to %.1f degrees (%.1f %% of the picture lies beyond it); inverse "
                 "polynomial round trip over the field: worst %.4f px, rms %.4f px (goal %.2f px)\n",
                 o.opencvFisheye.c_str(), lens.width, lens.height, lens.fieldDegrees, 100 * lens.outsideShare,
                 lens.maxError, lens.rmsError, core::kLensFitGoal);
    if (lens.maxError > core::kLensFitLimit) {
        std::fprintf(stderr,
                     "calibration-cli: the inverse polynomial c0..c8 cannot follow this lens within %.1f px over the "
                     "picture; no lens record is given\n",
                     core::kLensFitLimit);
        return 1;
    }
    if (lens.maxError > core::kLensFitGoal) {
        std::fprintf(stderr, "calibration-cli: warning: the fit misses the %.2f px goal\n", core::kLensFitGoal);
    }
    Json out = Json::object();
    if (!o.name.empty()) out["camera"] = o.name;
    out["f"] = lens.f;
    out["fx"] = lens.fx;
    out["fy"] = lens.fy;
    out["cx"] = lens.cx;
    out["cy"] = lens.cy;
    for (int i = 0; i < 5; ++i) out["k" + std::to_string(i + 1)] = lens.k[i];
    for (int i = 0; i < 9; ++i) out["c" + std::to_string(i)] = lens.c[i];
    out["width"] = lens.width;
    out["height"] = lens.height;
    std::fprintf(dataStream(), "%s\n", out.dump(2).c_str());
    return 0;
}

}  // namespace mz::cli
