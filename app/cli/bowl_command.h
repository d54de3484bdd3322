// calibration-cli bowl: the bowl view of a calibrated bay, as a picture and as the display unit's
// tables and mask.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct BowlOptions {
    std::string config;
    std::string data;
    std::string report;
    std::string out;      // the data folder when empty
    std::string picture;  // OUT/bowl-PRESET.bmp (or OUT/bowl.bmp) when empty
    std::string preset = "rear";
    std::string eye;  // "x,y,z", vehicle frame
    std::string lookAt;
    std::string bowl;  // "wallX,wallY,height,floorY"
    std::string size = "1280x720";
    std::string name = "AVM3D_BOWL";
    std::string lutVersion;
    double fov = 0;  // the preset's when 0
    int kind = 2;
    int firstId = 201;
    bool noTables = false;
};

void addBowlCommand(CLI::App& app, BowlOptions& options);

// Exit status: 0 when the picture (and unless refused, the tables) were written.
int runBowl(const BowlOptions& options);

}  // namespace mz::cli
