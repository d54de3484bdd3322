#include "app/cli/parking_guide_command.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/option_checks.h"
#include "app/cli/output_paths.h"
#include "app/cli/report_points.h"
#include "app/cli/terminal_ui.h"
#include "app/core/detector_run.h"
#include "app/core/parking_guide_run.h"
#include "app/core/session.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/file_read.h"
#include "format/output_set.h"
#include "format/picture.h"

namespace mz::cli {

namespace {

using nlohmann::json;

constexpr int kMaxSteer = 89;  // the library has no turning circle at a right angle
constexpr size_t kMaxAngles = 1000;
// Every length the guide takes, in mm: far beyond any vehicle, and within what a float holds exactly.
constexpr int kMaxMm = 100000;
constexpr int kMaxPointsPerAngle = 100000;
// Points of one run, all angles together. Each costs some hundred bytes in the JSON being built,
// so this keeps a run within some tens of megabytes; 179 angles of 1000 points still fit.
constexpr size_t kMaxGuidePoints = 200000;

// Whole number in [low, high]; false for anything else.
bool parseInt(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 7) return false;
    size_t used = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size() && value >= low && value <= high;
}

std::array<int32_t, 3> parseDistances(const std::string& text) {
    std::array<int32_t, 3> d{};
    std::stringstream in(text);
    std::string part;
    int n = 0;
    while (std::getline(in, part, ',')) {
        int v = 0;
        if (n >= 3 || !parseInt(part, 1, 100000, v)) n = 4;
        if (n >= 3) break;
        d[n++] = v;
    }
    if (n != 3 || d[1] <= d[0] || d[2] <= d[1]) {
        throw std::invalid_argument("--distances must be three increasing distances in mm, e.g. 500,1000,2000, not \"" +
                                    text + "\"");
    }
    return d;
}

// The rear camera's points of a calibration run's report.
void readRearCamera(const std::string& path, core::CalibratedCamera& camera) {
    const json report = json::parse(format::readTextFile(path), nullptr, false);
    const std::string where = "the report " + path;
    if (report.is_discarded() || !report.is_object()) throw std::runtime_error(where + " is not JSON");
    const json* result = nullptr;
    if (report.contains("calibration") && report["calibration"].is_object() && report["calibration"].contains("result"))
        result = &report["calibration"]["result"];
    if (result == nullptr || !result->is_number_integer()) {
        throw std::runtime_error(where + " holds no calibration (a run that stopped before \"Apply AVM\")");
    }
    if (result->get<long long>() < 0) {
        throw std::runtime_error(where + " is of a calibration that failed (result " +
                                 std::to_string(result->get<long long>()) + ")");
    }
    if (!report.contains("cameras") || !report["cameras"].is_object() || !report["cameras"].contains("rear"))
        throw std::runtime_error(where + " has no rear camera");
    const json& rear = report["cameras"]["rear"];
    if (!rear.is_object() || !rear.contains("worldPoints") || !rear.contains("imagePoints"))
        throw std::runtime_error(where + ": the rear camera has no calibrated floor points");
    camera.imagePoints = reportImagePoints(rear, where + ": cameras.rear", camera.record.width, camera.record.height);
    camera.worldPoints = reportWorldPoints(rear, where + ": cameras.rear");
}

json pointsJson(const std::vector<Point2F>& points) {
    json a = json::array();
    for (const Point2F& p : points) a.push_back({p.x, p.y});
    return a;
}

int pointsInPicture(const std::vector<Point2F>& points, int width, int height) {
    int n = 0;
    for (const Point2F& p : points)
        if (!(p.x == -1.0f && p.y == -1.0f) && p.x >= 0 && p.y >= 0 && p.x <= width - 1 && p.y <= height - 1) ++n;
    return n;
}

std::string angleFileName(int angle, const char* kind = "") {
    return "parking_guide_" + std::string(kind) + std::to_string(angle) + ".bmp";
}

}  // namespace

void checkGuideWork(size_t angles, int pointsPerAngle) {
    const uint64_t total = uint64_t{angles} * static_cast<uint64_t>(std::max(pointsPerAngle, 0));
    if (total > kMaxGuidePoints) {
        throw std::invalid_argument("--steer gives " + std::to_string(angles) + " angles of --points " +
                                    std::to_string(pointsPerAngle) + ": " + std::to_string(total) +
                                    " points, more than one run writes (" + std::to_string(kMaxGuidePoints) +
                                    "); give fewer angles or points");
    }
}

std::vector<int> parseSteerRange(const std::string& text) {
    const std::string usage =
        "--steer must be FROM:TO:STEP or one angle, whole degrees within -89..89 (e.g. "
        "-35:35:5), not \"" +
        text + "\"";
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':')) parts.push_back(part);
    if (!text.empty() && text.back() == ':') parts.push_back("");
    int from = 0, to = 0, step = 1;
    if (parts.size() == 1) {
        if (!parseInt(parts[0], -kMaxSteer, kMaxSteer, from)) throw std::invalid_argument(usage);
        return {from};
    }
    if (parts.size() != 3 || !parseInt(parts[0], -kMaxSteer, kMaxSteer, from) ||
        !parseInt(parts[1], -kMaxSteer, kMaxSteer, to) || !parseInt(parts[2], 1, 2 * kMaxSteer, step) || to < from) {
        throw std::invalid_argument(usage);
    }
    std::vector<int> angles;
    for (int a = from; a <= to && angles.size() < kMaxAngles; a += step) angles.push_back(a);
    return angles;
}

