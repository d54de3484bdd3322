#include "app/core/preview_bowl.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/core/bowl_view.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

// A drag across the whole picture's width walks the eye half-way round.
constexpr double kDegreesPerPixel = 180.0 / kBowlPreviewWidth;
// Between just above the markers and well above the wall; the picture's height moves the eye by
// one floor length.
constexpr double kLowestEye = 0.15, kHighestEye = 2.0;
constexpr double kSharePerPixel = 1.0 / kBowlPreviewHeight;

}  // namespace

PreviewBowl::PreviewBowl(const CalibrationState& state) : state_(state) {}

PreviewBowl::~PreviewBowl() {
    if (handle_) mzMultiviewRelease(&handle_);
}

bool PreviewBowl::choosePreset(const std::string& name) {
    const BowlPreset* p = findBowlPreset(name);
    if (!p) return false;
    preset_ = p->name;
    overhead_ = p->overhead;
    azimuth_ = p->azimuthDeg;
    height_ = 0.75;
    return true;
}

void PreviewBowl::orbit(double dx, double dy) {
    if (overhead_) {
        overhead_ = false;
        azimuth_ = 180;
        height_ = kHighestEye;
    }
    preset_.clear();
    // The operator grabs the picture: dragged to the right, the vehicle turns to the right, so the
    // eye walks round the other way (azimuths grow clockwise seen from above).
    azimuth_ = std::fmod(azimuth_ + dx * kDegreesPerPixel + 360.0, 360.0);
    height_ = std::clamp(height_ + dy * kSharePerPixel, kLowestEye, kHighestEye);
}

BowlEye PreviewBowl::eye(const BowlShape& shape) const {
    if (overhead_) return presetEye(*findBowlPreset("top"), shape);
    return orbitEye(azimuth_, height_, shape);
}

bool PreviewBowl::render(const std::array<std::span<const uint8_t>, kCameraCount>& pictures) {
    picture_.clear();
    width_ = heightPx_ = 0;
    if (std::any_of(pictures.begin(), pictures.end(), [](const auto& p) { return p.empty(); })) return false;
    BowlRequest request;
    const int divisor = draft_ ? kBowlDraftDivisor : 1;
    request.width = kBowlPreviewWidth / divisor;
    request.height = kBowlPreviewHeight / divisor;
    request.shape = defaultBowlShape(bayExtent(state_));
    BowlScene scene;
    try {
        request.eye = eye(request.shape);
        setUpBowl(state_, request, scene);
    } catch (const std::runtime_error&) {
        return false;
    }
    if (!handle_) handle_ = mzMultiviewCreate(static_cast<unsigned>(request.kind));
    if (!handle_ || !handle_->engine || mzMultiviewInit(handle_, &scene.view) != 0) return false;
    std::vector<uint8_t> out(static_cast<size_t>(MZ_ROW_STRIDE24(request.width)) * request.height, 0);
    mzMultiviewApply(handle_, pictures[kFront].data(), pictures[kLeft].data(), pictures[kRight].data(),
                     pictures[kRear].data(), out.data());
    picture_ = std::move(out);
    width_ = request.width;
    heightPx_ = request.height;
    return true;
}

std::span<const uint8_t> PreviewBowl::picture(int& width, int& height) const {
    width = width_;
    height = heightPx_;
    return picture_;
}

}  // namespace mz::core
