// Parking-guide lines of a calibrated rear camera over a range of steering angles: their points on
// the floor and in the rear camera's picture, and the rear single view with the lines drawn.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "format/bitmap.h"

namespace mz::core {

struct GuideSettings {
    float lineSpacing = 0;      // mm between the two lines; 0: the configuration's vehicle width
    float wheelBase = 2700;     // mm
    int32_t vehicleLength = 0;  // mm; 0: the configuration's vehicle length
    int32_t startOffset = 0;    // mm behind the rear overhang where the lines start
    int32_t lineShift = 0;      // mm along the driving axis
    std::array<int32_t, 3> distances{500, 1000, 2000};  // ends of the three segments, mm
    int32_t maxPoints = 62;                             // points of one angle's list, separators included
};

// Fills the configuration's values into what the caller left at 0. Throws std::runtime_error
// naming the value that cannot serve (non-positive spacing or length, distances not increasing).
GuideSettings completeGuideSettings(GuideSettings settings, const CalibrationState& state);

// The rear camera as a run calibrated it: the configuration's lens with the six image points and
// the floor points the calibration gave them.
struct CalibratedCamera {
    CameraParam record{};
    std::array<Point2F, kPatternPointCount> imagePoints{};
    std::array<Point2F, kPatternPointCount> worldPoints{};
};

struct GuideLines {
    int steerAngle = 0;
    float turnRadius = 0;  // mm; 0 for straight lines
    std::array<int32_t, 3> segmentPoints{};
    std::vector<Point2F> floor;    // mm, (-1, -1) between segments
    std::vector<Point2F> picture;  // rear camera pixels, (-1, -1) between segments
};

// Throws std::runtime_error when the library refuses the angle or the settings.
GuideLines guideLines(const GuideSettings& settings, int steerAngle, CalibratedCamera& camera);

struct GuidePicture {
    format::Bitmap image;
    std::string view;  // the single view's name, or "rear camera" when the configuration has none
};

// The first rear single view of the configuration made from the rear camera's picture (or the
// picture itself when there is no rear single view), with the lines drawn: the nearest segment
// red, then yellow, then green. Throws std::runtime_error when the picture or view cannot serve.
GuidePicture drawGuide(CalibrationState& state, const format::Bitmap& rearPicture, const GuideLines& lines);

// The lines on the floor as a single view's overlay picture ("Parking Line Assistance", run
// --overlay): kOverlayMmPerPixel mm a pixel, centred across the vehicle, row 0 half the vehicle's
// length behind its centre, rows growing rearward; black but for the lines, coloured as drawGuide's.
inline constexpr int kOverlayMmPerPixel = 10;  // the scale the view engine lays every overlay at
format::Bitmap guideOverlay(const GuideSettings& settings, const GuideLines& lines);

}  // namespace mz::core