void addParkingGuideCommand(CLI::App& app, ParkingGuideOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "parking-guide", "Parking-guide lines of the calibrated rear camera for a range of steering angles");
    cmd->footer(
        "Writes OUT/parking_guide.json: per steering angle the two guide lines on the floor (mm; x across the\n"
        "vehicle, y along it, negative behind its centre) and in the rear camera picture (pixels), three\n"
        "segments each (right line, then the left line back), (-1, -1) between segments and for points\n"
        "the camera cannot place. --draw ANGLE also writes OUT/parking_guide_ANGLE.bmp: the configuration's\n"
        "rear single view (or the rear picture when there is none) made from DATA/image/rear.bmp with the\n"
        "lines drawn, the nearest segment red, then yellow, then green. --overlay ANGLE writes\n"
        "OUT/parking_guide_overlay_ANGLE.bmp: the lines on the floor as the overlay picture of run --overlay\n"
        "(10 mm a pixel, centred across the vehicle, row 0 at the rear bumper). The rear camera's calibration comes\n"
        "from the report of calibration-cli run; vehicle width and length from Config.bin.");
    cmd->add_option("--config", o.config, "Config.bin of the vehicle")->required()->check(CLI::ExistingFile);
    cmd->add_option("--report", o.report, "report.json of a calibration-cli run on this vehicle")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("--steer", o.steer, "Steering angles in degrees, FROM:TO:STEP or one angle (within -89..89)")
        ->capture_default_str();
    cmd->add_option("--out", o.out, "Folder for the JSON file and the picture (default: the report's folder)");
    cmd->add_option("--draw", o.draw, "Draw the lines of this steering angle over the rear view")
        ->check(wholeWithin(-kMaxSteer, kMaxSteer));
    cmd->add_option("--overlay", o.overlay,
                    "Write the lines of this steering angle as the overlay picture of run --overlay")
        ->check(wholeWithin(-kMaxSteer, kMaxSteer));
    cmd->add_option("--data", o.data,
                    "Data folder holding image/rear.bmp for --draw (default: the folder of Config.bin)");
    cmd->add_option("--wheel-base", o.wheelBase, "Wheel base, mm")
        ->capture_default_str()
        ->check(numberWithin(1, kMaxMm));
    cmd->add_option("--line-spacing", o.lineSpacing, "Distance between the two lines, mm (default: vehicle width)")
        ->check(numberWithin(0, kMaxMm));
    cmd->add_option("--vehicle-length", o.vehicleLength, "Vehicle length, mm (default: from Config.bin)")
        ->check(wholeWithin(0, kMaxMm));
    cmd->add_option("--start-offset", o.startOffset, "Distance behind the rear overhang where the lines start, mm")
        ->capture_default_str()
        ->check(wholeWithin(-kMaxMm, kMaxMm));
    cmd->add_option("--line-shift", o.lineShift, "Shift of the lines along the driving axis, mm")
        ->capture_default_str()
        ->check(wholeWithin(-kMaxMm, kMaxMm));
    cmd->add_option("--distances", o.distances, "Ends of the three segments, mm")->capture_default_str();
    cmd->add_option("--points", o.points, "Points per steering angle, separators included (14 or more)")
        ->capture_default_str()
        ->check(wholeWithin(14, kMaxPointsPerAngle));
}

