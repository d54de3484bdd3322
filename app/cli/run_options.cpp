#include "app/cli/run_options.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"

namespace mz::cli {

namespace {

using nlohmann::json;

std::array<Point2F, 3> parseHalf(const json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 3) throw std::runtime_error(where + " must hold 3 points [x, y]");
    std::array<Point2F, 3> out{};
    for (size_t i = 0; i < 3; ++i) {
        const json& p = j[i];
        if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number()) {
            throw std::runtime_error(where + ": point " + std::to_string(i + 1) + " is not [x, y]");
        }
        const double x = p[0].get<double>(), y = p[1].get<double>();
        // Far beyond any picture, and beyond what a float holds without overflow.
        if (!(std::abs(x) < 1e6 && std::abs(y) < 1e6)) {
            throw std::runtime_error(where + ": point " + std::to_string(i + 1) +
                                     " is not finite or far outside the picture");
        }
        out[i] = {static_cast<float>(x), static_cast<float>(y)};
    }
    return out;
}

}  // namespace

bool parseLutVersion(const std::string& text, int& major, int& minor) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return false;
    const std::string a = text.substr(0, dot), b = text.substr(dot + 1);
    for (const std::string* part : {&a, &b}) {
        if (part->size() > 4 || part->find_first_not_of("0123456789") != std::string::npos) return false;
    }
    major = std::stoi(a);
    minor = std::stoi(b);
    return true;
}

PointCorrections parsePointCorrections(const std::string& text) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error("--points: the file is not a JSON object");
    PointCorrections out;
    for (const auto& [key, value] : j.items()) {
        int camera = -1;
        for (int c = 0; c < core::kCameraCount; ++c) {
            if (key == kCameraKeys[c]) camera = c;
        }
        if (camera < 0) throw std::runtime_error("--points: unknown camera \"" + key + "\" (front, rear, left, right)");
        PointCorrection& p = out[camera];
        if (value.is_array()) {
            if (value.size() != 6) throw std::runtime_error("--points: " + key + " must hold 6 points or halves");
            for (int half = 0; half < 2; ++half) {
                const json part = json(std::vector<json>(value.begin() + 3 * half, value.begin() + 3 * half + 3));
                p.halves[half] = parseHalf(part, "--points: " + key);
            }
        } else if (value.is_object()) {
            for (const auto& [halfKey, half] : value.items()) {
                const int h = halfKey == "left" ? 0 : halfKey == "right" ? 1 : -1;
                if (h < 0)
                    throw std::runtime_error("--points: " + key + ": unknown half \"" + halfKey + "\" (left, right)");
                p.halves[h] = parseHalf(half, "--points: " + key + "." + halfKey);
            }
        } else {
            throw std::runtime_error("--points: " + key + " must be 6 points or {\"left\": ..., \"right\": ...}");
        }
    }
    return out;
}

void addStationOptions(CLI::App* cmd, RunOptions& o) {
    cmd->add_option("--operator", o.operatorName, "The operator's name, recorded with the run");
    cmd->add_option("--station", o.station, "The station's name, recorded with the run");
    CLI::Option* history =
        cmd->add_option("--history", o.history,
                        "Station history the run is recorded in: an SQLite file (default: "
                        "$XDG_DATA_HOME/avm-calibration/history.sqlite, or ~/.local/share/avm-calibration/...) or a "
                        "PostgreSQL server's postgresql://user@host/database address, which the stations share");
    cmd->add_flag("--no-history", o.noHistory, "Record nothing in a station history")->excludes(history);
    CLI::Option* profile =
        cmd->add_option("--profile", o.profile,
                        "Station profile (JSON): each camera's design pose and tolerances; a camera outside them "
                        "refuses the save")
            ->check(CLI::ExistingFile);
    cmd->add_flag("--override-profile", o.overrideProfile,
                  "Save although a camera lies outside the profile's tolerances (the history says so)")
        ->needs(profile);
}

void addRunCommand(CLI::App& app, RunOptions& o) {
    CLI::App* cmd = app.add_subcommand("run", "Calibrate one data folder and save the output files");
    cmd->add_option("--config", o.config, "Config.bin of the vehicle")->required()->check(CLI::ExistingFile);
    cmd->add_option("--data", o.data,
                    "Data folder with image/front.bmp, rear, left, right (or .png, .jpg when no .bmp is there)")
        ->required()
        ->check(CLI::ExistingDirectory);
    cmd->add_option("--out", o.out, "Folder for Lut/, Osd/ and Param/ (default: the data folder)");
    cmd->add_option("--lut-version", o.lutVersion, "Data version of the output files, MAJOR.MINOR (default 1.0)");
    cmd->add_option("--points", o.points, "JSON file of corrected pattern points")->check(CLI::ExistingFile);
    cmd->add_option("--report", o.report, "Write a JSON report of the run");
    cmd->add_option("--snapshot", o.snapshot, "Write the stitched top view as a bitmap");
    cmd->add_option("--certificate", o.certificate,
                    "Write the calibration certificate: one HTML file (pictures inside) to print on one or two "
                    "A4 pages; also for a refused or failed run, saying so");
    cmd->add_option("--quad", o.quad, "Four-quadrant picture (models above 200)")->check(CLI::ExistingFile);
    cmd->add_option("--survey", o.survey,
                    "JSON of surveyed floor points per camera, {\"front\": [{\"image\": [x, y], \"floor\": [x_mm, "
                    "y_mm]}, ...], ...} (4 to 50 pairs each; x right, y front): no detection, no triangle calibration")
        ->check(CLI::ExistingFile);
    cmd->add_option("--overlay", o.overlay,
                    "Overlay picture (24-bit bitmap, e.g. parking guide lines on the floor) of the single views that "
                    "write an OSD mask; without it their masks are empty")
        ->check(CLI::ExistingFile);
    cmd->add_flag("--literal", o.literal,
                  "The detector's corners and the calibration library's rig as they come: no refinement");
    cmd->add_option("--vehicle", o.vehicle, "Vehicle identifier (a VIN or the plant's), recorded with the run");
    addStationOptions(cmd, o);
}

}  // namespace mz::cli
