#include "app/core/detection_thread.h"

#include <algorithm>
#include <system_error>

#include "app/core/detection_diagnosis.h"
#include "mz/mzpattern.h"

namespace mz::core {

namespace {

// Marks the points the detector has not written: a half it did not fill keeps it.
constexpr float kUnwritten = -1.0e30f;

}  // namespace

std::array<int32_t, 8> searchRegions(int w, int h) {
    return {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
}

namespace {

constexpr const char* kStatusNames[kCameraCount] = {"Front", "Rear", "Left", "Right"};

}  // namespace

std::string detectionStatus(const DetectionResult& r) {
    std::string text;
    for (int c = 0; c < kCameraCount; ++c) {
        if (c) text += ", ";
        text += kStatusNames[c];
        const auto& h = r.halves[c];
        if (r.cameras[c] > 0) text += " -";
        else if (r.cameras[c] < 0 || (!h[0] && !h[1])) text += " NOT FOUND";
        else if (h[0] && h[1]) text += " found";
        else text += h[0] ? ": right NOT FOUND" : ": left NOT FOUND";
    }
    return text;
}

DetectionThread::DetectionThread(const CalibrationState& state, MarkerEditor& markers, Ui& ui)
    : state_(state), markers_(markers), ui_(ui) {}

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

std::vector<std::string> DetectionThread::lostHalfMessages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> messages;
    for (int c = 0; c < kCameraCount; ++c) {
        for (int half = 0; half < 2; ++half) {
            if (const auto& reason = last_.lost[c][half]) messages.push_back(lostHalfMessage(c, half, *reason));
        }
    }
    return messages;
}

DetectionResult DetectionThread::last() const {
    std::lock_guard lock(mutex_);
    return last_;
}

void DetectionThread::pass() {
    const Stopwatch pass;
    const CameraParam& front = state_.cameras[kFront];
    const std::array<int32_t, 8> regions = searchRegions(front.width, front.height);
    for (int c = 0; c < kCameraCount; ++c) {
        DetectorInput in = markers_.detectorInput(c);
        std::array<Point2F, kPatternPointCount> written;
        written.fill(Point2F{kUnwritten, kUnwritten});
        in.camera.imagePoints = written.data();
        in.camera.worldPoints = in.worldPoints.data();
        const int32_t result = in.pixels.empty() ? -1 : mzGetPatternIP(in.pixels.data(), &in.camera, regions.data());
        std::array<std::optional<LostHalfReason>, 2> lost{};
        std::array<bool, 2> found{};
        for (int half = 0; half < 2; ++half) {
            const size_t first = static_cast<size_t>(3 * half);
            if (result == 0 && written[first].x != kUnwritten) {
                std::copy_n(written.begin() + first, 3, in.imagePoints.begin() + first);
                found[half] = true;
                continue;
            }
            lost[half] =
                in.pixels.empty() ? LostHalfReason::kNotSeen : diagnoseLostHalf(in.pixels, in.camera, regions, half);
        }
        {
            std::lock_guard lock(mutex_);
            last_.cameras[c] = result;
            last_.lost[c] = lost;
            last_.halves[c] = found;
        }
        markers_.takeDetected(c, in.imagePoints, found);
    }
    {
        std::lock_guard lock(mutex_);
        last_.finished = true;
        last_.time = pass.elapsed();
    }
    busy_ = false;
    ui_.detectionFinished();
}

}  // namespace mz::core
