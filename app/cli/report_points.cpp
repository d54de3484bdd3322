#include "app/cli/report_points.h"

#include <cmath>
#include <stdexcept>

namespace mz::cli {

namespace {

using nlohmann::json;

// The six points under `key`, each [x, y] with x in xs and y in ys, no two alike.
std::array<Point2F, core::kPatternPointCount> points(const json& camera, const std::string& where, const char* key,
                                                     double xLow, double xHigh, double yLow, double yHigh,
                                                     const std::string& range) {
    const std::string name = where + "." + key;
    if (!camera.is_object() || !camera.contains(key))
        throw std::runtime_error(where + " has no " + key + ": was the report written by a successful run?");
    const json& list = camera[key];
    if (!list.is_array() || list.size() != core::kPatternPointCount)
        throw std::runtime_error(name + " must hold " + std::to_string(core::kPatternPointCount) + " points [x, y]");
    std::array<Point2F, core::kPatternPointCount> out{};
    for (size_t i = 0; i < out.size(); ++i) {
        const json& p = list[i];
        const std::string which = name + ": point " + std::to_string(i + 1);
        if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number())
            throw std::runtime_error(which + " is not [x, y]");
        const double x = p[0].get<double>(), y = p[1].get<double>();
        if (!std::isfinite(x) || !std::isfinite(y)) throw std::runtime_error(which + " is not a finite pair");
        if (x < xLow || x > xHigh || y < yLow || y > yHigh)
            throw std::runtime_error(which + " (" + std::to_string(x) + ", " + std::to_string(y) + ") lies outside " +
                                     range);
        out[i] = {static_cast<float>(x), static_cast<float>(y)};
        for (size_t j = 0; j < i; ++j)
            if (out[j].x == out[i].x && out[j].y == out[i].y)
                throw std::runtime_error(name + ": points " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                                         " coincide");
    }
    return out;
}

}  // namespace

std::array<Point2F, core::kPatternPointCount> reportImagePoints(const json& camera, const std::string& where, int width,
                                                                int height) {
    return points(camera, where, "imagePoints", 0, width, 0, height,
                  "the " + std::to_string(width) + "x" + std::to_string(height) + " picture");
}

std::array<Point2F, core::kPatternPointCount> reportWorldPoints(const json& camera, const std::string& where) {
    const std::string reach = std::to_string(static_cast<int>(kMaxFloorMm));
    return points(camera, where, "worldPoints", -kMaxFloorMm, kMaxFloorMm, -kMaxFloorMm, kMaxFloorMm,
                  "the floor within " + reach + " mm of the vehicle");
}

}  // namespace mz::cli
