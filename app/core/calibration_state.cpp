#include "app/core/calibration_state.h"

#include <algorithm>
#include <cstring>

#include "mz/mzview.h"

namespace mz::core {

CalibrationState::CalibrationState() {
    for (int i = 0; i < kCameraCount; ++i) {
        cameras[i].pointCount = kPatternPointCount;
        cameras[i].imagePoints = imagePoints[i].data();
        cameras[i].worldPoints = worldPoints[i].data();
    }
}

CalibrationState::~CalibrationState() {
    releaseMultiviews();
    releaseSingleviews();
}

void CalibrationState::releaseMultiviews() {
    for (ViewHandle& h : multiviewHandles) {
        if (h) mzMultiviewRelease(&h);
    }
}

void CalibrationState::releaseSingleviews() {
    for (ViewHandle& h : singleviewHandles) {
        if (h) mzSingleviewRelease(&h);
    }
}

int CalibrationState::singleviewCount() const { return std::clamp(singleviewHeader[1], 0, kSingleviewSlots); }

int cameraOfSingleviewType(int type) {
    if (type >= 40 && type <= 41) return kFront;
    if (type >= 42 && type <= 43) return kRear;
    if (type >= 44 && type <= 46) return kLeft;
    if (type >= 47 && type <= 49) return kRight;
    return -1;
}

int cameraOfViewIndex(int32_t viewIndex) {
    if (viewIndex >= 0 && viewIndex <= 1) return kFront;
    if (viewIndex >= 2 && viewIndex <= 3) return kRear;
    if (viewIndex >= 4 && viewIndex <= 6) return kLeft;
    if (viewIndex >= 7 && viewIndex <= 9) return kRight;
    return -1;
}

int32_t singleviewIndex(const std::array<uint8_t, format::kSingleviewPayloadSize>& raw) {
    int32_t v;
    std::memcpy(&v, raw.data(), 4);
    return v;
}

std::string singleviewFileName(const std::array<uint8_t, format::kSingleviewPayloadSize>& raw) {
    const char* text = reinterpret_cast<const char*>(raw.data() + 4);
    return std::string(text, strnlen(text, format::kLutFileNameField - 1));
}

}  // namespace mz::core
