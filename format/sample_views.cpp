#include "format/sample_views.h"

#include <algorithm>
#include <cstdlib>

namespace mz::format {

namespace {

constexpr uint32_t kBilinear = 0x0001;
constexpr uint32_t kLensOn = 0x0020;
constexpr uint32_t kPanorama = 0x0040;
constexpr uint32_t kFlipHorizontal = 0x0200;
constexpr uint32_t kOverlay = 0x2000;

// The number after the model name's first blank times 100, truncated ("AVM 1.67" is 167).
int modelCode(const std::string& model) {
    const size_t blank = model.find(' ');
    return blank == std::string::npos ? 0 : static_cast<int>(std::strtod(model.c_str() + blank + 1, nullptr) * 100.0);
}

struct SingleSpec {
    uint8_t type;
    int viewIndex;
    const char* fileName;
    uint32_t flags;
    float wideAngle;
};

constexpr SingleSpec kSingleViews[] = {
    {40, 0, "Frontvw.bin", kBilinear | kLensOn, 0},
    {41, 1, "Frontfv.bin", kBilinear | kLensOn | kPanorama, 3.0f},
    {42, 2, "Rearvw.bin", kBilinear | kLensOn | kFlipHorizontal | kOverlay, 0},
    {43, 3, "Rearfv.bin", kBilinear | kLensOn | kPanorama | kFlipHorizontal, 3.0f},
    {44, 4, "Leftvw.bin", kBilinear | kLensOn, 0},
    {47, 7, "Rightvw.bin", kBilinear | kLensOn, 0},
};

}  // namespace

std::vector<ConfigSingleview> sampleSingleviews() {
    std::vector<ConfigSingleview> views;
    for (const SingleSpec& s : kSingleViews) {
        ConfigSingleview sv;
        sv.type = s.type;
        sv.viewIndex = s.viewIndex;
        sv.fileName = s.fileName;
        sv.flags = s.flags;
        sv.wideAngle = s.wideAngle;
        sv.scaleX = 1;
        sv.scaleY = 1;
        sv.overlayScale = 10;
        sv.width = 720;
        sv.height = 480;
        sv.centreX = 360;
        sv.centreY = 240;
        views.push_back(sv);
    }
    return views;
}

void numberTables(ConfigFile& config) {
    int32_t nextId = 1;
    for (size_t slot = 0; slot < config.multiviews.size(); ++slot) {
        ConfigMultiview& mv = config.multiviews[slot];
        // The four tables, then the mask, which takes the right camera's identifier plus one.
        for (int32_t& id : mv.lutIds) id = nextId++;
        ++nextId;
        // Model 1.67 names its parameter file after the first view's front identifier plus 5,
        // right after that view's mask: the next view starts past it.
        if (slot == 0 && modelCode(config.model) == 167) nextId = mv.lutIds[0] + 6;
    }
    // The parameter file takes the first view's front identifier plus 15 and an OSD file its view's
    // identifier plus 16: single views start past the parameter file so no two files share one.
    if (!config.multiviews.empty()) nextId = std::max(nextId, config.multiviews[0].lutIds[0] + 16);
    for (ConfigSingleview& sv : config.singleviews) sv.lutId = nextId++;
}

}  // namespace mz::format
