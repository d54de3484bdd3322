// The pattern detection that "Image Load" starts: one pass over the four pictures on its own
// thread, filling the markers of each view as it goes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/core/command_result.h"
#include "app/core/marker_editor.h"

namespace mz::core {

// Search regions of the detector for a picture of width x height: x, y, width, height of the
// left half, then of the right half.
std::array<int32_t, 8> searchRegions(int width, int height);

// The status line of a pass, camera by camera: "Front found", "Front: right NOT FOUND" (one
// triangle lost), "Front NOT FOUND"; "-" for a camera the pass has not reached.
std::string detectionStatus(const DetectionResult& result);

class DetectionThread {
public:
    // The pass reads the camera records of state and writes the views through markers.
    DetectionThread(const CalibrationState& state, MarkerEditor& markers, Ui& ui);
    ~DetectionThread() { join(); }
    DetectionThread(const DetectionThread&) = delete;
    DetectionThread& operator=(const DetectionThread&) = delete;

    // The pass about to start is the one wait reports from now on.
    void forgetLastPass();
    // False when no thread could be made; nothing runs then.
    bool start();
    // Whoever reads or rewrites what a pass writes waits for it here first.
    void join();
    // Blocks until a running pass has finished; returns the last pass.
    DetectionResult wait();
    bool running() const { return busy_.load(); }
    // What the detector returned for a camera in the last pass (0 found, -1 nothing found);
    // 1 while no pass has run.
    int32_t result(int camera) const;
    // One message for each half the last pass did not fill, naming camera, half and reason.
    std::vector<std::string> lostHalfMessages() const;
    // The last pass as it stands, without waiting.
    DetectionResult last() const;

private:
    void pass();

    const CalibrationState& state_;
    MarkerEditor& markers_;
    Ui& ui_;
    mutable std::mutex mutex_;  // guards last_
    DetectionResult last_;
    std::thread thread_;
    std::atomic<bool> busy_{false};
};

}  // namespace mz::core
