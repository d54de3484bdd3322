#include "app/core/detection_thread.h"

#include <system_error>

#include "mz/mzpattern.h"

namespace mz::core {

std::array<int32_t, 8> searchRegions(int w, int h) {
    return {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
}

DetectionThread::DetectionThread(const CalibrationState& state, MarkerEditor& markers)
    : state_(state), markers_(markers) {}

void DetectionThread::forgetLastPass() {
    std::lock_guard lock(mutex_);
    last_ = DetectionResult{};
}

bool DetectionThread::start() {
    try {
        busy_ = true;
        thread_ = std::thread(&DetectionThread::pass, this);
        return true;
    } catch (const std::system_error&) {
        busy_ = false;
        return false;
    }
}

void DetectionThread::join() {
    if (thread_.joinable()) thread_.join();
}

DetectionResult DetectionThread::wait() {
    join();
    std::lock_guard lock(mutex_);
    return last_;
}

int32_t DetectionThread::result(int camera) const {
    std::lock_guard lock(mutex_);
    return last_.cameras.at(camera);
}

void DetectionThread::pass() {
    const Stopwatch pass;
    const CameraParam& front = state_.cameras[kFront];
    const std::array<int32_t, 8> regions = searchRegions(front.width, front.height);
    for (int c = 0; c < kCameraCount; ++c) {
        DetectorInput in = markers_.detectorInput(c);
        in.camera.imagePoints = in.imagePoints.data();
        in.camera.worldPoints = in.worldPoints.data();
        const int32_t result = in.pixels.empty() ? -1 : mzGetPatternIP(in.pixels.data(), &in.camera, regions.data());
        {
            std::lock_guard lock(mutex_);
            last_.cameras[c] = result;
        }
        markers_.takeDetected(c, in.imagePoints);
    }
    {
        std::lock_guard lock(mutex_);
        last_.finished = true;
        last_.time = pass.elapsed();
    }
    busy_ = false;
}

}  // namespace mz::core
