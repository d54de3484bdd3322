// The choosers of the workflow and the progress window of the save.
#pragma once

#include <QDialog>
#include <QWidget>

#include <string>

#include "app/core/ui.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace mz::gui {

class QtUi;

// Width and height in dialog units as pixels of the widget's font: layouts keep their
// proportions at any font size and screen density.
QSize dialogUnits(const QWidget& widget, int width, int height);

// "Config Load": a path typed or found with "O", confirmed with "Load".
class ConfigLoadDialog : public QDialog {
    Q_OBJECT
public:
    ConfigLoadDialog(QtUi& ui, const QString& path, QWidget* parent = nullptr);
    QString path() const;
    QLineEdit* pathField() const { return path_; }
    QPushButton* loadButton() const { return load_; }

private:
    void browse();

    QtUi& ui_;
    QLineEdit* path_;
    QPushButton* load_;
};

// The drive chooser: the mounted volumes as "<root> Removable Disk" / "<root> Hard Disk", and,
// because data rarely sits at a volume root here, a folder field with its own browse button.
// Only the confirming button returns a folder.
class FolderChooser : public QDialog {
    Q_OBJECT
public:
    FolderChooser(QtUi& ui, const core::FolderChooserTexts& texts, const QString& folder, QWidget* parent = nullptr);
    QString folder() const;
    QLineEdit* folderField() const { return folder_; }
    QListWidget* volumeList() const { return volumes_; }
    QPushButton* confirmButton() const { return confirm_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshVolumes();
    void browse();

    QtUi& ui_;
    QListWidget* volumes_;
    QLineEdit* folder_;
    QPushButton* confirm_;
};

// The save's progress: caption "<title> [n%]", a status line, a bar and " Cancel ". Its place
// on the screen is remembered between runs (Settings/X, Settings/Y).
class ProgressWindow : public QWidget {
    Q_OBJECT
public:
    explicit ProgressWindow(const QString& title, QWidget* parent = nullptr);
    ~ProgressWindow() override;

    void setStatus(const QString& text);
    void setPosition(double percent);
    bool cancelled() const { return cancelled_; }
    QString status() const;
    int position() const;
    QPushButton* cancelButton() const { return cancel_; }
    // How often the caption was rewritten: only when the rounded percentage changes.
    int captionWrites() const { return captionWrites_; }

private:
    void storePosition() const;
    void placeOnScreen();

    QString title_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    long shownPercent_ = -1;
    int captionWrites_ = 0;
    bool cancelled_ = false;
};

}  // namespace mz::gui
