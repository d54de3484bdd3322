#include "app/cli/bowl_command.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"
#include "app/cli/option_checks.h"
#include "app/cli/output_paths.h"
#include "app/cli/picture_file.h"
#include "app/cli/report_points.h"
#include "app/cli/run_command.h"
#include "app/cli/simulate_command.h"
#include "app/cli/terminal_ui.h"
#include "app/core/bowl_view.h"
#include "app/core/config_check.h"
#include "app/core/detector_run.h"
#include "format/bitmap.h"
#include "format/file_read.h"
#include "format/output_set.h"
#include "format/picture.h"
#include "mz/mzview.h"

namespace mz::cli {

namespace {

using nlohmann::json;

std::string presetNames() {
    std::string names;
    for (const core::BowlPreset& p : core::kBowlPresets) names += (names.empty() ? "" : ", ") + std::string(p.name);
    return names;
}

// "a,b,c" with `count` finite numbers.
std::vector<double> parseNumbers(const std::string& text, size_t count, const std::string& option) {
    std::vector<double> values;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        size_t used = 0;
        double v = 0;
        try {
            v = std::stod(part, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        while (used < part.size() && part[used] == ' ') ++used;
        if (used == 0 || used != part.size() || !std::isfinite(v) || std::abs(v) > 1e7)
            throw std::invalid_argument(option + " needs " + std::to_string(count) +
                                        " numbers separated by commas, not \"" + text + "\"");
        values.push_back(v);
    }
    if (values.size() != count)
        throw std::invalid_argument(option + " needs " + std::to_string(count) +
                                    " numbers separated by commas, not \"" + text + "\"");
    return values;
}

core::VehiclePoint parsePoint(const std::string& text, const std::string& option) {
    const std::vector<double> v = parseNumbers(text, 3, option);
    return {v[0], v[1], v[2]};
}

// The calibrated point pairs of every camera, from the report of a run.
void readReport(const std::string& path, core::CalibrationState& state) {
    const json report = json::parse(format::readTextFile(path), nullptr, false);
    if (report.is_discarded() || !report.is_object() || !report.contains("cameras") || !report["cameras"].is_object())
        throw std::runtime_error(path + " is not a report of calibration-cli run");
    if (report.contains("ok") && report["ok"] == false)
        throw std::runtime_error("the report " + path + " is of a run that failed: there is no calibration to show");
    for (int c = 0; c < core::kCameraCount; ++c) {
        const json& cameras = report["cameras"];
        if (!cameras.contains(kCameraKeys[c]) || !cameras[kCameraKeys[c]].is_object())
            throw std::runtime_error("the report has no " + std::string(kCameraKeys[c]) + " camera");
        const json& camera = cameras[kCameraKeys[c]];
        const std::string where = "the report " + path + ": cameras." + kCameraKeys[c];
        const CameraParam& record = state.cameras[c];
        state.imagePoints[c] = reportImagePoints(camera, where, record.width, record.height);
        state.worldPoints[c] = reportWorldPoints(camera, where);
    }
}

std::string defaultPictureName(const BowlOptions& o) {
    const bool custom = !o.eye.empty() || !o.lookAt.empty();
    return custom ? "bowl.bmp" : "bowl-" + o.preset + ".bmp";
}

}  // namespace

void addBowlCommand(CLI::App& app, BowlOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "bowl",
        "Render the bowl view of a calibrated bay (the cameras projected onto a floor that rises into a wall "
        "around the vehicle, seen by a virtual camera) and write its tables and mask");
    cmd->footer(
        "Points are millimetres in the vehicle's frame: from its centre on the floor, x to its right, y to its "
        "front, z up. Without --eye and --look-at the virtual camera stands where --preset puts it (" +
        presetNames() +
        "); --eye or --look-at alone moves that end of the preset.\n"
        "Example:\n  calibration-cli run --config bay/Config.bin --data bay --report bay/report.json\n"
        "  calibration-cli bowl --config bay/Config.bin --data bay --report bay/report.json --preset rear-left");
    cmd->add_option("--config", o.config, "Config.bin of the vehicle")->required()->check(CLI::ExistingFile);
    cmd->add_option("--data", o.data, "Data folder with image/front.bmp, rear, left, right")
        ->required()
        ->check(CLI::ExistingDirectory);
    cmd->add_option("--report", o.report, "JSON report of calibration-cli run on these pictures (its points)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("--kind", o.kind, "Multi-view kind 1 or 2 (they differ in how a car picture is kept)")
        ->capture_default_str()
        ->check(CLI::IsMember({1, 2}));
    cmd->add_option("--preset", o.preset, "Place of the virtual camera: " + presetNames())
        ->capture_default_str()
        ->check([](const std::string& name) {
            return core::findBowlPreset(name) ? std::string()
                                              : "unknown preset \"" + name + "\" (" + presetNames() + ")";
        });
    cmd->add_option("--eye", o.eye, "Eye point of the virtual camera x,y,z (mm)");
    cmd->add_option("--look-at", o.lookAt, "Point the virtual camera looks at x,y,z (mm)");
    cmd->add_option("--fov", o.fov, "Horizontal field of view of the virtual camera, degrees (default 90)")
        ->check(numberWithin(1, 170));
    cmd->add_option("--size", o.size, "View size WxH in pixels")->capture_default_str();
    cmd->add_option("--bowl", o.bowl,
                    "Bowl shape wallX,wallY,height,floorY (mm): the floor ellipse has semi-axes wallX/wallY*floorY "
                    "across and floorY along; the wall rises by height while widening by wallX and wallY "
                    "(default: the floor ends a tenth beyond the markers, wall 2.5 m)");
    cmd->add_option("--out", o.out, "Folder for Lut/ and the picture (default: the data folder)");
    cmd->add_option("--picture", o.picture, "Bitmap file of the view (default: OUT/bowl-PRESET.bmp, or OUT/bowl.bmp)");
    cmd->add_option("--name", o.name, "File name stem of the tables and the mask in Lut/")->capture_default_str();
    cmd->add_option("--first-id", o.firstId, "Identifier of the front table; rear, left, right and the mask follow")
        ->capture_default_str()
        ->check(wholeWithin(1, core::kMaxFileId - core::kCameraCount));
    cmd->add_option("--lut-version", o.lutVersion, "Data version of the files, MAJOR.MINOR (default 1.0)");
    cmd->add_flag("--no-tables", o.noTables, "Write only the picture");
}

int runBowl(const BowlOptions& o) {
    core::BowlRequest request;
    request.kind = o.kind;
    request.tables = !o.noTables;
    if (!parseImageSize(o.size, request.width, request.height) || request.width < 2 || request.height < 2 ||
        request.width > core::kMaxViewSide || request.height > core::kMaxViewSide)
        throw std::invalid_argument("--size must be WxH, each side 2.." + std::to_string(core::kMaxViewSide) +
                                    " pixels (e.g. 1280x720), not \"" + o.size + "\"");
    int major = 1, minor = 0;
    if (!o.lutVersion.empty()) parseDataVersion("--lut-version", o.lutVersion, major, minor);
    const core::BowlPreset* preset = core::findBowlPreset(o.preset);
    if (preset == nullptr) throw std::invalid_argument("unknown preset \"" + o.preset + "\" (" + presetNames() + ")");

    const std::filesystem::path out = o.out.empty() ? std::filesystem::path(o.data) : std::filesystem::path(o.out);
    const std::string picturePath = o.picture.empty() ? (out / defaultPictureName(o)).string() : o.picture;
    {
        std::vector<NamedPath> inputs = dataPictures(o.data);
        inputs.insert(inputs.end(), {{"--config", o.config}, {"--report", o.report}});
        std::vector<NamedPath> outputs = {
            {"--picture", picturePath}, {"the bowl's manifest", out / format::manifestName(core::bowlSetName(o.name))}};
        for (const char* table : {"Front.bin", "Rear.bin", "Left.bin", "Right.bin", "Cmask.bin"})
            outputs.push_back({"the table " + o.name + table, out / "Lut" / (o.name + table)});
        refuseOutputsNamingInputs(inputs, outputs);
    }

    TerminalUi ui(TerminalAnswers{}, stdout, stderr);
    core::CalibrationState state;
    core::loadConfigurationOrThrow(o.config, state, ui);
    readReport(o.report, state);

    const CameraParam& front = state.cameras[core::kFront];
    std::array<format::Bitmap, core::kCameraCount> pictures;
    std::array<const uint8_t*, core::kCameraCount> pixels{};
    for (int c = 0; c < core::kCameraCount; ++c) {
        const std::filesystem::path folder = std::filesystem::path(o.data) / "image";
        const std::optional<std::filesystem::path> found = format::findPicture(folder, kCameraKeys[c]);
        if (!found)
            throw std::runtime_error("no picture " + (folder / kCameraKeys[c]).string() + ".bmp (or .png, .jpg)");
        const std::filesystem::path& path = *found;
        format::PictureRead read = format::readPicture(path);
        std::optional<format::Bitmap>& picture = read.picture;
        if (!picture) throw std::runtime_error("cannot read the picture " + path.string() + ": " + read.problem);
        if (picture->bitsPerPixel != 24) throw std::runtime_error(path.string() + " is not a 24-bit colour picture");
        if (picture->width != front.width || picture->height != front.height)
            throw std::runtime_error(path.string() + " is " + std::to_string(picture->width) + "x" +
                                     std::to_string(picture->height) + ", the cameras of Config.bin take " +
                                     std::to_string(front.width) + "x" + std::to_string(front.height));
        pictures[c] = std::move(*picture);
        pixels[c] = pictures[c].pixels.data();
    }

    request.shape = o.bowl.empty() ? core::defaultBowlShape(core::bayExtent(state)) : core::BowlShape{};
    if (!o.bowl.empty()) {
        const std::vector<double> v = parseNumbers(o.bowl, 4, "--bowl");
        if (!(v[1] > 0 && v[3] > 0 && v[0] >= 0 && v[2] >= 0))
            throw std::invalid_argument("--bowl: wallY and floorY must be above 0, wallX and height 0 or more");
        request.shape = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]),
                         static_cast<float>(v[3])};
    }
    request.eye = core::presetEye(*preset, request.shape);
    if (!o.eye.empty()) request.eye.eye = parsePoint(o.eye, "--eye");
    if (!o.lookAt.empty()) request.eye.target = parsePoint(o.lookAt, "--look-at");
    if (o.fov > 0) request.eye.fovDeg = o.fov;

    const core::BowlRendering view = core::renderBowl(state, request, pixels);
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) throw std::runtime_error("cannot create " + out.string() + ": " + ec.message());
    writeBitmapFile(picturePath, view.width, view.height, view.picture, "the bowl view");

    const core::BowlEye& e = request.eye;
    const core::BowlShape& s = request.shape;
    // Whole millimetres, without the sign of a rounded-away -0.
    auto mm = [](double v) { return std::round(v) + 0.0; };
    std::printf("Bowl view, kind %d, %dx%d: eye %.0f,%.0f,%.0f looking at %.0f,%.0f,%.0f, field of view %.0f deg\n",
                request.kind, view.width, view.height, mm(e.eye.x), mm(e.eye.y), mm(e.eye.z), mm(e.target.x),
                mm(e.target.y), mm(e.target.z), e.fovDeg);
    std::printf("Bowl %.0f,%.0f,%.0f,%.0f: floor ellipse %.0f x %.0f mm, wall %.0f mm high\n", s.wallX, s.wallY,
                s.height, s.floorY, 2.0 * s.wallX / s.wallY * s.floorY, 2.0 * s.floorY, s.height);
    std::printf("Timings (ms): init %.1f, apply %.1f\n", view.initMs, view.applyMs);

    int status = 0;
    if (o.noTables) {
        std::printf("Tables not written (--no-tables)\n");
    } else if (mzCheckLUTSourceSize(front.width, front.height) != 0) {
        std::fprintf(stderr,
                     "calibration-cli bowl: the tables are not written: the display unit's tables address at most "
                     "%dx%d source pixels, the pictures are %dx%d\n",
                     MZ_LUT_MAX_SOURCE_WIDTH, MZ_LUT_MAX_SOURCE_HEIGHT, front.width, front.height);
    } else {
        core::SaveReport saved;
        try {
            format::OutputSet set(out, core::bowlSetName(o.name), "calibration-cli bowl");
            saved = core::writeBowlFiles(set, o.name, o.firstId, view, format::localDate(), major, minor);
            if (saved.failed.empty()) set.commit();
        } catch (const std::exception& e) {
            saved.failed.push_back(e.what());
        }
        if (!saved.failed.empty()) saved.written.clear();
        for (const core::WrittenFile& f : saved.written)
            std::printf("  %-28s id %4d  %9lld bytes\n", f.path.generic_string().c_str(), f.identifier,
                        static_cast<long long>(f.payloadBytes));
        for (const std::string& f : saved.failed)
            std::fprintf(stderr, "calibration-cli bowl: not written: %s\n", f.c_str());
        if (!saved.failed.empty()) status = 1;
        std::printf("%zu files written below %s\n", saved.written.size(), out.string().c_str());
    }
    std::printf("Bowl view: %s\n", picturePath.c_str());
    return status;
}

}  // namespace mz::cli
