// What a workflow command did: how it ended, what the operator was shown, and how long its stages
// took. The command line and the windows decide by these, never by the texts of the messages.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/detection_diagnosis.h"
#include "app/core/ui.h"
#include "refine/refinement.h"

namespace mz::core {

enum class CommandStatus {
    kDone,       // ran to its end
    kCancelled,  // the operator closed a chooser; nothing changed
    kRefused,    // a guard stopped it: a step missing before it, or a model or version the workflow does not take
    kFailed,     // it ran and fell short: an input unreadable, a view or a file not made, no calibration found
};

struct ShownMessage {
    std::string text;
    std::string title;
    MessageIcon icon;
    std::string detail = {};

    bool operator==(const ShownMessage&) const = default;
};

using Milliseconds = std::chrono::duration<double, std::milli>;

class Stopwatch {
public:
    Milliseconds elapsed() const { return std::chrono::steady_clock::now() - start_; }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

struct CommandResult {
    CommandStatus status = CommandStatus::kDone;
    std::vector<ShownMessage> messages;  // every message the command showed, in order
    // What went wrong beyond the message shown (its text is fixed): the camera, the file, what
    // would be needed. Empty when there is nothing to add.
    std::string detail;

    bool done() const { return status == CommandStatus::kDone; }
    // The message that tells why: the last one with the error icon, else the last one; null when
    // nothing was shown.
    const ShownMessage* reason() const;
};

// Stage times leave out the time the operator spends in a chooser.
struct ConfigLoadResult : CommandResult {
    Milliseconds read{};       // the file into the records, one engine per view created
    Milliseconds viewSetup{};  // the preview's views initialised (the stitched views' maps)
};

struct ImageLoadResult : CommandResult {
    Milliseconds read{};  // the pictures read, checked and put into the image views
    bool detectionStarted = false;
};

// One pass of the detection thread, as DetectionThread::wait returns it.
struct DetectionResult {
    bool finished = false;  // false while no pass has run to its end since the last Image Load
    std::array<int32_t, kCameraCount> cameras{1, 1, 1, 1};  // the detector's result: 0 found, -1 not
    // Per camera, the left and right half the detector did not fill, with the likely reason.
    std::array<std::array<std::optional<LostHalfReason>, 2>, kCameraCount> lost{};
    // Which triangles the detector found, left then right, by camera.
    std::array<std::array<bool, 2>, kCameraCount> halves{};
    Milliseconds time{};
};

struct ApplyAvmResult : CommandResult {
    std::optional<int32_t> calibration;  // the library's result (0 or more: success); empty when it did not run
    bool viewBuilt = false;
    Milliseconds calibrate{};
    Milliseconds build{};  // the view shown in the preview, rebuilt
    // What the refinement stages did and the quality figures of the rig; empty when no
    // calibration ran.
    std::optional<refine::RefinementReport> refinement;
};

}  // namespace mz::core
