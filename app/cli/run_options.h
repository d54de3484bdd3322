// The options of calibration-cli run and the texts they carry: the data version, the point corrections.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>

#include "mz/mztypes.h"

namespace CLI {
class App;
}

namespace mz::cli {

struct RunOptions {
    std::string config;
    std::string data;
    std::string out;         // the data folder when empty
    std::string lutVersion;  // "MAJOR.MINOR"; the preview's 1.0 when empty
    std::string points;
    std::string report;
    std::string snapshot;
    std::string certificate;  // the calibration certificate (HTML), written whatever the outcome
    std::string quad;
    bool literal = false;  // detector and calibration library alone, no refinement
    std::string survey;    // surveyed floor points: no detection, no pattern calibration
    std::string overlay;   // overlay picture of the single views that write an OSD mask
    // Who calibrates which vehicle where: into the report and the station history.
    std::string vehicle;
    std::string operatorName;
    std::string station;
    std::string history;  // the history file; the default place when empty
    bool noHistory = false;
    std::string profile;  // station profile: the design poses and their tolerances
    bool overrideProfile = false;
};

void addRunCommand(CLI::App& app, RunOptions& options);

// --operator, --station, --history, --no-history, --profile, --override-profile: what run and
// batch record and check alike.
void addStationOptions(CLI::App* command, RunOptions& options);

// "MAJOR.MINOR" with two decimal numbers; false for anything else.
bool parseLutVersion(const std::string& text, int& major, int& minor);

// The operator's corrections: per camera, all six points or the points of one half.
// Text: {"front": [[x, y], ... 6], "left": {"right": [[x, y], ... 3]}, ...}.
struct PointCorrection {
    std::array<std::optional<std::array<Point2F, 3>>, 2> halves;  // left, right
};
using PointCorrections = std::map<int, PointCorrection>;  // by camera 0..3

// Throws std::runtime_error naming what is wrong in the text.
PointCorrections parsePointCorrections(const std::string& text);

}  // namespace mz::cli
