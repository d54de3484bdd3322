#include "app/core/rig_calibration.h"

#include <chrono>

#include "mz/mzcalib.h"

namespace mz::core {

std::string calibrationFailureMessage(int32_t result) {
    const char* camera = result == -1   ? "FRONT"
                         : result == -2 ? "REAR"
                         : result == -3 ? "LEFT"
                         : result == -4 ? "RIGHT"
                                        : "ALL";
    return std::string("Appropriate answer is not found (") + camera +
           " camera). Confirm the config file and pointing.";
}

RigCalibration::RigCalibration(CalibrationState& state) : state_(state), handle_(mzMultiCalibCreate(0)) {
    init(0, 1000);
}

RigCalibration::~RigCalibration() { mzMultiCalibRelease(&handle_); }

void RigCalibration::init(int32_t shape, int32_t size) {
    mzMultiCalibInit(handle_, shape, size, 0);
    shape_ = shape;
    size_ = size;
}

int32_t RigCalibration::solve() {
    const int32_t result = mzMultiCalibApply(handle_, state_.cameras.data(), &adjust_);
    refine::RefinementReport& report = report_;
    report.ran = true;
    const auto start = std::chrono::steady_clock::now();
    // Without the refinement no corner has a covariance: the rig is measured as the library left it.
    const refine::CornerCovariances covariances = refine::cornerCovariances(report);
    const refine::CornerCovariances* known = refinement_ ? &covariances : nullptr;
    if (refinement_ && result >= 0) {
        report.rig = refine::refineRig(state_.cameras.data(), shape_, static_cast<float>(size_), &adjust_, known);
    } else {
        report.rig = {};
        report.rig.before = report.rig.after =
            refine::measureRig(state_.cameras.data(), shape_, static_cast<float>(size_), known);
        if (refinement_) report.rig.note = "the calibration failed";
    }
    report.rigMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    refine::allowForPictureQuality(report);
    refine::judge(report);
    return result;
}

int32_t RigCalibration::calibrate(const std::array<std::span<const uint8_t>, kCameraCount>& pictures) {
    report_ = {};
    report_.enabled = refinement_;
    if (refinement_) {
        const auto start = std::chrono::steady_clock::now();
        refine::refineCorners(state_.cameras.data(), pictures, report_);
        report_.cornerMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    lastResult_ = solve();
    return lastResult_;
}

}  // namespace mz::core
