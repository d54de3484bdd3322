#include "app/core/session.h"

#include <cstdio>

#include "app/core/config_check.h"
#include "app/core/config_loader.h"
#include "app/core/output_writer.h"
#include "format/config_reader.h"

namespace mz::core {

namespace {

void error(Ui& ui, const char* text) { ui.showMessage(text, kAppTitle, MessageIcon::kError); }

ReadChecksum checksumOf(std::filesystem::path file, std::span<const uint8_t> bytes) {
    return {std::move(file), {static_cast<int64_t>(bytes.size()), station::sha256Hex(bytes)}};
}

}  // namespace

Session::Session(Ui& ui, SessionOptions options)
    : ui_(ui), options_(options), preview_(ui_, state_), markers_(ui_, state_), detection_(state_, markers_, ui_) {
    preview_.setCameraGuard([this] { detection_.join(); });
    preview_.views().setStitchedPicture(options_.stitchedPicture);
    char title[128];
    std::snprintf(title, sizeof title, "%s - Calibration Tool v%hu.%hu.%hu", "Untitled", options_.programVersion[0],
                  options_.programVersion[1], options_.programVersion[2]);
    ui_.setTitle(title);
}

// ---- Config Load ----

ConfigLoadResult Session::configLoad() {
    ConfigLoadResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    // Closing the chooser without "Load" cancels: the last configuration stays as it is.
    const std::optional<std::string> path = ui_.chooseConfiguration(configPath_);
    if (!path) {
        result.status = CommandStatus::kCancelled;
        return result;
    }
    configPath_ = *path;
    configChecksum_.reset();
    // Whatever the reader leaves, the preview's tables no longer belong to what is loaded.
    forgetApply();
    // Detection reads the camera records the reader is about to overwrite.
    detection_.join();
    // No lock here: detection has ended, and the reader shows messages, during which a window
    // may draw the image views. The preview lets go of the engines the reader releases.
    const Stopwatch reading;
    std::vector<uint8_t> bytes;
    const bool read =
        format::readFileBytes(configPath_, bytes) &&
        loadConfiguration(std::span<const uint8_t>(bytes), state_, ui_, [this] { preview_.forgetViews(); });
    if (read && checksums_) configChecksum_ = checksumOf(configPath_, bytes);
    result.read = reading.elapsed();
    if (!read) {
        result.detail = configPath_ + " " + unreadableConfiguration(configPath_);
        ui_.showDetailedMessage("Config File error!", kAppTitle, MessageIcon::kError, result.detail);
        result.status = CommandStatus::kFailed;
        return result;
    }
    // The layout held, but the engines could not make sense of every value.
    result.detail = configurationProblem(state_);
    if (!result.detail.empty()) {
        ui_.showDetailedMessage("Config File error!", kAppTitle, MessageIcon::kError, result.detail);
        result.status = CommandStatus::kFailed;
        return result;
    }
    const Stopwatch setup;
    result.status = afterConfigLoad();
    result.viewSetup = setup.elapsed();
    return result;
}

CommandStatus Session::afterConfigLoad() {
    state_.modelCode = modelCodeOf(state_.modelName);
    if (state_.modelCode != 165 && state_.modelCode != 167) {
        ui_.setButtonLook(Button::kConfigLoad, ButtonLook::kInitial);
        ui_.showMessage("The model is not supported by Calibration Tool", kAppTitle, MessageIcon::kInformation);
        return CommandStatus::kRefused;
    }
    ui_.setButtonLook(Button::kConfigLoad, ButtonLook::kDone);
    markers_.resetPatternPoints();
    preview_.settings().setDataVersion(1, 0);
    CommandStatus status = CommandStatus::kDone;
    for (int slot = std::min(state_.multiviewCount(), kMultiviewSlots) - 1; slot >= 0; --slot) {
        preview_.setHeader(state_.header);
        if (preview_.initStitchedView(slot)) {
            preview_.car().giveConfiguredImage(slot);
            ui_.previewViewUpdated();
        } else {
            // The other views go on; the configuration is loaded, but not all of it can be shown.
            error(ui_, "AVM size has been exceeded.");
            status = CommandStatus::kFailed;
        }
    }
    if (state_.singleviewCount() >= 1) preview_.initSingleViews();
    return status;
}

std::string Session::statusText() const {
    if (configPath_.empty()) return "No configuration loaded";
    std::string text = state_.modelName + "\n";
    if (detection_.running()) text += "Detecting the patterns...";
    else if (imagesLoaded_) {
        text += detectionStatus(detection_.last());
        for (const std::string& lost : detection_.lostHalfMessages()) text += "\n" + lost;
    }
    return text;
}

// ---- Image Load ----

ImageLoadResult Session::imageLoad() {
    ImageLoadResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (configPath_.empty()) {
        error(ui_, "First select a configure file.");
        result.status = CommandStatus::kRefused;
        return result;
    }
    // The views are about to get new pictures; a detection still reading the old ones ends first.
    detection_.join();
    const bool quad = state_.modelCode > 200;
    const std::optional<std::string> source =
        quad ? ui_.chooseFile({"", "4VGA Image File(*.bmp)| All Files(*.*)|", "BMP"})
             : ui_.chooseFolder(kImageLoadChooser, dataFolder_);
    if (!source) {
        result.status = CommandStatus::kCancelled;
        return result;
    }
    const Stopwatch reading;
    std::array<format::Bitmap, kCameraCount> pictures;
    std::vector<ReadChecksum> read;
    SeeFile see;
    if (checksums_)
        see = [&read](const std::filesystem::path& f, std::span<const uint8_t> b) { read.push_back(checksumOf(f, b)); };
    if (!quad) dataFolder_ = *source;
    const CameraParam& front = state_.cameras[kFront];
    result.status = quad ? readQuadPicture(*source, front.width, front.height, ui_, pictures, result.detail, see)
                         : readCameraPictures(dataFolder_, front, ui_, pictures, result.detail, see);
    if (!result.done()) return result;
    // Taken as each file is read, not while detection runs: detection's thread is slowed by far
    // more than the checksums take on the other core, and holding the files costs fresh memory.
    pictureChecksums_ = std::move(read);

    picturesSource_ = *source;
    markers_.setPictures(std::move(pictures));
    markImagesLoaded();
    markers_.showPatternPoints();
    result.read = reading.elapsed();

    detection_.forgetLastPass();
    if (!options_.detectOnLoad) {
        ui_.showImageViews();
        if (preview_.views().hasEngine()) handPicturesToPreview();
        return result;
    }
    if (detection_.start()) {
        result.detectionStarted = true;
    } else {
        error(ui_, "Thread creation failed.\n\nWait till threads are complete before main continues.");
        result.status = CommandStatus::kFailed;
    }
    ui_.showImageViews();

    if (preview_.views().hasEngine()) handPicturesToPreview();
    return result;
}

std::vector<ReadChecksum> Session::inputChecksums() const {
    std::vector<ReadChecksum> out;
    if (configChecksum_) out.push_back(*configChecksum_);
    out.insert(out.end(), pictureChecksums_.begin(), pictureChecksums_.end());
    return out;
}

void Session::handPicturesToPreview() {
    markers_.withPictures(
        [this](std::span<const uint8_t> front, std::span<const uint8_t> left, std::span<const uint8_t> right,
               std::span<const uint8_t> rear) { preview_.views().setImages(front, left, right, rear); });
}

void Session::markImagesLoaded() {
    imagesLoaded_ = true;
    forgetApply();
    ui_.setButtonLook(Button::kImageLoad, ButtonLook::kDone);
}

void Session::forgetApply() {
    applyCurrent_ = false;
    applyFailed_ = false;
    ui_.setButtonLook(Button::kApplyAvm, imagesLoaded_ ? ButtonLook::kReady : ButtonLook::kInitial);
}

// ---- Apply AVM ----

ApplyAvmResult Session::applyAvm() {
    ApplyAvmResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (!readyToApply()) {
        result.status = CommandStatus::kRefused;
        return result;
    }
    // The points of a running detection would otherwise change under the calibration.
    detection_.join();
    if (surveyApplied_) {
        usePatternPoints(state_);
        surveyApplied_ = false;
    }
    ui_.focusButton(Button::kSaveLut);
    markers_.commitMarkers();
    if (!openPreview()) {
        result.status = CommandStatus::kFailed;
        noteApply(result);
        return result;
    }
    const Stopwatch calibrating;
    const bool calibrated = preview_.calibrate(true);
    result.calibrate = calibrating.elapsed();
    result.calibration = preview_.rig().lastResult();
    result.refinement = preview_.rig().report();
    // The view is rebuilt whatever the calibration found: the operator judges it in the preview.
    rebuildAfterApply(result, calibrated);
    return result;
}

ApplyAvmResult Session::applySurvey(const Survey& survey) {
    ApplyAvmResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (!readyToApply()) {
        result.status = CommandStatus::kRefused;
        return result;
    }
    detection_.join();
    const std::vector<std::string> problems = checkSurvey(survey, state_.cameras);
    if (!problems.empty()) {
        std::string text = "The surveyed points cannot be used:";
        for (const std::string& p : problems) text += "\n" + p;
        error(ui_, text.c_str());
        result.status = CommandStatus::kRefused;
        return result;
    }
    ui_.focusButton(Button::kSaveLut);
    if (!openPreview()) {
        result.status = CommandStatus::kFailed;
        noteApply(result);
        return result;
    }
    const Stopwatch calibrating;
    applySurveyToCameras(state_, survey, surveyPoses_);
    surveyApplied_ = true;
    result.calibrate = calibrating.elapsed();
    rebuildAfterApply(result, true);
    return result;
}

bool Session::readyToApply() {
    if (configPath_.empty()) {
        error(ui_, "First select a configure file.");
        return false;
    }
    if (!imagesLoaded_) {
        error(ui_, "There are no images to stitch!");
        return false;
    }
    return true;
}

bool Session::openPreview() {
    ui_.showPreview();
    if (!preview_.views().hasEngine()) {
        viewApplied_ = false;
        return false;
    }
    // Pictures loaded while no view could take them (an unsupported model before this one).
    if (!preview_.views().context().imagesPresent) handPicturesToPreview();
    return true;
}

void Session::rebuildAfterApply(ApplyAvmResult& result, bool calibrated) {
    preview_.parkingLine().clearConfirmation();
    const Stopwatch building;
    viewApplied_ = preview_.views().rebuildCurrent();
    result.build = building.elapsed();
    result.viewBuilt = viewApplied_;
    result.status = calibrated && viewApplied_ ? CommandStatus::kDone : CommandStatus::kFailed;
    noteApply(result);
}

void Session::noteApply(const ApplyAvmResult& result) {
    applyCurrent_ = result.done();
    applyFailed_ = !result.done();
    const ShownMessage* reason = result.reason();
    lastApplyReason_ = reason ? reason->title + ": " + reason->text : "the stitched view could not be built";
    ui_.setButtonLook(Button::kApplyAvm, applyCurrent_ ? ButtonLook::kDone : ButtonLook::kReady);
}

// ---- Save LUT ----

SaveResult Session::saveLut() {
    detection_.join();
    char tool[64];
    std::snprintf(tool, sizeof tool, "Calibration Tool v%hu.%hu.%hu", options_.programVersion[0],
                  options_.programVersion[1], options_.programVersion[2]);
    std::vector<ShownMessage> shown;
    SaveResult result;
    {
        const MessageRecorder::Recording recording(ui_, shown);
        // Tables of a rig that did not fit would be written as if they did: they are refused, as
        // are tables older than the configuration or pictures now loaded.
        SaveInputs inputs{state_,
                          preview_,
                          applyCurrent_ || applyFailed_,
                          dataFolder_,
                          options_.saveDate,
                          tool,
                          applyFailed_ ? lastApplyReason_ : std::string(),
                          checksums_};
        result = saveOutput(inputs, ui_);
        if (!applyCurrent_ && !applyFailed_ && viewApplied_) {
            result.detail = "a configuration or pictures were loaded after the last Apply AVM";
        }
    }
    result.messages = std::move(shown);
    return result;
}

}  // namespace mz::core
