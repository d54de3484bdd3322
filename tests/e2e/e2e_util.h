// Helpers of the end-to-end tests: running calibration-cli, reading its outputs, and measuring a
// calibrated bay against the simulator's truth.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/rig.h"
#include "sim/simulated_lens.h"

namespace mz::e2e {

// What a run of calibration-cli left: its exit status and everything it printed.
struct CliResult {
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs calibration-cli with the arguments (each quoted for the shell), its default history below the build.
CliResult runCli(const std::vector<std::string>& args);

// A fresh empty folder below the test's temporary directory.
std::filesystem::path freshFolder(const std::string& name);
// Removes a folder made by freshFolder, and the test's temporary directory once it is empty.
void removeFolder(const std::filesystem::path& dir);

nlohmann::json readJson(const std::filesystem::path& path);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// The payload of a flash data file, checksum bytes removed (the container is checked by inspect).
std::vector<uint8_t> flashPayload(const std::vector<uint8_t>& file);

// Source pixel of every table entry of a stitched view's camera table, top-view row-major;
// x < 0 where the entry has no source.
struct SourceMap {
    int width = 0, height = 0;
    std::vector<sim::Vec2> source;
};
// Decodes a table of `width` x `height` entries written in field order (even rows, then odd
// rows) in the fixed-point mode of bilinear views.
SourceMap decodeLut(const std::vector<uint8_t>& payload, int width, int height);

struct Distribution {
    double median = 0, p95 = 0, max = 0;
    size_t count = 0;
};
Distribution distribution(std::vector<double> values);

// The corner zones where two cameras' pictures meet.
enum SeamZone { kFrontLeft, kFrontRight, kRearLeft, kRearRight };
inline constexpr const char* kSeamZoneNames[4] = {"FL", "FR", "RL", "RR"};

// Seam misalignment of one stitched view: for every top-view pixel two cameras' tables both
// cover, the floor distance between what the two TRUE cameras see at their table pixels.
// `unseen` counts pairs where one of the pixels does not look at the floor at all. `zones`, when
// given, gets the same per corner zone: one bad corner hides in the whole view's percentiles.
Distribution seamMisalignment(const sim::Rig& rig, const std::array<SourceMap, 4>& tables, size_t& unseen,
                              std::array<Distribution, 4>* zones = nullptr);

}  // namespace mz::e2e
