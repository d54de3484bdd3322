// The workflow's operator side as Qt windows: message boxes, choosers, the progress window, and
// the notifications that make the main window and the preview redraw.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>

#include "app/core/ui.h"

class QDialog;
class QWidget;

namespace mz::gui {

class ProgressWindow;

// Runs a dialog and returns its result. The program runs it modally; a test answers it in place
// (fills its fields, presses its button) without a modal loop.
using DialogRunner = std::function<int(QDialog&)>;

class QtUi : public QObject, public core::Ui {
    Q_OBJECT
public:
    QtUi();
    ~QtUi() override;

    void setDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }
    // Dialogs and message boxes open over this window.
    void setDialogParent(QWidget* parent) { parent_ = parent; }
    // While the preview shows, dialogs open over it instead: nothing the workflow asks hides it.
    void setPreviewWindow(QWidget* preview) { preview_ = preview; }
    QWidget* dialogParent() const;
    int runDialog(QDialog& dialog) { return runner_(dialog); }
    // Start-up conveniences: what the choosers offer while the workflow has nothing to offer yet.
    void setInitialConfiguration(const std::string& path) { initialConfig_ = path; }
    void setInitialFolder(const std::string& folder) { initialFolder_ = folder; }

    void showMessage(const std::string& text, const std::string& title, core::MessageIcon icon) override;
    void showDetailedMessage(const std::string& text, const std::string& title, core::MessageIcon icon,
                             const std::string& detail) override;
    std::optional<std::string> chooseConfiguration(const std::string& lastPath) override;
    bool confirm(const std::string& text, const std::string& title) override;
    std::optional<std::string> chooseFolder(const core::FolderChooserTexts& texts,
                                            const std::string& currentFolder) override;
    std::optional<std::string> chooseFile(const core::FileChooserRequest& request) override;
    void showProgress() override;
    void setProgressStatus(const std::string& text) override;
    void setProgressPosition(double percent) override;
    void hideProgress() override;
    void setTitle(const std::string& title) override;
    void setButtonLook(core::Button button, core::ButtonLook look) override;
    void focusButton(core::Button button) override;
    void redrawImageView(int camera) override;
    void showImageViews() override;
    void detectionFinished() override;
    void showPreview() override;
    void previewViewUpdated() override;
    void previewStateChanged() override;

    ProgressWindow* progressWindow() const;

Q_SIGNALS:
    // Connected with queued connections: the detection thread emits imageViewChanged.
    void imageViewChanged(int camera);
    void titleChanged(QString title);
    void buttonLookChanged(int button, int look);
    void buttonFocusRequested(int button);
    void imageViewsShown();
    // Emitted by the detection thread: connected with a queued connection.
    void detectionEnded();
    void previewShown();
    void previewViewChanged();
    void previewStateUpdated();

private:
    DialogRunner runner_;
    QPointer<QWidget> parent_;
    QPointer<QWidget> preview_;
    std::string initialConfig_;
    std::string initialFolder_;
    QPointer<ProgressWindow> progress_;
};

// A "Description|pattern|..." filter of the system as a Qt name filter list.
QStringList nameFilters(const std::string& filter);

}  // namespace mz::gui
