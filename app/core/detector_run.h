// One detector over the four camera pictures of a data folder, outside the workflow: an engineer
// compares the workflow's pattern detection with the library's corner and marker detectors on
// their own pictures.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/detection_diagnosis.h"
#include "app/core/ui.h"

namespace mz::core {

enum class DetectorMethod { kPattern, kCorner, kMarker };

// "pattern", "corner", "marker"; parseDetectorMethod gives empty for anything else.
const char* detectorMethodName(DetectorMethod method);
std::optional<DetectorMethod> parseDetectorMethod(const std::string& name);

struct CameraDetection {
    int layoutCode = 0;
    int32_t result = 0;           // what the library returned
    std::array<bool, 2> found{};  // left and right target
    // pattern: why a target was not found
    std::array<std::optional<LostHalfReason>, 2> lost{};
    std::vector<Point2F> imagePoints;  // pattern 6, corner 12 (outer, then hole corners), marker 6
    std::vector<Point2F> worldPoints;  // marker only: each marker's triangle in its own frame
    double milliseconds = 0;
};

struct DetectorRun {
    DetectorMethod method = DetectorMethod::kPattern;
    std::string model;
    std::array<std::filesystem::path, kCameraCount> pictures;
    std::array<CameraDetection, kCameraCount> cameras;
};

// Reads the configuration (its messages go to ui, as at "Config Load") and the four pictures
// DATA/image/front.bmp, rear, left, right (or PNG or JPEG pictures of those names, as "Image Load"
// takes them), each a 24-bit picture of its camera's size, and runs the detector on each.
// layoutCodes (front, rear, left, right) choose the search rectangles of the corner and marker
// detectors and must lie in 0..3. Throws std::runtime_error naming the file or
// value that could not be used; nothing is detected then.
DetectorRun runDetector(const std::filesystem::path& config, const std::filesystem::path& dataFolder,
                        DetectorMethod method, const std::array<int, kCameraCount>& layoutCodes, Ui& ui);

// Loads Config.bin into state without setting up any view. Throws std::runtime_error naming the
// file when it cannot be used.
void loadConfigurationOrThrow(const std::filesystem::path& config, CalibrationState& state, Ui& ui);

}  // namespace mz::core
