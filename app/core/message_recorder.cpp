#include "app/core/message_recorder.h"

namespace mz::core {

void MessageRecorder::record(ShownMessage message) {
    if (sink_) sink_->push_back(message);
    std::lock_guard lock(logMutex_);
    log_.push_back(std::move(message));
    if (log_.size() > kLogLength) log_.pop_front();
}

std::vector<ShownMessage> MessageRecorder::log() const {
    std::lock_guard lock(logMutex_);
    return {log_.begin(), log_.end()};
}

void MessageRecorder::showMessage(const std::string& text, const std::string& title, MessageIcon icon) {
    record({text, title, icon});
    ui_.showMessage(text, title, icon);
}

void MessageRecorder::showDetailedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                          const std::string& detail) {
    record({text, title, icon, detail});
    ui_.showDetailedMessage(text, title, icon, detail);
}

std::optional<std::string> MessageRecorder::chooseConfiguration(const std::string& lastPath) {
    return ui_.chooseConfiguration(lastPath);
}

bool MessageRecorder::confirm(const std::string& text, const std::string& title) { return ui_.confirm(text, title); }

std::optional<std::string> MessageRecorder::chooseFolder(const FolderChooserTexts& texts,
                                                         const std::string& currentFolder) {
    return ui_.chooseFolder(texts, currentFolder);
}

std::optional<std::string> MessageRecorder::chooseFile(const FileChooserRequest& request) {
    return ui_.chooseFile(request);
}

void MessageRecorder::showProgress() { ui_.showProgress(); }
void MessageRecorder::setProgressStatus(const std::string& text) { ui_.setProgressStatus(text); }
void MessageRecorder::setProgressPosition(double percent) { ui_.setProgressPosition(percent); }
void MessageRecorder::hideProgress() { ui_.hideProgress(); }
void MessageRecorder::setTitle(const std::string& title) { ui_.setTitle(title); }
void MessageRecorder::setButtonLook(Button button, ButtonLook look) { ui_.setButtonLook(button, look); }
void MessageRecorder::focusButton(Button button) { ui_.focusButton(button); }
void MessageRecorder::redrawImageView(int camera) { ui_.redrawImageView(camera); }
void MessageRecorder::showImageViews() { ui_.showImageViews(); }
void MessageRecorder::detectionFinished() { ui_.detectionFinished(); }
void MessageRecorder::showPreview() { ui_.showPreview(); }
void MessageRecorder::previewViewUpdated() { ui_.previewViewUpdated(); }
void MessageRecorder::previewStateChanged() { ui_.previewStateChanged(); }

}  // namespace mz::core
