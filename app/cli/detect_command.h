// calibration-cli detect: one detector on the four pictures of a data folder, its points printed
// and written as JSON, so detectors can be compared on an engineer's own pictures.
#pragma once

#include <array>
#include <string>

namespace CLI {
class App;
}

namespace mz::cli {

struct DetectOptions {
    std::string config;
    std::string data;
    std::string method = "pattern";
    std::string layoutCodes = "0,1,2,3";
    std::string json;
};

void addDetectCommand(CLI::App& app, DetectOptions& options);

// Exit status: 0 when both targets of every camera were found, 1 otherwise or on refused input.
// Throws std::runtime_error naming the file or value that cannot be used.
int runDetect(const DetectOptions& options);

// "a,b,c,d": the four layout codes (front, rear, left, right), each 0..3. Throws
// std::invalid_argument naming what is wrong.
std::array<int, 4> parseLayoutCodes(const std::string& text);

}  // namespace mz::cli
