// The bowl view in the preview: the calibrated cameras on a bowl around the vehicle, seen from a
// virtual camera the operator places with the presets and by dragging around the vehicle, much
// as a driver sees the car from outside on a modern display. A look only: it keeps an engine of
// its own and writes nothing into the view records, so the saved files are the same with it shown.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"

namespace mz::core {

struct BowlEye;
struct BowlShape;

// The preview's bowl picture: 16:9, the shape of a car's display.
inline constexpr int kBowlPreviewWidth = 800;
inline constexpr int kBowlPreviewHeight = 450;
// While the operator drags, the picture is drawn at this share of its size, so it follows the hand.
inline constexpr int kBowlDraftDivisor = 2;

class PreviewBowl {
public:
    explicit PreviewBowl(const CalibrationState& state);
    ~PreviewBowl();
    PreviewBowl(const PreviewBowl&) = delete;
    PreviewBowl& operator=(const PreviewBowl&) = delete;

    // The virtual camera of a named preset (kBowlPresets); false for an unknown name.
    bool choosePreset(const std::string& name);
    // The preset the eye is at; empty once the operator has dragged it elsewhere.
    const std::string& preset() const { return preset_; }
    // A drag across the picture by (dx, dy) of its full-size pixels: sideways turns the vehicle
    // with the hand (the eye walks around it), down raises the eye. From straight above, the eye
    // comes down behind the vehicle first.
    void orbit(double dx, double dy);
    double azimuth() const { return azimuth_; }
    double heightShare() const { return height_; }

    // Draft pictures are smaller and quicker, for the frames of a drag.
    void setDraft(bool draft) { draft_ = draft; }
    // Renders the view of the state's cameras from the pictures (by camera: front, rear, left,
    // right; each the cameras' size). False when they give no view (no pictures, nothing
    // calibrated); the picture is then empty.
    bool render(const std::array<std::span<const uint8_t>, kCameraCount>& pictures);
    // BGR rows padded to 4 bytes, top row first.
    std::span<const uint8_t> picture(int& width, int& height) const;

private:
    BowlEye eye(const BowlShape& shape) const;

    const CalibrationState& state_;
    ViewHandle handle_ = nullptr;
    std::string preset_ = "rear-left";
    double azimuth_ = 225;
    double height_ = 0.75;
    bool overhead_ = false;
    bool draft_ = false;
    int width_ = 0, heightPx_ = 0;
    std::vector<uint8_t> picture_;
};

}  // namespace mz::core
