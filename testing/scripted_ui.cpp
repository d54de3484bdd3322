#include "testing/scripted_ui.h"

namespace mz::core::test {

namespace {

template <typename T>
std::optional<std::string> take(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<std::string> answer = queue.front();
    queue.pop_front();
    return answer;
}

const char* iconName(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::kError: return "error";
    case MessageIcon::kInformation: return "information";
    case MessageIcon::kWarning: return "warning";
    }
    return "?";
}

}  // namespace

void ScriptedUi::note(const std::string& event) { events_.push_back(event); }

void ScriptedUi::showMessage(const std::string& text, const std::string& title, MessageIcon icon) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, title, icon});
    note(std::string("message(") + iconName(icon) + ") " + title + ": " + text);
}

void ScriptedUi::showDetailedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                     const std::string& detail) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, title, icon, detail});
    note(std::string("message(") + iconName(icon) + ") " + title + ": " + text + " [" + detail + "]");
}

std::optional<std::string> ScriptedUi::chooseConfiguration(const std::string& lastPath) {
    std::lock_guard lock(mutex_);
    configRequests_.push_back(lastPath);
    note("chooseConfiguration " + lastPath);
    return take(configAnswers);
}

std::optional<std::string> ScriptedUi::chooseFolder(const FolderChooserTexts& texts, const std::string& currentFolder) {
    std::lock_guard lock(mutex_);
    folderRequests_.push_back(texts);
    note("chooseFolder " + texts.title + " " + currentFolder);
    return take(folderAnswers);
}

bool ScriptedUi::confirm(const std::string& text, const std::string& title) {
    std::lock_guard lock(mutex_);
    note("confirm " + title + ": " + text);
    if (confirmAnswers.empty()) return false;
    const bool yes = confirmAnswers.front();
    confirmAnswers.pop_front();
    return yes;
}

std::optional<std::string> ScriptedUi::chooseFile(const FileChooserRequest& request) {
    std::lock_guard lock(mutex_);
    fileRequests_.push_back(request);
    note("chooseFile " + request.filter);
    return take(fileAnswers);
}

void ScriptedUi::showProgress() {
    std::lock_guard lock(mutex_);
    note("showProgress");
}

void ScriptedUi::setProgressStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    statuses_.push_back(text);
    note("progressStatus " + text);
}

void ScriptedUi::setProgressPosition(double percent) {
    std::lock_guard lock(mutex_);
    positions_.push_back(percent);
    note("progressPosition " + std::to_string(percent));
}

void ScriptedUi::hideProgress() {
    std::lock_guard lock(mutex_);
    note("hideProgress");
}

void ScriptedUi::setTitle(const std::string& title) {
    std::lock_guard lock(mutex_);
    title_ = title;
    note("title " + title);
}

void ScriptedUi::setButtonLook(Button button, ButtonLook look) {
    std::lock_guard lock(mutex_);
    looks_[static_cast<int>(button)] = look;
    note("buttonLook " + std::to_string(static_cast<int>(button)) + " " + std::to_string(static_cast<int>(look)));
}

void ScriptedUi::focusButton(Button button) {
    std::lock_guard lock(mutex_);
    note("focus " + std::to_string(static_cast<int>(button)));
}

void ScriptedUi::redrawImageView(int camera) {
    std::lock_guard lock(mutex_);
    if (camera >= 0 && camera < 4) ++redraws_[camera];
}

void ScriptedUi::showImageViews() {
    std::lock_guard lock(mutex_);
    note("showImageViews");
}

void ScriptedUi::detectionFinished() {
    std::lock_guard lock(mutex_);
    note("detectionFinished");
}

void ScriptedUi::showPreview() {
    std::lock_guard lock(mutex_);
    note("showPreview");
}

void ScriptedUi::previewViewUpdated() {
    {
        std::lock_guard lock(mutex_);
        ++viewUpdates_;
    }
    if (onViewUpdated) onViewUpdated();
}

void ScriptedUi::previewStateChanged() {}

std::vector<ShownMessage> ScriptedUi::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> ScriptedUi::messageTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const ShownMessage& m : messages_) texts.push_back(m.text);
    return texts;
}

std::vector<std::string> ScriptedUi::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::string ScriptedUi::title() const {
    std::lock_guard lock(mutex_);
    return title_;
}

ButtonLook ScriptedUi::look(Button button) const {
    std::lock_guard lock(mutex_);
    return looks_[static_cast<int>(button)];
}

std::vector<double> ScriptedUi::progressPositions() const {
    std::lock_guard lock(mutex_);
    return positions_;
}

std::vector<std::string> ScriptedUi::progressStatuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
}

int ScriptedUi::redrawCount(int camera) const {
    std::lock_guard lock(mutex_);
    return camera >= 0 && camera < 4 ? redraws_[camera] : 0;
}

int ScriptedUi::viewUpdates() const {
    std::lock_guard lock(mutex_);
    return viewUpdates_;
}

std::vector<FolderChooserTexts> ScriptedUi::folderRequests() const {
    std::lock_guard lock(mutex_);
    return folderRequests_;
}

std::vector<FileChooserRequest> ScriptedUi::fileRequests() const {
    std::lock_guard lock(mutex_);
    return fileRequests_;
}

std::vector<std::string> ScriptedUi::configRequests() const {
    std::lock_guard lock(mutex_);
    return configRequests_;
}

void ScriptedUi::clearRecords() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    events_.clear();
    positions_.clear();
    statuses_.clear();
    folderRequests_.clear();
    fileRequests_.clear();
    configRequests_.clear();
}

}  // namespace mz::core::test
