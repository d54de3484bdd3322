// calibration-cli parking-guide: guide lines of the rear camera that a run calibrated, for a range
// of steering angles (JSON), and the rear view with the lines of one angle drawn.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace mz::cli {

struct ParkingGuideOptions {
    std::string config;
    std::string report;
    std::string data;  // holds image/rear.bmp; the configuration's folder when empty
    std::string out;   // the report's folder when empty
    std::string steer = "-35:35:5";
    std::optional<int> draw;
    std::optional<int> overlay;  // steering angle of the overlay picture for run --overlay
    double wheelBase = 2700;
    double lineSpacing = 0;  // the configuration's vehicle width when 0
    int vehicleLength = 0;   // the configuration's when 0
    int startOffset = 0;
    int lineShift = 0;
    std::string distances = "500,1000,2000";
    int points = 62;
};

void addParkingGuideCommand(CLI::App& app, ParkingGuideOptions& options);

// Exit status 0 when every angle's lines were written (and the picture, when asked for). Throws
// std::runtime_error naming the file or value that cannot be used.
int runParkingGuide(const ParkingGuideOptions& options);

// "FROM:TO:STEP" or a single angle, whole degrees, each within -89..89. Throws
// std::invalid_argument naming what is wrong.
std::vector<int> parseSteerRange(const std::string& text);

// Throws std::invalid_argument naming --steer and --points when the angles and the points per
// angle make more points than one run writes.
void checkGuideWork(size_t angles, int pointsPerAngle);

}  // namespace mz::cli
