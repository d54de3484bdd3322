// The preview window's logic. The preview owns small parts, each with one job: the views and
// their rebuilding, the rig's calibration, the adjustment buttons, the fields and view settings,
// the car picture, the parking line; callers reach them directly. What the preview itself keeps
// is what concerns them all: the enabled controls and the order in which a view is set up or
// chosen. Everything changed goes into the view records of the calibration state, so the saved
// files show what the preview shows. The window only draws what this state says.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/core/calibration_state.h"
#include "app/core/car_picture.h"
#include "app/core/parking_line.h"
#include "app/core/preview_controls.h"
#include "app/core/preview_views.h"
#include "app/core/rig_calibration.h"
#include "app/core/ui.h"
#include "app/core/view_adjuster.h"
#include "app/core/view_settings.h"

namespace mz::core {

class Preview {
public:
    Preview(Ui& ui, CalibrationState& state);
    Preview(const Preview&) = delete;
    Preview& operator=(const Preview&) = delete;

    // A configuration load is about to release the engines this preview shows.
    void forgetViews();
    // Called before the preview reads or writes the camera records, which a detection pass may
    // be filling on its own thread: the session waits for it there.
    void setCameraGuard(std::function<void()> guard) { views_.setCameraGuard(std::move(guard)); }

    void setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header);
    // Makes stitched view `slot` current; false when it has no engine or does not fit the preview.
    bool initStitchedView(int slot);
    bool initSingleViews();
    // Apply AVM's calibration on the pictures the views hold; the failure message when asked.
    bool calibrate(bool showMessages);
    void selectView(int entry);
    // The bowl view's eye, while the bowl view is shown: a preset of kBowlPresets, or moved by a
    // drag of (dx, dy) view pixels; a drag's frames are drafts, its end (dragging false) is not.
    bool showBowlPreset(const std::string& name);
    void orbitBowl(double dx, double dy, bool dragging);
    // The seam check on the stitched views, on or off; the view shown is rebuilt.
    void setSeamCheck(bool on);

    bool enabled(PreviewControl control) const { return controls_.enabled(control); }

    PreviewViews& views() { return views_; }
    const PreviewViews& views() const { return views_; }
    RigCalibration& rig() { return rig_; }
    const RigCalibration& rig() const { return rig_; }
    ViewAdjuster& adjuster() { return adjuster_; }
    ViewSettings& settings() { return settings_; }
    const ViewSettings& settings() const { return settings_; }
    CarPicture& car() { return car_; }
    const CarPicture& car() const { return car_; }
    ParkingLine& parkingLine() { return parkingLine_; }
    const ParkingLine& parkingLine() const { return parkingLine_; }

private:
    bool initStitched(int slot);
    ControlInputs controlInputs() const;

    Ui& ui_;
    CalibrationState& state_;
    PreviewControls controls_;
    RigCalibration rig_;
    PreviewViews views_;
    ParkingLine parkingLine_;
    CarPicture car_;
    ViewAdjuster adjuster_;
    ViewSettings settings_;
};

}  // namespace mz::core
