// The preview's fields and the view settings they carry into the view records: vehicle size, mask
// type, fields of view, line and blend width, colour, marker length, and the data version of the
// files to save. Text typed into a field waits for Enter or for the settings to be applied.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/calibration_state.h"
#include "app/core/car_picture.h"
#include "app/core/parking_line.h"
#include "app/core/preview_views.h"
#include "app/core/rig_calibration.h"
#include "app/core/ui.h"

namespace mz::core {

// The mask types of the "Mask Type" list, values of `blendMode`.
inline constexpr const char* kMaskTypeNames[5] = {"Blending Auto", "Blending FOV", "Line1", "Line2(Only Model-1.5)",
                                                  "Predefined"};

enum class PreviewField {
    kMarkerLength,
    kOverallWidth,
    kOverallLength,
    kOverallHeight,
    kMaskType,
    kFrontFov,
    kRearFov,
    kLineWidth,
    kBlendWidth
};

// Values shown in the preview's fields.
struct PreviewFields {
    int32_t vehicleWidth = 0;
    int32_t vehicleLength = 0;
    int32_t vehicleHeight = 0;
    int32_t maskType = 4;
    int32_t frontFov = 150;
    int32_t rearFov = 150;
    int32_t lineWidth = 4;
    int32_t blendWidth = 10;
    uint32_t colour = 0x010101;  // 0x00BBGGRR
    bool overlayBlend = false;
    int32_t markerLength = 0;
};

// The parts a setting may touch, besides the record it is written to.
struct ViewSettingsParts {
    PreviewViews& views;
    RigCalibration& rig;
    CarPicture& car;
    ParkingLine& parkingLine;
};

class ViewSettings {
public:
    ViewSettings(Ui& ui, CalibrationState& state, ViewSettingsParts parts) : ui_(ui), state_(state), parts_(parts) {}

    void editField(PreviewField field, const std::string& text);
    void pressEnter(PreviewField field);
    void setColour(uint32_t colour);
    // The colour chosen in the colour window: the view shows it at once.
    void pickColour(uint32_t colour);
    void changeMaskType(int maskType);
    void applyViewSettings();
    void setShowOverlayBlend(bool on);
    // The fields show what a stitched view record holds.
    void showStitchedRecord(const MultiviewParam& mv);

    void setLutVersionText(bool major, const std::string& text);
    void setDataVersion(int32_t major, int32_t minor);
    int32_t dataMajor() const { return major_; }
    int32_t dataMinor() const { return minor_; }

    const PreviewFields& fields() const { return fields_; }

private:
    Ui& ui_;
    CalibrationState& state_;
    ViewSettingsParts parts_;
    PreviewFields fields_;
    int32_t major_ = 1;
    int32_t minor_ = 0;
};

}  // namespace mz::core
