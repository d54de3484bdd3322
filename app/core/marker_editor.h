// The four image views of the main window: each camera's picture and the operator's marker
// triangles on it, dragged with the pointer and nudged with the arrow keys.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/ui.h"
#include "format/bitmap.h"

namespace mz::core {

inline constexpr const char* kImageCaptions[kCameraCount] = {"Front View", "Rear View", "Left View", "Right View"};

using Triangle = std::array<Point2F, 3>;

// What the window's image view of one camera shows: the picture and the operator's markers on it.
// Points are image pixels kept at full precision; the window rounds them only to draw.
struct ImageViewState {
    std::string caption;
    format::Bitmap image;                 // top row first, rows padded to 4 bytes
    std::array<Triangle, 2> triangles{};  // the left and the right pattern
    int currentTriangle = -1;
    int selectedVertex = -1;       // vertex of the current triangle under the operator's hand
    int highlightedTriangle = -1;  // vertex under the pointer while no button is down
    int highlightedVertex = -1;
    bool dragging = false;
    Point2F grabOffset{0, 0};
    // A triangle the detection did not find, until the operator has placed its three corners.
    std::array<bool, 2> lost{};
    std::array<uint8_t, 2> placedByHand{};  // one bit a vertex

    bool stillLost(int triangle) const { return lost[triangle] && placedByHand[triangle] != 0b111; }
};

// What a view says over a triangle the detection lost (0 left, 1 right).
std::string lostTriangleNote(int triangle);
// The corner under the operator's hand in picture pixels, "corner 3: 412.5, 300.2"; empty when none.
std::string selectedCornerText(const ImageViewState& view);

enum class ArrowKey { kUp, kDown, kLeft, kRight };

// Where the markers of a camera start before any detection, for a picture of width x height.
std::array<Point2F, kPatternPointCount> defaultPatternPoints(int camera, int width, int height);

// What one detection of a camera works on, copied so the operator may edit markers meanwhile.
struct DetectorInput {
    CameraParam camera{};
    std::array<Point2F, kPatternPointCount> imagePoints{};
    std::array<Point2F, kPatternPointCount> worldPoints{};
    std::vector<uint8_t> pixels;  // rows of exactly 3 x width bytes; empty without a camera size
};

// The views are edited from the user-interface thread and refilled by the detection thread: the
// views and the pattern points of the calibration state are only touched under this editor's lock.
class MarkerEditor {
public:
    MarkerEditor(Ui& ui, CalibrationState& state);
    MarkerEditor(const MarkerEditor&) = delete;
    MarkerEditor& operator=(const MarkerEditor&) = delete;

    // Positions in image pixels.
    void pointerDown(int camera, Point2F position);
    void pointerMove(int camera, Point2F position);
    void pointerUp(int camera);
    void arrowKey(int camera, ArrowKey key);

    ImageViewState imageView(int camera) const;
    std::array<Point2F, kPatternPointCount> patternPoints(int camera) const;
    // Puts points into a camera's view as the operator would place them (the command-line
    // program's corrections).
    void setMarkers(int camera, const std::array<Point2F, kPatternPointCount>& points);

    // A new configuration: every camera's pattern points start where its size puts them.
    void resetPatternPoints();
    void setPictures(std::array<format::Bitmap, kCameraCount>&& pictures);
    // Each view's markers go where the camera's pattern points are, and the view is redrawn.
    void showPatternPoints();
    // The markers as the operator left them become the pattern points the calibration reads.
    void commitMarkers();
    // Hands the pictures to `use` (front, left, right, rear) while no detection can replace them.
    void withPictures(const std::function<void(std::span<const uint8_t>, std::span<const uint8_t>,
                                               std::span<const uint8_t>, std::span<const uint8_t>)>& use) const;

    DetectorInput detectorInput(int camera) const;
    // The detector's points replace the camera's and drop whatever the operator held. A triangle
    // not found starts where a new configuration puts it, never where another picture had it.
    void takeDetected(int camera, const std::array<Point2F, kPatternPointCount>& imagePoints,
                      std::array<bool, 2> found);

private:
    void putPointsIntoView(int camera);
    void notePlaced(ImageViewState& view);

    Ui& ui_;
    CalibrationState& state_;
    mutable std::mutex mutex_;  // guards views_ and the pattern points of state_
    std::array<ImageViewState, kCameraCount> views_;
};

}  // namespace mz::core
