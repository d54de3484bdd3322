// A Ui for tests: answers the choosers from queues and records everything the workflow shows.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/core/command_result.h"
#include "app/core/ui.h"

namespace mz::core::test {

class ScriptedUi : public Ui {
public:
    // Answers, taken in order; an empty queue answers "cancelled".
    std::deque<std::optional<std::string>> configAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    std::deque<std::optional<std::string>> fileAnswers;
    std::deque<bool> confirmAnswers;  // an empty queue answers "no"
    // Runs inside the preview's view-updated notification, as a window's handler would.
    std::function<void()> onViewUpdated;

    void showMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
    void showDetailedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                             const std::string& detail) override;
    std::optional<std::string> chooseConfiguration(const std::string& lastPath) override;
    std::optional<std::string> chooseFolder(const FolderChooserTexts& texts, const std::string& currentFolder) override;
    bool confirm(const std::string& text, const std::string& title) override;
    std::optional<std::string> chooseFile(const FileChooserRequest& request) override;
    void showProgress() override;
    void setProgressStatus(const std::string& text) override;
    void setProgressPosition(double percent) override;
    void hideProgress() override;
    void setTitle(const std::string& title) override;
    void setButtonLook(Button button, ButtonLook look) override;
    void focusButton(Button button) override;
    void redrawImageView(int camera) override;
    void showImageViews() override;
    void detectionFinished() override;
    void showPreview() override;
    void previewViewUpdated() override;
    void previewStateChanged() override;

    // Copies, safe while the detection thread reports.
    std::vector<ShownMessage> messages() const;
    std::vector<std::string> messageTexts() const;
    std::vector<std::string> events() const;  // every call in order, one line each
    std::string title() const;
    ButtonLook look(Button button) const;
    std::vector<double> progressPositions() const;
    std::vector<std::string> progressStatuses() const;
    int redrawCount(int camera) const;
    int viewUpdates() const;
    std::vector<FolderChooserTexts> folderRequests() const;
    std::vector<FileChooserRequest> fileRequests() const;
    std::vector<std::string> configRequests() const;  // the paths the chooser opened with
    void clearRecords();

private:
    void note(const std::string& event);

    mutable std::mutex mutex_;
    std::vector<ShownMessage> messages_;
    std::vector<std::string> events_;
    std::string title_;
    ButtonLook looks_[5] = {};
    std::vector<double> positions_;
    std::vector<std::string> statuses_;
    int redraws_[4] = {};
    int viewUpdates_ = 0;
    std::vector<FolderChooserTexts> folderRequests_;
    std::vector<FileChooserRequest> fileRequests_;
    std::vector<std::string> configRequests_;
};

}  // namespace mz::core::test
