// The preview window's logic: the calibration run, the view shown, the operator's adjustments and
// view settings. Everything changed here goes into the view records of the calibration state, so
// the saved files show what the preview shows. The window only draws what this state says.
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/ui.h"
#include "format/bitmap.h"
#include "mz/mztypes.h"
#include "refine/refinement.h"

namespace mz::core {

inline constexpr int kPreviewMaxWidth = 1280;
inline constexpr int kPreviewMaxHeight = 800;
inline constexpr size_t kPreviewBufferSize = size_t{kPreviewMaxWidth} * kPreviewMaxHeight * 3;
inline constexpr int kStitchedViewType = -1;

// The mask types of the "Mask Type" list, values of `blendMode`.
inline constexpr const char* kMaskTypeNames[5] = {"Blending Auto", "Blending FOV", "Line1",
                                                  "Line2(Only Model-1.5)", "Predefined"};

enum class PreviewControl {
    kParkingLineAssistance,
    kOverallWidth,
    kOverallLength,
    kOverallHeight,
    kColour,
    kLoadCarImage,
    kApply,
    kFrontFov,
    kRearFov,
    kLineWidth,
    kBlendWidth,
    kMaskType,
    kShowOverlayBlend,
    kMarkerLength,
    kCount
};

enum class PreviewField { kMarkerLength, kOverallWidth, kOverallLength, kOverallHeight, kMaskType,
                          kFrontFov, kRearFov, kLineWidth, kBlendWidth };

enum class Adjustment { kUp, kDown, kLeft, kRight, kZoomIn, kZoomOut, kRotatePlus, kRotateMinus };

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
    uint32_t colour = 0x010101;     // 0x00BBGGRR
    bool overlayBlend = false;
    int32_t markerLength = 0;
};

// A car picture placed on the canvas, waiting for "Apply".
struct PlacedCarPicture {
    format::Bitmap picture;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The fields of the preview's context that the calibration and the rebuild work on.
struct PreviewContext {
    std::mutex lock;                // guards exit
    bool exit = false;
    std::array<std::vector<uint8_t>, 4> cameraImages;   // front, left, right, rear
    std::vector<uint8_t> stitchedOutput;
    int stitchedWidth = kPreviewMaxWidth;
    int stitchedHeight = kPreviewMaxHeight;
    CalibHandle* calibration = nullptr;
    CalibAdjust adjust{};
    ViewHandle stitchedHandle = nullptr;
    MultiviewParam* stitchedParam = nullptr;
    int stitchedSlot = -1;
    ViewHandle singleHandle = nullptr;
    SingleviewParam* singleParam = nullptr;
    int singleSlot = -1;
    std::vector<uint8_t> singleOutput;
    int singleWidth = 0;
    int singleHeight = 0;
    bool imagesPresent = false;
    bool initialised = false;
    bool busy = false;
};

// The message of a failed calibration: the camera the library names by its result.
std::string calibrationFailureMessage(int32_t result);

class Preview {
public:
    Preview(Ui& ui, CalibrationState& state);
    ~Preview();
    Preview(const Preview&) = delete;
    Preview& operator=(const Preview&) = delete;

    // A configuration load is about to release the engines this preview shows.
    void forgetViews();
    // Called before the preview reads or writes the camera records, which a detection pass may
    // be filling on its own thread: the session waits for it there.
    void setCameraGuard(std::function<void()> guard) { cameraGuard_ = std::move(guard); }

    void setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header);
    // Makes stitched view `slot` current; false when it has no engine or does not fit the preview.
    bool initStitchedView(int slot);
    bool initSingleViews();
    // Copies of the camera pictures (padded 24-bit rows of the front camera's size), in the
    // order front, left, right, rear.
    void setImages(std::span<const uint8_t> front, std::span<const uint8_t> left,
                   std::span<const uint8_t> right, std::span<const uint8_t> rear);
    // Apply AVM's calibration: with refinement on, the corners are refined on the pictures first
    // and the rig after the calibration library's.
    bool calibrate(bool showMessages);
    bool rebuild(int viewType);
    // Hands the stitched view of `slot` its car image as the whole stitching map.
    void giveCarImage(int slot);

