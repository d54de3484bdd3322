#include "station/profile.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace mz::station {

namespace {

using nlohmann::json;

bool isAngle(int field) { return field >= kTilt; }

// Beyond these no vehicle's camera sits: a value outside is a typing error, not a design.
struct Bounds {
    double designLow, designHigh, toleranceHigh;
};
Bounds bounds(int field) {
    if (isAngle(field)) return {-360, 360, 180};
    if (field == kHeight) return {0, 5000, 5000};
    return {-20000, 20000, 5000};
}

double number(const json& j, const std::string& where) {
    if (!j.is_number()) throw std::runtime_error(where + " is not a number");
    const double v = j.get<double>();
    if (!std::isfinite(v)) throw std::runtime_error(where + " is not a finite number");
    return v;
}

std::string formatted(const char* format, double v) {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

DesignValue designValue(const json& j, int field, const std::string& where) {
    if (!j.is_object()) throw std::runtime_error(where + " must be {\"design\": ..., \"tolerance\": ...}");
    for (const auto& [key, value] : j.items()) {
        if (key != "design" && key != "tolerance") {
            throw std::runtime_error(where + ": unknown key \"" + key + "\" (design, tolerance)");
        }
    }
    for (const char* key : {"design", "tolerance"}) {
        if (!j.contains(key)) throw std::runtime_error(where + ": no \"" + key + "\"");
    }
    const DesignValue v{number(j["design"], where + ".design"), number(j["tolerance"], where + ".tolerance")};
    const Bounds b = bounds(field);
    const char* unit = isAngle(field) ? " deg" : " mm";
    char range[96];
    if (!(v.design >= b.designLow && v.design <= b.designHigh)) {
        std::snprintf(range, sizeof range, " outside %g..%g%s", b.designLow, b.designHigh, unit);
        throw std::runtime_error(where + ".design " + formatted("%g", v.design) + range);
    }
    if (!(v.tolerance > 0 && v.tolerance <= b.toleranceHigh)) {
        std::snprintf(range, sizeof range, " must lie above 0 and at most %g%s", b.toleranceHigh, unit);
        throw std::runtime_error(where + ".tolerance " + formatted("%g", v.tolerance) + range);
    }
    if (field == kHeight && v.design - v.tolerance < 0) {
        throw std::runtime_error(where + ": design minus tolerance lies below the floor");
    }
    return v;
}

// The difference of two angles, within -180..180.
double angleDifference(double a, double b) {
    const double d = std::fmod(a - b, 360.0);
    return d > 180 ? d - 360 : d <= -180 ? d + 360 : d;
}

}  // namespace

StationProfile parseProfile(const std::string& text, const std::string& source) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error(source + ": not a JSON object");
    try {
        StationProfile p;
        for (const auto& [key, value] : j.items()) {
            if (key != "name" && key != "cameras" && key != "comment") {
                throw std::runtime_error("unknown key \"" + key + "\" (name, cameras, comment)");
            }
        }
        if (!j.contains("name") || !j["name"].is_string() || j["name"].get<std::string>().empty()) {
            throw std::runtime_error("\"name\" must be a non-empty text");
        }
        p.name = j["name"].get<std::string>();
        if (!j.contains("cameras") || !j["cameras"].is_object()) {
            throw std::runtime_error("\"cameras\" must be an object of front, rear, left, right");
        }
        const json& cameras = j["cameras"];
        for (const auto& [key, value] : cameras.items()) {
            bool known = false;
            for (const char* k : kStationCameraKeys) known = known || key == k;
            if (!known) throw std::runtime_error("cameras: unknown camera \"" + key + "\" (front, rear, left, right)");
        }
        for (int c = 0; c < kStationCameras; ++c) {
            const std::string where = std::string("cameras.") + kStationCameraKeys[c];
            if (!cameras.contains(kStationCameraKeys[c]))
                throw std::runtime_error("cameras: no \"" + std::string(kStationCameraKeys[c]) + "\"");
            const json& cam = cameras[kStationCameraKeys[c]];
            if (!cam.is_object()) throw std::runtime_error(where + " must be an object");
            for (const auto& [key, value] : cam.items()) {
                bool known = key == "check";
                for (const char* k : kPoseFieldKeys) known = known || key == k;
                if (!known) {
                    throw std::runtime_error(where + ": unknown key \"" + key +
                                             "\" (x, y, height, tilt, roll, heading, check)");
                }
            }
            for (int f = 0; f < kPoseFields; ++f) {
                if (!cam.contains(kPoseFieldKeys[f])) {
                    throw std::runtime_error(where + ": no \"" + kPoseFieldKeys[f] + "\"");
                }
                p.cameras[c].fields[f] = designValue(cam[kPoseFieldKeys[f]], f, where + "." + kPoseFieldKeys[f]);
            }
            if (cam.contains("check")) {
                if (!cam["check"].is_string()) throw std::runtime_error(where + ".check must be a text");
                p.cameras[c].check = cam["check"].get<std::string>();
            }
        }
        return p;
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(source + ": " + e.what());
    } catch (const json::exception& e) {
        throw std::runtime_error(source + ": " + e.what());
    }
}

std::array<ToleranceCheck, kStationCameras> checkTolerances(const StationProfile& profile,
                                                            const std::array<PoseValues, kStationCameras>& poses) {
    static constexpr const char* kWords[kPoseFields] = {"x position", "y position", "height",
                                                        "tilt",       "roll",       "heading"};
    std::array<ToleranceCheck, kStationCameras> out;
    for (int c = 0; c < kStationCameras; ++c) {
        const CameraDesign& design = profile.cameras[c];
        for (int f = 0; f < kPoseFields; ++f) {
            const DesignValue& d = design.fields[f];
            const double value = poses[c][f];
            const double off = isAngle(f) ? angleDifference(value, d.design) : value - d.design;
            if (std::abs(off) <= d.tolerance) continue;
            const char* unit = isAngle(f) ? " deg" : " mm";
            std::string line = std::string(kStationCameraWords[c]) + " camera " + kWords[f] + " " +
                               formatted(isAngle(f) ? "%.1f" : "%.0f", value) + unit + ", design " +
                               formatted("%g", d.design) + " +- " + formatted("%g", d.tolerance) + unit;
            if (!design.check.empty()) line += ": check " + design.check;
            out[c].within = false;
            out[c].fieldOutside[f] = true;
            out[c].outside.push_back(line);
        }
    }
    return out;
}

}  // namespace mz::station
