// The main window: the five workflow buttons, the four camera frames and the status text.
#pragma once

#include <QAbstractButton>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/core/session.h"
#include "app/core/station_records.h"

class QGridLayout;
class QLabel;
class QLineEdit;

namespace mz::gui {

class ImageView;
class PreviewWindow;
class QtUi;

// A workflow button drawn from the program's own pictures; its look says how far the operator
// has got. Hovering shows the pressed picture.
class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    PictureButton(core::Button button, QWidget* parent = nullptr);
    void setLook(core::ButtonLook look);
    core::ButtonLook look() const { return look_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    core::Button button_;
    core::ButtonLook look_ = core::ButtonLook::kInitial;
    bool hovered_ = false;
};

class MainWindow : public QWidget {
    Q_OBJECT
public:
    MainWindow(QtUi& ui, core::SessionOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    core::Session& session() { return *session_; }
    PictureButton* button(core::Button button) const { return buttons_[static_cast<int>(button)]; }
    ImageView* imageView(int camera) const { return views_[camera]; }
    PreviewWindow* preview() const { return preview_; }
    QLabel* statusText() const { return status_; }
    QAbstractButton* messageLogButton() const { return logButton_; }
    // Who calibrates which vehicle where: recorded with every save.
    QLineEdit* identityField(core::IdentityField f) const { return identity_[static_cast<size_t>(f)]; }
    QAbstractButton* historyButton() const { return historyButton_; }
    // Where the saves are recorded (the default place unless told otherwise).
    void setHistoryPlace(core::HistoryPlace place);
    // The station profile every save's poses are held to (none by default).
    void setProfile(std::optional<station::StationProfile> profile, bool overrideOutside);
    void showMessageLog();
    void showHistory();
    // Enabled after a save that went through: the certificate names the files it wrote.
    QAbstractButton* certificateButton() const { return certificateButton_; }
    void saveCertificate();
    void showUserGuide();
    // The camera whose view fills the grid after a double click; -1 when all four show.
    int enlargedView() const { return enlarged_; }
    void toggleEnlarged(int camera);
    void bringForward(int camera);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void command(core::Button button);
    void updateStatus();
    void placeInGrid(int camera, int span);

    QtUi& ui_;
    std::array<PictureButton*, 5> buttons_{};
    std::array<ImageView*, core::kCameraCount> views_{};
    QGridLayout* grid_ = nullptr;
    QLabel* status_ = nullptr;
    QAbstractButton* logButton_ = nullptr;
    std::array<QLineEdit*, 3> identity_{};
    QAbstractButton* historyButton_ = nullptr;
    std::unique_ptr<core::StationRecords> records_;
    std::optional<station::StationProfile> profile_;
    bool overrideProfile_ = false;
    QAbstractButton* certificateButton_ = nullptr;
    core::SaveReport lastSave_;                    // what the last save wrote, below the session's data folder
    std::array<std::string, 3> lastSaveIdentity_;  // vehicle, operator, station it was saved under
    std::optional<int64_t> lastSaveRecord_;        // its record in the history
    PreviewWindow* preview_ = nullptr;
    int enlarged_ = -1;
    QString lastCommand_;                     // how the last workflow command ended, for the status text
    std::unique_ptr<core::Session> session_;  // last: it reports to the widgets above as it starts
};

}  // namespace mz::gui