    void adjust(Adjustment adjustment);
    // Text typed into a field (the field keeps it until Enter or a setting is applied).
    void editField(PreviewField field, const std::string& text);
    void pressEnter(PreviewField field);
    void setColour(uint32_t colour);
    void changeMaskType(int maskType);
    void applyViewSettings();
    void selectView(int entry);
    void setShowOverlayBlend(bool on);
    void loadCarImage();
    void placeCarPicture(int left, int top, int width, int height);
    // The operator took the picture off the canvas: "Apply" then has nothing to put in.
    void removeCarPicture();
    void applyCarImage();
    void parkingLineAssistance();
    void setLutVersionText(bool major, const std::string& text);
    void setDataVersion(int32_t major, int32_t minor);

    // The refinement stages; on unless the caller asks for the detector's and the calibration library's results alone.
    void setRefinement(bool on) { refinement_ = on; }
    bool refinement() const { return refinement_; }
    // What the last calibration's refinement did, and the quality figures of the rig it left.
    const refine::RefinementReport& refinementReport() const { return refinementReport_; }

    bool hasEngine() const { return context_.stitchedHandle != nullptr; }
    // Result of the last calibration run by calibrate (0 or more: success); 1 before any.
    int32_t lastCalibrationResult() const { return lastCalibration_; }
    int viewType() const { return viewType_; }
    int currentEntry() const { return currentEntry_; }
    const std::vector<std::string>& viewList() const { return viewList_; }
    const PreviewFields& fields() const { return fields_; }
    bool enabled(PreviewControl control) const { return enabled_[static_cast<int>(control)]; }
    int32_t dataMajor() const { return major_; }
    int32_t dataMinor() const { return minor_; }
    bool parkingLineConfirmed() const { return parkingLineConfirmed_; }
    void clearParkingLineConfirmation() { parkingLineConfirmed_ = false; }
    const std::optional<PlacedCarPicture>& carPicture() const { return carPicture_; }
    const PreviewContext& context() const { return context_; }
    // The output of the current view: rows padded to 4 bytes, top row first.
    std::span<const uint8_t> output(int& width, int& height) const;

private:
    void initCalibration(int32_t shape, int32_t size);
    // The calibration proper, after any corner refinement: the operator's adjustments rerun it.
    int32_t solveRig();
    bool initStitched(int slot);
    bool initSingle(int slot);
    void refillViewList();
    void showStitchedRecord(const MultiviewParam& mv);
    void enableByMaskType();
    void shift(float dx, float dy);
    void rebuildCurrent() { rebuild(viewType_); }
    int stitchedCount() const;
    void setEnabled(PreviewControl control, bool on) { enabled_[static_cast<int>(control)] = on; }
    void settleCameras() {
        if (cameraGuard_) cameraGuard_();
    }

    Ui& ui_;
    CalibrationState& state_;
    PreviewContext context_;
    std::array<uint8_t, format::kConfigHeaderSize> header_{};
    int32_t major_ = 1;
    int32_t minor_ = 0;
    std::vector<std::string> viewList_;
    int singleEntries_ = 0;
    int currentEntry_ = -1;
    int viewType_ = kStitchedViewType;
    PreviewFields fields_;
    std::array<bool, static_cast<int>(PreviewControl::kCount)> enabled_{};
    bool parkingLineConfirmed_ = false;
    std::optional<PlacedCarPicture> carPicture_;
    int32_t lastCalibration_ = 1;
    std::function<void()> cameraGuard_;
    bool refinement_ = true;
    refine::RefinementReport refinementReport_;
    int32_t calibrationShape_ = 0;
    int32_t calibrationSize_ = 1000;
};

}  // namespace mz::core
