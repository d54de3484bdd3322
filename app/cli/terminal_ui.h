// The workflow's operator side on a terminal: messages printed with their title and icon kind,
// choosers answered from the command line, the progress window as a bar (only on a terminal).
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/ui.h"

namespace mz::cli {

struct ShownMessage {
    std::string text;
    std::string title;
    core::MessageIcon icon;
};

// What the choosers answer: the command line has already said everything the operator would pick.
struct TerminalAnswers {
    std::optional<std::string> configuration;
    std::optional<std::string> imageFolder;
    std::optional<std::string> saveFolder;
    std::optional<std::string> quadPicture;
};

class TerminalUi : public core::Ui {
public:
    // Messages go to `out`; the progress bar to `progress` when that stream is a terminal.
    TerminalUi(TerminalAnswers answers, std::FILE* out, std::FILE* progress);

    void showMessage(const std::string& text, const std::string& title, core::MessageIcon icon) override;
    std::optional<std::string> chooseConfiguration(const std::string& lastPath) override;
    std::optional<std::string> chooseFolder(const core::FolderChooserTexts& texts,
                                            const std::string& currentFolder) override;
    std::optional<std::string> chooseFile(const core::FileChooserRequest& request) override;
    void showProgress() override;
    void setProgressStatus(const std::string& text) override;
    void setProgressPosition(double percent) override;
    void hideProgress() override;
    void setTitle(const std::string& title) override { title_ = title; }
    void setButtonLook(core::Button, core::ButtonLook) override {}
    void previewViewUpdated() override;

    const std::vector<ShownMessage>& messages() const { return messages_; }
    // Messages shown with the error icon since the mark was taken.
    size_t mark() const { return messages_.size(); }
    bool errorSince(size_t mark) const;
    std::optional<ShownMessage> lastErrorSince(size_t mark) const;
    bool shown(const std::string& text) const;
    const std::string& title() const { return title_; }
    int viewUpdates() const { return viewUpdates_; }
    // Called whenever the preview's view has been rebuilt (for the stage timings).
    void setViewUpdatedHook(std::function<void()> hook) { viewUpdatedHook_ = std::move(hook); }

private:
    void drawBar();
    void endBar();

    TerminalAnswers answers_;
    std::FILE* out_;
    std::FILE* progress_;
    bool progressIsTerminal_ = false;
    bool barVisible_ = false;
    std::string status_;
    double percent_ = 0;
    std::string title_;
    int viewUpdates_ = 0;
    std::function<void()> viewUpdatedHook_;
    std::vector<ShownMessage> messages_;
};

// "error", "information" or "warning".
const char* iconName(core::MessageIcon icon);

}  // namespace mz::cli
