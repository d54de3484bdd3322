// The workflow's operator side on a terminal: messages printed with their title and icon kind,
// choosers answered from the command line, the progress window as a bar (only on a terminal).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/core/command_result.h"
#include "app/core/ui.h"

namespace mz::cli {

using core::ShownMessage;

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

    const std::vector<ShownMessage>& messages() const { return messages_; }
    bool shown(const std::string& text) const;
    const std::string& title() const { return title_; }

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
    std::vector<ShownMessage> messages_;
};

// "error", "information" or "warning".
const char* iconName(core::MessageIcon icon);

}  // namespace mz::cli
