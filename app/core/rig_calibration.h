// The preview's calibration of the rig: the calibration library's handle, the operator's
// adjustments it solves with, and the refinement stages around it. The quality of the rig it
// leaves is in its report.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "app/core/calibration_state.h"
#include "mz/mztypes.h"
#include "refine/refinement.h"

namespace mz::core {

// The message of a failed calibration: the camera the library names by its result.
std::string calibrationFailureMessage(int32_t result);

class RigCalibration {
public:
    explicit RigCalibration(CalibrationState& state);
    ~RigCalibration();
    RigCalibration(const RigCalibration&) = delete;
    RigCalibration& operator=(const RigCalibration&) = delete;

    bool ready() const { return handle_ != nullptr; }
    // The pattern's shape and marker length the next solve assumes.
    void init(int32_t shape, int32_t size);
    // Apply AVM's calibration: with refinement on, the corners are refined on the pictures (by
    // camera; empty when there are none) first and the rig after the calibration library's.
    int32_t calibrate(const std::array<std::span<const uint8_t>, kCameraCount>& pictures);
    // The calibration proper, after any corner refinement: the operator's adjustments rerun it.
    int32_t solve();

    // The operator's shift, turn and side height on top of the solved rig.
    CalibAdjust& adjust() { return adjust_; }
    const CalibAdjust& adjust() const { return adjust_; }

    // The refinement stages; on unless the caller asks for the detector's and the calibration library's results alone.
    void setRefinement(bool on) { refinement_ = on; }
    bool refinement() const { return refinement_; }
    // What the last calibration's refinement did, and the quality figures of the rig it left.
    const refine::RefinementReport& report() const { return report_; }
    // Result of the last calibration run by calibrate (0 or more: success); 1 before any.
    int32_t lastResult() const { return lastResult_; }

private:
    CalibrationState& state_;
    CalibHandle* handle_ = nullptr;
    CalibAdjust adjust_{};
    int32_t shape_ = 0;
    int32_t size_ = 1000;
    bool refinement_ = true;
    refine::RefinementReport report_;
    int32_t lastResult_ = 1;
};

}  // namespace mz::core