int runParkingGuide(const ParkingGuideOptions& o) {
    const std::vector<int> angles = parseSteerRange(o.steer);
    for (const auto& [name, angle] : {std::pair{"--draw", o.draw}, std::pair{"--overlay", o.overlay}}) {
        if (angle && (*angle < -kMaxSteer || *angle > kMaxSteer)) {
            throw std::invalid_argument(std::string(name) + " must be a steering angle within -89..89 degrees");
        }
    }
    checkGuideWork(angles.size(), o.points);
    core::GuideSettings settings;
    settings.wheelBase = static_cast<float>(o.wheelBase);
    settings.lineSpacing = static_cast<float>(o.lineSpacing);
    settings.vehicleLength = o.vehicleLength;
    settings.startOffset = o.startOffset;
    settings.lineShift = o.lineShift;
    settings.distances = parseDistances(o.distances);
    settings.maxPoints = o.points;

    const std::filesystem::path out =
        o.out.empty() ? std::filesystem::path(o.report).parent_path() : std::filesystem::path(o.out);
    const std::filesystem::path data =
        o.data.empty() ? std::filesystem::path(o.config).parent_path() : std::filesystem::path(o.data);
    {
        std::vector<NamedPath> inputs = {{"--config", o.config}, {"--report", o.report}};
        if (o.draw) {
            const std::vector<NamedPath> pictures = dataPictures(data);
            inputs.insert(inputs.end(), pictures.begin(), pictures.end());
        }
        std::vector<NamedPath> outputs = {{"the guide points", out / "parking_guide.json"},
                                          {"the guide's manifest", out / format::manifestName("parking-guide")}};
        if (o.draw) outputs.push_back({"--draw", out / angleFileName(*o.draw)});
        if (o.overlay) outputs.push_back({"--overlay", out / angleFileName(*o.overlay, "overlay_")});
        refuseOutputsNamingInputs(inputs, outputs);
    }

    TerminalUi ui(TerminalAnswers{}, stdout, stderr);
    core::CalibrationState state;
    core::loadConfigurationOrThrow(o.config, state, ui);
    settings = core::completeGuideSettings(settings, state);
    core::CalibratedCamera rear;
    rear.record = state.cameras[core::kRear];
    readRearCamera(o.report, rear);

    if (!out.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(out, ec);
        if (ec) throw std::runtime_error("cannot create the folder " + out.string() + ": " + ec.message());
    }

    // The guide, its pictures and the points go in place together, as one set of the folder.
    format::OutputSet set(out.empty() ? std::filesystem::path(".") : out, "parking-guide",
                          "calibration-cli parking-guide");
    json j;
    j["config"] = o.config;
    j["report"] = o.report;
    j["settings"] = {{"lineSpacing", settings.lineSpacing},     {"wheelBase", settings.wheelBase},
                     {"vehicleLength", settings.vehicleLength}, {"startOffset", settings.startOffset},
                     {"lineShift", settings.lineShift},         {"distances", settings.distances},
                     {"maxPoints", settings.maxPoints}};
    std::printf(
        "Parking guide of the rear camera: spacing %.0f mm, wheel base %.0f mm, vehicle length %d mm, "
        "segments to %d, %d, %d mm\n",
        settings.lineSpacing, settings.wheelBase, settings.vehicleLength, settings.distances[0], settings.distances[1],
        settings.distances[2]);
    json list = json::array();
    for (const int angle : angles) {
        const core::GuideLines lines = core::guideLines(settings, angle, rear);
        const int seen = pointsInPicture(lines.picture, rear.record.width, rear.record.height);
        std::printf("steer %+3d deg: turn radius %s, %zu points, %d in the picture\n", angle,
                    angle == 0 ? "straight" : (std::to_string(std::lround(lines.turnRadius)) + " mm").c_str(),
                    lines.floor.size(), seen);
        list.push_back({{"steerAngle", angle},
                        {"turnRadiusMm", angle == 0 ? json(nullptr) : json(lines.turnRadius)},
                        {"segmentPoints", lines.segmentPoints},
                        {"floor", pointsJson(lines.floor)},
                        {"picture", pointsJson(lines.picture)}});
    }
    j["angles"] = list;

    if (o.draw) {
        const std::filesystem::path bitmap = data / core::kDefaultImageNames[core::kRear];
        const std::optional<std::filesystem::path> found =
            format::findPicture(bitmap.parent_path(), bitmap.stem().string());
        if (!found) {
            throw std::runtime_error("no rear picture " + bitmap.string() +
                                     " (nor a .png or .jpg of that name); give its data folder with --data");
        }
        const format::PictureRead picture = format::readPicture(*found);
        if (!picture.picture) throw std::runtime_error("the rear picture " + found->string() + ": " + picture.problem);
        const core::GuideLines lines = core::guideLines(settings, *o.draw, rear);
        const core::GuidePicture drawn = core::drawGuide(state, *picture.picture, lines);
        const std::filesystem::path path = out / angleFileName(*o.draw);
        set.stage(angleFileName(*o.draw), format::encodeBitmap(drawn.image));
        j["drawn"] = {{"steerAngle", *o.draw}, {"view", drawn.view}, {"path", path.generic_string()}};
        std::printf("Drawn: %s (%s, steering %d deg)\n", path.string().c_str(), drawn.view.c_str(), *o.draw);
    }
    if (o.overlay) {
        const core::GuideLines lines = core::guideLines(settings, *o.overlay, rear);
        const std::filesystem::path path = out / angleFileName(*o.overlay, "overlay_");
        set.stage(angleFileName(*o.overlay, "overlay_"), format::encodeBitmap(core::guideOverlay(settings, lines)));
        j["overlay"] = {{"steerAngle", *o.overlay}, {"path", path.generic_string()}};
        std::printf("Overlay: %s (steering %d deg; give it to run --overlay)\n", path.string().c_str(), *o.overlay);
    }
    const std::filesystem::path jsonPath = out / "parking_guide.json";
    const std::string text = j.dump(2) + "\n";
    set.stage(jsonPath.filename(), std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    set.commit();
    std::printf("Guide points: %s\n", jsonPath.string().c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace mz::cli
