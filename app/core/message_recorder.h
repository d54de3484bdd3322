// The session's side of the Ui: passes every call on to the operator's side unchanged and keeps
// the messages shown while a command runs, so that the command can report them in its result.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/core/command_result.h"
#include "app/core/ui.h"

namespace mz::core {

// A call added to Ui must be passed on here too, or the operator's side never sees it.
class MessageRecorder : public Ui {
public:
    static constexpr size_t kLogLength = 500;

    explicit MessageRecorder(Ui& ui) : ui_(ui) {}

    // Messages shown during the life of a Recording are appended to its list. Messages come from
    // the user-interface thread only (the detection thread only asks for redraws).
    class Recording {
    public:
        // A command run from inside another one's message box records its own messages only.
        Recording(MessageRecorder& recorder, std::vector<ShownMessage>& into)
            : recorder_(recorder), outer_(recorder.sink_) {
            recorder_.sink_ = &into;
        }
        ~Recording() { recorder_.sink_ = outer_; }
        Recording(const Recording&) = delete;
        Recording& operator=(const Recording&) = delete;

    private:
        MessageRecorder& recorder_;
        std::vector<ShownMessage>* outer_;
    };

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

    // Every message shown since the program started, oldest first (the last kLogLength).
    std::vector<ShownMessage> log() const;

private:
    void record(ShownMessage message);

    Ui& ui_;
    std::vector<ShownMessage>* sink_ = nullptr;
    mutable std::mutex logMutex_;
    std::deque<ShownMessage> log_;
};

}  // namespace mz::core
