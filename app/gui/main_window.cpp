#include "app/gui/main_window.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QShortcut>
#include <QTextBrowser>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

#include "app/core/certificate.h"
#include "app/gui/choosers.h"
#include "app/gui/history_window.h"
#include "app/gui/image_view.h"
#include "app/gui/pictures.h"
#include "app/gui/preview_window.h"
#include "app/gui/qt_ui.h"

namespace mz::gui {

namespace {

constexpr const char* kViewModeEntries[core::kCameraCount] = {"Front", "Rear", "Left", "Right"};
constexpr const char* kButtonTips[5] = {
    "Config Load: read the vehicle model's Config.bin (cameras, views, file names)",
    "Image Load: the four camera pictures (image/front.bmp, rear, left, right); the triangles are looked for at once",
    "Apply AVM: calibrate the cameras from the marked corners and open the preview with the quality figures",
    "Save LUT: write the flash data files (Lut/, Osd/, Param/) below a folder you choose", "Exit the program"};

// "Apply AVM: done (calibrate 0.1 ms, build 40 ms)"; the times only when the command ran through.
QString outcome(const char* command, const core::CommandResult& result, const QString& times) {
    static const char* const kStatus[] = {"done", "cancelled", "refused", "failed"};
    QString line = QString("%1: %2").arg(command, kStatus[static_cast<int>(result.status)]);
    if (result.done()) line += " (" + times + ")";
    // The message box keeps its fixed text; what went wrong in particular (camera, file, field)
    // stays on view here.
    if (!result.detail.empty()) line += "\n" + QString::fromStdString(result.detail);
    return line;
}

}  // namespace

// ---- PictureButton ----

PictureButton::PictureButton(core::Button button, QWidget* parent) : QAbstractButton(parent), button_(button) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void PictureButton::setLook(core::ButtonLook look) {
    look_ = look;
    update();
}

QSize PictureButton::sizeHint() const { return dialogUnits(*this, 56, 36); }

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintButtonPicture(p, rect(), button_, look_, isDown() || hovered_, hasFocus());
}

void PictureButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---- MainWindow ----

