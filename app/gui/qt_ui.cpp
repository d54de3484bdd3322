#include "app/gui/qt_ui.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include "app/gui/choosers.h"

namespace mz::gui {

QStringList nameFilters(const std::string& filter) {
    // "Description(*.x)|*.x|Other|*.*||": descriptions and patterns alternate.
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString pattern = parts[i + 1].trimmed();
        if (description.isEmpty()) continue;
        QString name = description;
        name.remove(QRegularExpression("\\(.*\\)"));
        out << QString("%1 (%2)").arg(name.trimmed(), pattern.isEmpty() ? QString("*") : pattern.split(';').join(' '));
    }
    if (out.isEmpty()) out << "All files (*)";
    return out;
}

QtUi::QtUi() : runner_([](QDialog& dialog) { return dialog.exec(); }) {}

QtUi::~QtUi() { delete progress_.data(); }

QWidget* QtUi::dialogParent() const { return preview_ && preview_->isVisible() ? preview_.data() : parent_.data(); }

void QtUi::showMessage(const std::string& text, const std::string& title, core::MessageIcon icon) {
    showDetailedMessage(text, title, icon, {});
}

void QtUi::showDetailedMessage(const std::string& text, const std::string& title, core::MessageIcon icon,
                               const std::string& detail) {
    const QMessageBox::Icon shown = icon == core::MessageIcon::kError     ? QMessageBox::Critical
                                    : icon == core::MessageIcon::kWarning ? QMessageBox::Warning
                                                                          : QMessageBox::Information;
    QMessageBox box(shown, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    dialogParent());
    if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
    runner_(box);
}

std::optional<std::string> QtUi::chooseConfiguration(const std::string& lastPath) {
    ConfigLoadDialog dialog(*this, QString::fromStdString(lastPath.empty() ? initialConfig_ : lastPath),
                            dialogParent());
    if (runner_(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.path().toStdString();
}

bool QtUi::confirm(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setDefaultButton(QMessageBox::No);
    return runner_(box) == QMessageBox::Yes;
}

std::optional<std::string> QtUi::chooseFolder(const core::FolderChooserTexts& texts, const std::string& currentFolder) {
    FolderChooser dialog(*this, texts, QString::fromStdString(currentFolder.empty() ? initialFolder_ : currentFolder),
                         dialogParent());
    if (runner_(dialog) != QDialog::Accepted || dialog.folder().isEmpty()) return std::nullopt;
    return dialog.folder().toStdString();
}

std::optional<std::string> QtUi::chooseFile(const core::FileChooserRequest& request) {
    QFileDialog dialog(dialogParent(), QString::fromStdString(request.title.empty() ? "Open" : request.title),
                       QString::fromStdString(initialFolder_));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(request.filter));
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (runner_(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

ProgressWindow* QtUi::progressWindow() const { return progress_.data(); }

// The save runs on this thread. Between its files the window system's own events (exposure,
// painting) are handled, so the progress window is drawn; the operator's input waits, so no
// command can start inside the save.
namespace {
void drawNow() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }
}  // namespace

void QtUi::showProgress() {
    if (!progress_) progress_ = new ProgressWindow(core::kAppTitle);
    progress_->show();
    drawNow();
}

void QtUi::setProgressStatus(const std::string& text) {
    if (progress_) progress_->setStatus(QString::fromStdString(text));
}

void QtUi::setProgressPosition(double percent) {
    if (!progress_) return;
    progress_->setPosition(percent);
    progress_->repaint();
    drawNow();
}

void QtUi::hideProgress() {
    if (progress_) progress_->hide();
}

void QtUi::setTitle(const std::string& title) { Q_EMIT titleChanged(QString::fromStdString(title)); }

void QtUi::setButtonLook(core::Button button, core::ButtonLook look) {
    Q_EMIT buttonLookChanged(static_cast<int>(button), static_cast<int>(look));
}

void QtUi::focusButton(core::Button button) { Q_EMIT buttonFocusRequested(static_cast<int>(button)); }

void QtUi::redrawImageView(int camera) { Q_EMIT imageViewChanged(camera); }

void QtUi::showImageViews() { Q_EMIT imageViewsShown(); }

void QtUi::detectionFinished() { Q_EMIT detectionEnded(); }

void QtUi::showPreview() { Q_EMIT previewShown(); }

void QtUi::previewViewUpdated() { Q_EMIT previewViewChanged(); }

void QtUi::previewStateChanged() { Q_EMIT previewStateUpdated(); }

}  // namespace mz::gui
