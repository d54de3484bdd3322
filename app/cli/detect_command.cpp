#include "app/cli/detect_command.h"

#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"
#include "app/cli/terminal_ui.h"
#include "app/core/detector_run.h"
#include "format/atomic_file.h"

namespace mz::cli {

namespace {

using nlohmann::json;

constexpr const char* kSideKeys[2] = {"left", "right"};

json pointsJson(const std::vector<Point2F>& points, size_t first, size_t count) {
    json a = json::array();
    for (size_t i = first; i < first + count && i < points.size(); ++i) a.push_back({points[i].x, points[i].y});
    return a;
}

void printPoints(const char* label, const std::vector<Point2F>& points, size_t first) {
    std::printf("  %-13s", label);
    for (size_t i = first; i < first + 3; ++i) std::printf(" (%7.2f, %7.2f)", points[i].x, points[i].y);
    std::printf("\n");
}

json runJson(const core::DetectorRun& run, const DetectOptions& o) {
    json j;
    j["method"] = core::detectorMethodName(run.method);
    j["config"] = o.config;
    j["data"] = o.data;
    j["model"] = run.model;
    const bool corner = run.method == core::DetectorMethod::kCorner;
    json cameras = json::object();
    for (int c = 0; c < core::kCameraCount; ++c) {
        const core::CameraDetection& d = run.cameras[c];
        json k;
        k["picture"] = run.pictures[c].generic_string();
        k["layoutCode"] = d.layoutCode;
        k["result"] = d.result;
        k["found"] = {{"left", d.found[0]}, {"right", d.found[1]}};
        for (int side = 0; side < 2; ++side) {
            if (d.lost[side]) k["notFoundReason"][kSideKeys[side]] = core::lostHalfReasonText(*d.lost[side]);
        }
        k["imagePoints"] = pointsJson(d.imagePoints, 0, 6);
        if (corner) k["holePoints"] = pointsJson(d.imagePoints, 6, 6);
        if (!d.worldPoints.empty()) k["worldPoints"] = pointsJson(d.worldPoints, 0, 6);
        k["ms"] = d.milliseconds;
        cameras[kCameraKeys[c]] = k;
    }
    j["cameras"] = cameras;
    return j;
}

}  // namespace

std::array<int, 4> parseLayoutCodes(const std::string& text) {
    std::array<int, 4> codes{};
    size_t start = 0;
    for (int c = 0; c < 4; ++c) {
        const size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.size() != 1 || part[0] < '0' || part[0] > '3') {
            throw std::invalid_argument(
                "--layout-codes must be four codes 0..3 for front, rear, left, right, e.g. "
                "0,1,2,3, not \"" +
                text + "\"");
        }
        codes[c] = part[0] - '0';
        if ((comma == std::string::npos) != (c == 3)) {
            throw std::invalid_argument(
                "--layout-codes must hold exactly four codes (front, rear, left, right), not \"" + text + "\"");
        }
        start = comma + 1;
    }
    return codes;
}

void addDetectCommand(CLI::App& app, DetectOptions& o) {
    CLI::App* cmd = app.add_subcommand("detect", "Run one detector on the four pictures and print their points");
    cmd->footer(
        "Methods: pattern is the workflow's detection (six outer corners per camera, lowest corner first, then\n"
        "clockwise on screen); corner is mzDetectCorner (the six outer corners, then the six corners of the\n"
        "targets' holes); marker is mzDetectMarker (six corners in the calibration's order and each marker's\n"
        "triangle of the configured side as world points). corner and marker look in fixed rectangles of a\n"
        "720x480 picture chosen by the layout code: 0 front, 1 rear, 2 left, 3 right camera (as laid out by\n"
        "simulate --layout fixed). A target not found has the points (-1, -1).\n"
        "Exit status 0 when both targets of every camera were found, 1 otherwise.");
    cmd->add_option("--config", o.config, "Config.bin of the vehicle (the cameras' lens and picture size)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("--data", o.data, "Data folder with image/front.bmp, rear, left, right")
        ->required()
        ->check(CLI::ExistingDirectory);
    cmd->add_option("--method", o.method, "pattern, corner or marker")
        ->capture_default_str()
        ->check(CLI::IsMember({"pattern", "corner", "marker"}));
    cmd->add_option("--layout-codes", o.layoutCodes,
                    "Layout codes of the front, rear, left and right camera for corner and marker")
        ->capture_default_str();
    cmd->add_option("--json", o.json, "Also write the points as JSON to this file");
}

int runDetect(const DetectOptions& o) {
    const std::array<int, 4> codes = parseLayoutCodes(o.layoutCodes);
    const std::optional<core::DetectorMethod> method = core::parseDetectorMethod(o.method);
    if (!method) throw std::invalid_argument("--method must be pattern, corner or marker, not \"" + o.method + "\"");
    TerminalUi ui(TerminalAnswers{}, stdout, stderr);
    const core::DetectorRun run = core::runDetector(o.config, o.data, *method, codes, ui);

    std::printf("%s detection, model %s, data %s\n", core::detectorMethodName(run.method), run.model.c_str(),
                o.data.c_str());
    bool all = true;
    for (int c = 0; c < core::kCameraCount; ++c) {
        const core::CameraDetection& d = run.cameras[c];
        const bool both = d.found[0] && d.found[1];
        all = all && both;
        const char* what = both         ? "both targets found"
                           : d.found[0] ? "right target not found"
                           : d.found[1] ? "left target not found"
                                        : "no target found";
        if (*method == core::DetectorMethod::kPattern) {
            std::printf("%s: result %d, %s, %.1f ms\n", kCameraKeys[c], d.result, what, d.milliseconds);
        } else {
            std::printf("%s (layout code %d): result %d, %s, %.1f ms\n", kCameraKeys[c], d.layoutCode, d.result, what,
                        d.milliseconds);
        }
        for (int side = 0; side < 2; ++side) {
            printPoints((std::string(kSideKeys[side]) + " target").c_str(), d.imagePoints, 3 * side);
        }
        for (int side = 0; side < 2; ++side) {
            if (d.lost[side]) std::printf("  %s\n", core::lostHalfMessage(c, side, *d.lost[side]).c_str());
        }
        if (d.imagePoints.size() >= 12) {
            for (int side = 0; side < 2; ++side)
                printPoints((std::string(kSideKeys[side]) + " hole").c_str(), d.imagePoints, 6 + 3 * side);
        }
        if (d.worldPoints.size() >= 6) {
            for (int side = 0; side < 2; ++side)
                printPoints((std::string(kSideKeys[side]) + " world").c_str(), d.worldPoints, 3 * side);
        }
    }
    if (!o.json.empty()) {
        format::writeFileAtomically(o.json, runJson(run, o).dump(2) + "\n");
        std::printf("Points: %s\n", o.json.c_str());
    }
    std::fflush(stdout);
    return all ? 0 : 1;
}

}  // namespace mz::cli
