#include "app/cli/terminal_ui.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace mz::cli {

const char* iconName(core::MessageIcon icon) {
    switch (icon) {
    case core::MessageIcon::kError: return "error";
    case core::MessageIcon::kWarning: return "warning";
    case core::MessageIcon::kInformation: break;
    }
    return "information";
}

TerminalUi::TerminalUi(TerminalAnswers answers, std::FILE* out, std::FILE* progress)
    : answers_(std::move(answers)), out_(out), progress_(progress) {
    progressIsTerminal_ = progress_ != nullptr && isatty(fileno(progress_)) == 1;
}

void TerminalUi::showMessage(const std::string& text, const std::string& title, core::MessageIcon icon) {
    endBar();
    messages_.push_back({text, title, icon});
    if (out_ == nullptr) return;
    // Continuation lines are indented so a multi-line message stays one block in a log.
    std::string body;
    for (char ch : text) {
        body += ch;
        if (ch == '\n') body += "    ";
    }
    std::fprintf(out_, "[%s] %s: %s\n", iconName(icon), title.c_str(), body.c_str());
    std::fflush(out_);
}

std::optional<std::string> TerminalUi::chooseConfiguration(const std::string&) { return answers_.configuration; }

std::optional<std::string> TerminalUi::chooseFolder(const core::FolderChooserTexts& texts, const std::string&) {
    // The drive chooser serves two commands; its button text tells which one asks.
    if (texts.button == core::kDataSaveChooser.button) return answers_.saveFolder;
    return answers_.imageFolder;
}

std::optional<std::string> TerminalUi::chooseFile(const core::FileChooserRequest&) { return answers_.quadPicture; }

void TerminalUi::showProgress() {
    status_.clear();
    percent_ = 0;
    barVisible_ = progressIsTerminal_;
    drawBar();
}

void TerminalUi::setProgressStatus(const std::string& text) {
    status_ = text;
    drawBar();
}

void TerminalUi::setProgressPosition(double percent) {
    percent_ = percent;
    drawBar();
}

void TerminalUi::hideProgress() { endBar(); }

void TerminalUi::drawBar() {
    if (!barVisible_) return;
    constexpr int kWidth = 30;
    const double p = std::clamp(percent_, 0.0, 100.0);
    const int filled = static_cast<int>(std::lround(p * kWidth / 100));
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(progress_, "\r\033[K[%s] %3ld%% %s", bar.c_str(), std::lround(p), status_.c_str());
    std::fflush(progress_);
}

void TerminalUi::endBar() {
    if (!barVisible_) return;
    std::fprintf(progress_, "\r\033[K");
    std::fflush(progress_);
    barVisible_ = false;
}

bool TerminalUi::shown(const std::string& text) const {
    for (const ShownMessage& m : messages_) {
        if (m.text == text) return true;
    }
    return false;
}

}  // namespace mz::cli
