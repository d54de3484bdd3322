// The main window's logic: the five commands, their guards and messages, the image views with
// their marker triangles, and the pattern detection thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/command_result.h"
#include "app/core/message_recorder.h"
#include "app/core/output_writer.h"
#include "app/core/preview_context.h"
#include "app/core/survey.h"
#include "app/core/ui.h"
#include "format/bitmap.h"

namespace mz::core {

inline constexpr const char* kDefaultImageNames[kCameraCount] = {
    "image/front.bmp", "image/rear.bmp", "image/left.bmp", "image/right.bmp"};
inline constexpr const char* kImageCaptions[kCameraCount] = {"Front View", "Rear View", "Left View",
                                                             "Right View"};

using Triangle = std::array<Point2F, 3>;

// One camera's picture and the operator's markers on it. Points are image pixels kept at full
// precision; the window rounds them only to draw.
struct ImageView {
    std::string caption;
    format::Bitmap image;                          // top row first, rows padded to 4 bytes
    std::array<Triangle, 2> triangles{};   // the left and the right pattern
    int currentTriangle = -1;
    int selectedVertex = -1;               // vertex of the current triangle under the operator's hand
    int highlightedTriangle = -1;          // vertex under the pointer while no button is down
    int highlightedVertex = -1;
    bool dragging = false;
    Point2F grabOffset{0, 0};
};

enum class ArrowKey { kUp, kDown, kLeft, kRight };

struct SessionOptions {
    // Image Load starts the pattern detection; a run from surveyed points has no use for it.
    bool detectOnLoad = true;
    std::array<uint16_t, 3> programVersion{0, 1, 0};   // major, minor, build
    std::optional<format::FlashDate> saveDate;                  // the local date when empty
};

// The triangles are edited from the user-interface thread and replaced by the detection thread:
// every access goes through the session's lock.
class Session {
public:
    explicit Session(Ui& ui, SessionOptions options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Each command shows its messages as before and also returns them, with how it ended and the
    // times of its stages.
    ConfigLoadResult configLoad();
    ImageLoadResult imageLoad();
    ApplyAvmResult applyAvm();
    // "Apply AVM" from surveyed floor points: the pairs become the cameras' point pairs and give
    // their poses; no pattern calibration runs (calibration stays empty in the result). Checked
    // pairs only: anything checkSurvey names is refused with its messages.
    ApplyAvmResult applySurvey(const Survey& survey);
    const std::array<SurveyPose, kCameraCount>& surveyPoses() const { return surveyPoses_; }
    bool surveyApplied() const { return surveyApplied_; }
    SaveResult saveLut();

    // Marker editing in the image view of a camera; positions in image pixels.
    void pointerDown(int camera, Point2F position);
    void pointerMove(int camera, Point2F position);
    void pointerUp(int camera);
    void arrowKey(int camera, ArrowKey key);

    // Blocks until a running detection has finished; returns the last pass.
    DetectionResult waitForDetection();
    bool detectionRunning() const { return detectionBusy_.load(); }

    ImageView imageView(int camera) const;
    // What the detector returned for a camera in the last pass (0 found, -1 nothing found);
    // 1 while no pass has run.
    int32_t detectionResult(int camera) const;
    std::array<Point2F, kPatternPointCount> patternPoints(int camera) const;
    // Puts points into a camera's view as the operator would place them (the command-line
    // program's corrections).
    void setMarkers(int camera, const std::array<Point2F, kPatternPointCount>& points);

    const std::string& configPath() const { return configPath_; }
    const std::string& dataFolder() const { return dataFolder_; }
    bool imagesLoaded() const { return imagesLoaded_; }
    bool viewApplied() const { return viewApplied_; }
    CalibrationState& calibration() { return state_; }
    Preview& preview() { return preview_; }

    // Search regions of the detector for a picture of width x height: x, y, width, height of the
    // left half, then of the right half.
    static std::array<int32_t, 8> searchRegions(int width, int height);
    static std::array<Point2F, kPatternPointCount> defaultPatternPoints(int camera, int width, int height);

private:
    CommandStatus readFourFiles(std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail);
    CommandStatus readQuad(const std::string& path, std::array<format::Bitmap, kCameraCount>& pictures,
                           std::string& detail);
    CommandStatus afterConfigLoad();
    // Apply AVM and its surveyed form: the guards, the preview with the pictures, the rebuilt view.
    bool readyToApply();
    bool openPreview();
    void rebuildAfterApply(ApplyAvmResult& result, bool calibrated);
    void joinDetection();
    void detect();
    void putPointsIntoView(int camera);
    void markImagesLoaded();
    static int hitTest(const Triangle& t, Point2F p);

    MessageRecorder ui_;
    SessionOptions options_;
    CalibrationState state_;
    Preview preview_;
    std::string configPath_;
    std::string dataFolder_;
    bool imagesLoaded_ = false;
    bool viewApplied_ = false;
    bool surveyApplied_ = false;
    std::array<SurveyPose, kCameraCount> surveyPoses_{};

    mutable std::mutex mutex_;   // guards views_ and the pattern points of state_.cameras
    std::array<ImageView, kCameraCount> views_;
    DetectionResult lastDetection_;
    std::thread detection_;
    std::atomic<bool> detectionBusy_{false};
};

}  // namespace mz::core
