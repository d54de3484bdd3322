// The main window's logic: the five commands, their guards and messages. The image views with
// their marker triangles and the pattern detection thread are parts the session owns.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/camera_pictures.h"
#include "app/core/command_result.h"
#include "app/core/detection_thread.h"
#include "app/core/marker_editor.h"
#include "app/core/message_recorder.h"
#include "app/core/output_writer.h"
#include "app/core/preview_context.h"
#include "app/core/survey.h"
#include "app/core/ui.h"
#include "station/checksum.h"

namespace mz::core {

struct SessionOptions {
    // Image Load starts the pattern detection; a run from surveyed points has no use for it.
    bool detectOnLoad = true;
    std::array<uint16_t, 3> programVersion{0, 1, 0};  // major, minor, build
    std::optional<format::FlashDate> saveDate;        // the local date when empty
    // Apply AVM stitches the preview's picture. A run that neither shows nor writes it (no window,
    // snapshot or certificate) leaves it unmade: the saved files come from the views' maps alone.
    bool stitchedPicture = true;
};

// A file the session read, with the checksum of the bytes it read.
struct ReadChecksum {
    std::filesystem::path file;
    station::FileDigest digest;
};

// Owns the calibration state and the parts that work on it; the commands decide the order.
class Session {
public:
    explicit Session(Ui& ui, SessionOptions options = {});
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

    // The image views and their markers; the detection that fills them.
    MarkerEditor& markers() { return markers_; }
    const MarkerEditor& markers() const { return markers_; }
    DetectionThread& detection() { return detection_; }

    // The main window's status: the model, then what detection found camera by camera.
    std::string statusText() const;

    const std::string& configPath() const { return configPath_; }
    const std::string& dataFolder() const { return dataFolder_; }
    // The folder (or the four-quadrant picture) the pictures now loaded came from.
    const std::string& picturesSource() const { return picturesSource_; }
    const SessionOptions& options() const { return options_; }
    // From now on the configuration, the pictures and the saved files get their checksums from
    // the bytes as they are read and written, for the station history; a session that records
    // nothing has no use for them (off at first).
    void keepChecksums(bool on) { checksums_ = on; }
    // The configuration and pictures now loaded, as they were read (none where they were read
    // without keepChecksums).
    std::vector<ReadChecksum> inputChecksums() const;
    // The operator's messages, as the commands show them (and the message log keeps them).
    Ui& ui() { return ui_; }
    bool imagesLoaded() const { return imagesLoaded_; }
    bool viewApplied() const { return viewApplied_; }
    // The preview's tables come from an "Apply AVM" that succeeded on the configuration and
    // pictures loaded now: only then may they be saved.
    bool applyCurrent() const { return applyCurrent_; }
    CalibrationState& calibration() { return state_; }
    // Every message shown so far, with its detail: the operator's message log.
    std::vector<ShownMessage> messageLog() const { return ui_.log(); }
    Preview& preview() { return preview_; }

private:
    CommandStatus afterConfigLoad();
    // Apply AVM and its surveyed form: the guards, the preview with the pictures, the rebuilt view.
    bool readyToApply();
    bool openPreview();
    void rebuildAfterApply(ApplyAvmResult& result, bool calibrated);
    void handPicturesToPreview();
    void markImagesLoaded();
    void forgetApply();
    void noteApply(const ApplyAvmResult& result);

    MessageRecorder ui_;
    SessionOptions options_;
    CalibrationState state_;
    Preview preview_;
    std::string configPath_;
    std::string dataFolder_;
    std::string picturesSource_;
    bool checksums_ = false;
    std::optional<ReadChecksum> configChecksum_;
    std::vector<ReadChecksum> pictureChecksums_;
    bool imagesLoaded_ = false;
    bool viewApplied_ = false;
    bool applyCurrent_ = false;
    bool applyFailed_ = false;
    std::string lastApplyReason_;
    bool surveyApplied_ = false;
    std::array<SurveyPose, kCameraCount> surveyPoses_{};
    MarkerEditor markers_;
    // Last: it is destroyed first, so a running pass ends while everything it writes still exists.
    DetectionThread detection_;
};

}  // namespace mz::core