MainWindow::MainWindow(QtUi& ui, core::SessionOptions options, QWidget* parent) : QWidget(parent), ui_(ui) {
    setObjectName("mainWindow");
    ui_.setDialogParent(this);
    connect(&ui_, &QtUi::titleChanged, this, &QWidget::setWindowTitle);
    connect(&ui_, &QtUi::buttonLookChanged, this,
            [this](int b, int look) { buttons_[b]->setLook(static_cast<core::ButtonLook>(look)); });
    connect(&ui_, &QtUi::buttonFocusRequested, this, [this](int b) { buttons_[b]->setFocus(); });
    // The detection thread reports here: the queue brings its reports to this window's thread.
    connect(
        &ui_, &QtUi::imageViewChanged, this,
        [this](int camera) {
            if (camera >= 0 && camera < core::kCameraCount) views_[camera]->update();
            updateStatus();
        },
        Qt::QueuedConnection);
    connect(&ui_, &QtUi::detectionEnded, this, &MainWindow::updateStatus, Qt::QueuedConnection);
    connect(&ui_, &QtUi::imageViewsShown, this, [this] {
        for (ImageView* v : views_) v->update();
        updateStatus();
    });

    // Wired before the session starts: its constructor already sets the title.
    session_ = std::make_unique<core::Session>(ui_, options);

    auto* top = new QHBoxLayout;
    for (int b = 0; b < 5; ++b) {
        buttons_[b] = new PictureButton(static_cast<core::Button>(b));
        buttons_[b]->setObjectName(QString("button%1").arg(b));
        buttons_[b]->setToolTip(kButtonTips[b]);
        top->addWidget(buttons_[b]);
        connect(buttons_[b], &QAbstractButton::clicked, this, [this, b] { command(static_cast<core::Button>(b)); });
    }
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setMinimumWidth(dialogUnits(*this, 110, 0).width());
    // The status takes the width the buttons leave, so a long reason wraps instead of being cut.
    top->addWidget(status_, 1);
    logButton_ = new QToolButton;
    logButton_->setObjectName("messageLogButton");
    logButton_->setText("Log");
    logButton_->setToolTip("Message log: every message shown, with the camera, file and sizes it concerns");
    connect(logButton_, &QToolButton::clicked, this, &MainWindow::showMessageLog);
    top->addWidget(logButton_, 0, Qt::AlignTop);
    auto* certificate = new QToolButton;
    certificate->setObjectName("certificateButton");
    certificate->setText("Certificate");
    certificate->setToolTip(
        "Calibration certificate: one HTML page with the pictures, poses, seams and the saved "
        "files' checksums, to print or send");
    certificate->setEnabled(false);
    connect(certificate, &QToolButton::clicked, this, &MainWindow::saveCertificate);
    top->addWidget(certificate, 0, Qt::AlignTop);
    certificateButton_ = certificate;

    // The station's fields: the history keeps them with every save.
    auto* station = new QHBoxLayout;
    const char* identityTips[3] = {
        "The vehicle's identifier (a VIN or the plant's), recorded with every Save LUT; at most 64 printable "
        "characters",
        "Who calibrates, recorded with every Save LUT", "This station's name, recorded with every Save LUT"};
    for (size_t f = 0; f < identity_.size(); ++f) {
        identity_[f] = new QLineEdit;
        identity_[f]->setObjectName(QString("identity%1").arg(f));
        identity_[f]->setToolTip(identityTips[f]);
        station->addWidget(new QLabel(core::kIdentityFieldNames[f]));
        station->addWidget(identity_[f], f == 0 ? 2 : 1);
    }
    historyButton_ = new QToolButton;
    historyButton_->setObjectName("historyButton");
    historyButton_->setText("History");
    historyButton_->setToolTip("The station's recorded runs and saves: list them by vehicle, read one");
    connect(historyButton_, &QToolButton::clicked, this, &MainWindow::showHistory);
    station->addWidget(historyButton_);
    records_ = std::make_unique<core::StationRecords>(*session_, core::HistoryPlace{});

    grid_ = new QGridLayout;
    grid_->setSpacing(4);
    for (int c = 0; c < core::kCameraCount; ++c) {
        views_[c] = new ImageView(*session_, c);
        views_[c]->setToolTip(
            "Drag a corner's cross onto its triangle's corner; click it and use the arrow keys "
            "for single pixels; double click to enlarge");
        grid_->addWidget(views_[c], c / 2, c % 2);
        connect(views_[c], &ImageView::doubleClicked, this, &MainWindow::toggleEnlarged);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(station);
    layout->addLayout(grid_, 1);
    resize(dialogUnits(*this, 451, 327));

    preview_ = new PreviewWindow(*session_, ui_, this);
    ui_.setPreviewWindow(preview_);

    // F1 anywhere in the program: the user's guide, built into the program.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &MainWindow::showUserGuide);
    updateStatus();
}

MainWindow::~MainWindow() {
    // The preview draws from the session: it goes first, then the session ends its detection.
    delete preview_;
    preview_ = nullptr;
    session_.reset();
}

void MainWindow::command(core::Button button) {
    // A certificate speaks for the files of the last save and the state that made them.
    certificateButton_->setEnabled(false);
    switch (button) {
    case core::Button::kConfigLoad: {
        const core::ConfigLoadResult r = session_->configLoad();
        lastCommand_ = outcome("Config Load", r, QString("read %1 ms").arg(r.read.count(), 0, 'f', 0));
        break;
    }
    case core::Button::kImageLoad: {
        const core::ImageLoadResult r = session_->imageLoad();
        lastCommand_ = outcome("Image Load", r, QString("read %1 ms").arg(r.read.count(), 0, 'f', 0));
        break;
    }
    case core::Button::kApplyAvm: {
        const core::ApplyAvmResult r = session_->applyAvm();
        lastCommand_ = outcome("Apply AVM", r,
                               QString("calibrate %1 ms, build %2 ms")
                                   .arg(r.calibrate.count(), 0, 'f', 1)
                                   .arg(r.build.count(), 0, 'f', 0));
        break;
    }
    case core::Button::kSaveLut: {
        const std::array<std::string, 3> identity = {
            identity_[0]->text().toStdString(), identity_[1]->text().toStdString(), identity_[2]->text().toStdString()};
        const core::StationSave saved = records_->saveLut({identity[0], identity[1], identity[2]});
        const core::SaveResult& r = saved.save;
        lastCommand_ = outcome(
            "Save LUT", r, QString("%1 files in %2 ms").arg(r.files.written.size()).arg(r.write.count(), 0, 'f', 0));
        if (saved.recordId) lastCommand_ += QString("\nHistory: record %1").arg(*saved.recordId);
        if (!saved.historyError.empty()) lastCommand_ += "\nHistory: not recorded";
        lastSave_ = r.files;
        lastSaveIdentity_ = identity;
        lastSaveRecord_ = saved.recordId;
        certificateButton_->setEnabled(r.done());
        break;
    }
    case core::Button::kExit: close(); return;
    }
    updateStatus();
}

void MainWindow::updateStatus() {
    QString text = QString::fromStdString(session_->statusText());
    if (!lastCommand_.isEmpty()) text += "\n" + lastCommand_;
    status_->setText(text);
    status_->setToolTip(text);
}

void MainWindow::showUserGuide() {
    QDialog dialog(ui_.dialogParent());
    dialog.setObjectName("userGuide");
    dialog.setWindowTitle("User's Guide");
    auto* text = new QTextBrowser(&dialog);
    QFile guide(":/docs/user-guide.md");
    text->setMarkdown(guide.open(QIODevice::ReadOnly) ? QString::fromUtf8(guide.readAll())
                                                      : QString("The user's guide is missing from this build."));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    dialog.resize(dialogUnits(*this, 420, 300));
    ui_.runDialog(dialog);
}

void MainWindow::setHistoryPlace(core::HistoryPlace place) {
    records_ = std::make_unique<core::StationRecords>(*session_, std::move(place));
    records_->setProfile(profile_, overrideProfile_);
    historyButton_->setEnabled(!records_->off());
}

void MainWindow::setProfile(std::optional<station::StationProfile> profile, bool overrideOutside) {
    profile_ = std::move(profile);
    overrideProfile_ = overrideOutside;
    records_->setProfile(profile_, overrideProfile_);
    preview_->setProfile(profile_, overrideProfile_);
}

void MainWindow::showHistory() {
    std::string location;
    try {
        location = records_->location();
    } catch (const std::exception& e) {
        ui_.showMessage(e.what(), core::kAppTitle, core::MessageIcon::kWarning);
        return;
    }
    HistoryWindow dialog(location, this);
    ui_.runDialog(dialog);
}

void MainWindow::showMessageLog() {
    QDialog dialog(this);
    dialog.setObjectName("messageLog");
    dialog.setWindowTitle("Message Log");
    auto* list = new QPlainTextEdit(&dialog);
    list->setReadOnly(true);
    list->setObjectName("messageLogText");
    static const char* const kIcons[] = {"error", "information", "warning"};
    for (const core::ShownMessage& m : session_->messageLog()) {
        QString entry = QString("[%1] %2: %3")
                            .arg(kIcons[static_cast<int>(m.icon)], QString::fromStdString(m.title),
                                 QString::fromStdString(m.text).simplified());
        if (!m.detail.empty()) entry += "\n    " + QString::fromStdString(m.detail);
        list->appendPlainText(entry);
    }
    auto* close = new QPushButton("Close", &dialog);
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(close, 0, Qt::AlignRight);
    dialog.resize(dialogUnits(*this, 300, 160));
    ui_.runDialog(dialog);
}

void MainWindow::saveCertificate() {
    const QString folder = QString::fromStdString(session_->dataFolder());
    QFileDialog dialog(ui_.dialogParent(), "Save Certificate", folder + "/certificate.html");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter("Certificate (*.html)");
    dialog.setDefaultSuffix("html");
    if (ui_.runDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString chosen = dialog.selectedFiles().first();
    // Only a page may be written here: never the Config.bin or a picture the calibration read.
    if (!chosen.endsWith(".html", Qt::CaseInsensitive) && !chosen.endsWith(".htm", Qt::CaseInsensitive)) {
        lastCommand_ = "Certificate: not written\n" + chosen + " is no .html file";
        updateStatus();
        return;
    }
    const std::string path = chosen.toStdString();
    core::Certificate c = core::certificateOfSession(*session_);
    c.outcome = core::CertificateOutcome::kSaved;
    c.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    c.softwareVersion =
        QString("%1.%2.%3").arg(MZ_VERSION_MAJOR).arg(MZ_VERSION_MINOR).arg(MZ_VERSION_PATCH).toStdString();
    c.configPath = session_->configPath();
    c.outputFolder = session_->dataFolder();
    // The certificate speaks for the save: who saved which vehicle then, not what the fields say now.
    c.vehicle = lastSaveIdentity_[0];
    c.operatorName = lastSaveIdentity_[1];
    c.station = lastSaveIdentity_[2];
    c.recordId = lastSaveRecord_;
    core::addSavedFiles(c, lastSave_, session_->dataFolder());
    try {
        core::writeCertificate(path, c);
        lastCommand_ = "Certificate: " + QString::fromStdString(path);
    } catch (const std::exception& e) {
        lastCommand_ = "Certificate: not written\n" + QString::fromStdString(e.what());
        updateStatus();
        return;
    }
    if (lastSaveRecord_) {
        const std::string problem = records_->recordCertificate(*lastSaveRecord_, path);
        lastCommand_ += problem.empty() ? QString("\nHistory: record %1 names it").arg(*lastSaveRecord_)
                                        : "\nHistory: the record does not name it\n" + QString::fromStdString(problem);
    }
    updateStatus();
}

void MainWindow::toggleEnlarged(int camera) {
    if (enlarged_ == camera) {
        enlarged_ = -1;
        for (int c = 0; c < core::kCameraCount; ++c) {
            placeInGrid(c, 1);
            views_[c]->show();
        }
        return;
    }
    enlarged_ = camera;
    for (int c = 0; c < core::kCameraCount; ++c) {
        if (c == camera) continue;
        views_[c]->hide();
        placeInGrid(c, 1);
    }
    placeInGrid(camera, 2);
    views_[camera]->show();
    views_[camera]->raise();
    views_[camera]->setFocus();
}

void MainWindow::placeInGrid(int camera, int span) {
    grid_->removeWidget(views_[camera]);
    if (span == 1) grid_->addWidget(views_[camera], camera / 2, camera % 2);
    else grid_->addWidget(views_[camera], 0, 0, span, span);
}

void MainWindow::bringForward(int camera) {
    if (enlarged_ >= 0 && enlarged_ != camera) toggleEnlarged(camera);
    views_[camera]->raise();
    views_[camera]->setFocus();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintBackground(p, rect());
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!session_->imagesLoaded()) return;
    QMenu menu(this);
    menu.setTitle("View Mode");
    for (int c = 0; c < core::kCameraCount; ++c) {
        menu.addAction(kViewModeEntries[c], this, [this, c] { bringForward(c); });
    }
    menu.exec(event->globalPos());
}

}  // namespace mz::gui
