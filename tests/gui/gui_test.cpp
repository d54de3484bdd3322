// The windows of the desktop program on a simulated bay, driven with the mouse and the keyboard.
// Dialogs and message boxes are answered in place by the dialog runner, never in a modal loop.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTextBrowser>
#include <QWindow>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <deque>
#include <functional>
#include <memory>

#include "app/gui/choosers.h"
#include "app/gui/history_window.h"
#include "app/gui/image_view.h"
#include "app/gui/main_window.h"
#include "app/gui/preview_window.h"
#include "app/gui/qt_ui.h"
#include "app/gui/view_canvas.h"
#include "mz/mztypes.h"
#include "station/identity.h"
#include "station/profile.h"

namespace mz::gui {
namespace {

struct Shown {
    QString text;
    QString title;
    QMessageBox::Icon icon;
    QString detail;
    QWidget* over = nullptr;  // the window the box belongs to
};

// Plays the operator at every dialog: fills the chooser from the queue and presses its button.
class Operator {
public:
    std::deque<QString> configs, folders, files;
    std::vector<Shown> messages;
    QString log;                                  // the message log as last opened
    QString guide;                                // the user's guide as F1 showed it
    std::function<void(HistoryWindow&)> history;  // looks at the history window

    int operator()(QDialog& dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            messages.push_back(
                {box->text(), box->windowTitle(), box->icon(), box->detailedText(), box->parentWidget()});
            return QMessageBox::Ok;
        }
        if (dialog.objectName() == "userGuide") {
            guide = dialog.findChild<QTextBrowser*>()->toPlainText();
            return QDialog::Accepted;
        }
        if (auto* h = qobject_cast<HistoryWindow*>(&dialog)) {
            if (history) history(*h);
            return QDialog::Rejected;
        }
        if (dialog.objectName() == "messageLog") {
            log = dialog.findChild<QPlainTextEdit*>()->toPlainText();
            return QDialog::Accepted;
        }
        if (auto* config = qobject_cast<ConfigLoadDialog*>(&dialog)) {
            if (configs.empty()) return QDialog::Rejected;
            config->pathField()->setText(take(configs));
            QTest::mouseClick(config->loadButton(), Qt::LeftButton);
            return config->result();
        }
        if (auto* chooser = qobject_cast<FolderChooser*>(&dialog)) {
            if (folders.empty()) return QDialog::Rejected;
            chooser->folderField()->setText(take(folders));
            QTest::mouseClick(chooser->confirmButton(), Qt::LeftButton);
            return chooser->result();
        }
        if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
            if (this->files.empty()) return QDialog::Rejected;
            files->selectFile(take(this->files));
            return QDialog::Accepted;
        }
        return QDialog::Rejected;
    }
    bool shown(const QString& text) const {
        return std::any_of(messages.begin(), messages.end(), [&](const Shown& m) { return m.text == text; });
    }

private:
    static QString take(std::deque<QString>& q) {
        QString s = q.front();
        q.pop_front();
        return s;
    }
};

// The program as it starts, its dialogs answered by the operator above.
struct Desk {
    Operator op;
    QtUi ui;
    std::unique_ptr<MainWindow> window;
    Desk() {
        ui.setDialogRunner(std::ref(op));
        window = std::make_unique<MainWindow>(ui);
        window->show();
    }
    // "Config Load" and "Image Load" on a bay folder, up to the end of detection.
    void loadBay(const QString& folder) {
        op.configs.push_back(QDir(folder).filePath("Config.bin"));
        QTest::mouseClick(window->button(core::Button::kConfigLoad), Qt::LeftButton);
        op.folders.push_back(folder);
        QTest::mouseClick(window->button(core::Button::kImageLoad), Qt::LeftButton);
        window->session().detection().wait();
        QTRY_VERIFY(window->statusText()->text().contains("Right "));
    }
};

// A picture shows when its pixels are not all alike.
bool varied(const QImage& image, const QRect& area) {
    const QRect r = area.intersected(image.rect());
    if (r.isEmpty()) return false;
    const QRgb first = image.pixel(r.topLeft());
    int differing = 0;
    for (int y = r.top(); y <= r.bottom(); y += 3) {
        for (int x = r.left(); x <= r.right(); x += 3) differing += image.pixel(x, y) != first;
    }
    return differing > r.width() * r.height() / 90;
}

QByteArray outputHash(const core::Preview& preview) {
    int w = 0, h = 0;
    const auto out = preview.views().output(w, h);
    return QCryptographicHash::hash(QByteArrayView(out.data(), static_cast<qsizetype>(out.size())),
                                    QCryptographicHash::Sha1);
}

// The canvas shows the view at its own size where the screen has room, its aspect always, and the
// window stays on the screen.
void checkFittedToView(PreviewWindow& preview, const core::Preview& core) {
    int w = 0, h = 0;
    core.views().output(w, h);
    const QRect shown = preview.canvas()->viewRect();
    const QRect screen = preview.screen()->availableGeometry();
    QVERIFY2(std::abs(shown.width() * h - shown.height() * w) <= std::max(w, h),
             qPrintable(QString("%1x%2 shown as %3x%4").arg(w).arg(h).arg(shown.width()).arg(shown.height())));
    // Only the controls' own least size may take it past a small screen's edge.
    const QSize least = preview.minimumSizeHint().expandedTo(preview.minimumSize());
    QVERIFY2(preview.width() <= std::max(screen.width(), least.width()) &&
                 preview.height() <= std::max(screen.height(), least.height()),
             qPrintable(QString("%1x%2 on a %3x%4 screen, at least %5x%6")
                            .arg(preview.width())
                            .arg(preview.height())
                            .arg(screen.width())
                            .arg(screen.height())
                            .arg(least.width())
                            .arg(least.height())));
    const bool whole = shown.size() == QSize(w, h);
    const bool screenFull = preview.width() >= screen.width() - 1 || preview.height() >= screen.height() - 1;
    QVERIFY2(whole || screenFull, qPrintable(QString("%1x%2 shown as %3x%4 in %5x%6")
                                                 .arg(w)
                                                 .arg(h)
                                                 .arg(shown.width())
                                                 .arg(shown.height())
                                                 .arg(preview.width())
                                                 .arg(preview.height())));
}

void screenshot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("MZ_SCREENSHOT_DIR");
    if (!dir.isEmpty()) QVERIFY(w.grab().save(QDir(dir).filePath(name)));
}

int run(const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(MZ_CLI, args);
    if (!p.waitForFinished(120000)) return -1;
    if (output) *output = QString::fromUtf8(p.readAll());
    return p.exitCode();
}

class GuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(temp_.isValid());
        // The station history's default place, for the windows and calibration-cli alike.
        qputenv("XDG_DATA_HOME", temp_.filePath("xdg").toUtf8());
        bay_ = temp_.filePath("bay");
        QString out;
        QCOMPARE(run({"simulate", "--out", bay_, "--seed", "1"}, &out), 0);
    }

    void progressCaptionAndStoredPlace();
    void failuresReachTheOperator();
    void wholeCalibrationWithTheMouse();
    void lostTriangleIsPlacedByHand();
    void failuresAreNeverSavedAsSuccess();

public Q_SLOTS:
    // Stands in for the desktop's program for pages.
    void openedUrl(const QUrl& url) { opened_ << url; }

private:
    QList<QUrl> opened_;
    QTemporaryDir temp_;
    QString bay_;
};

void GuiTest::progressCaptionAndStoredPlace() {
    QSettings().remove("Settings");
    {
        ProgressWindow progress("Data Save");
        progress.setPosition(50);
        QCOMPARE(progress.windowTitle(), QString("Data Save [50%]"));
        progress.setPosition(50.2);
        QCOMPARE(progress.captionWrites(), 1);
        progress.setPosition(66.6);
        QCOMPARE(progress.windowTitle(), QString("Data Save [67%]"));
        progress.show();
        progress.move(40, 50);
        QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        QVERIFY(progress.cancelled());
        QVERIFY(!progress.isVisible());
    }
    QCOMPARE(QSettings().value("Settings/X").toInt(), 40);
    QCOMPARE(QSettings().value("Settings/Y").toInt(), 50);
    ProgressWindow again("Data Save");
    QCOMPARE(again.pos(), QPoint(40, 50));
    // Off the screen (a monitor that is gone): centred instead.
    QSettings().setValue("Settings/X", 100000);
    ProgressWindow centred("Data Save");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(std::abs(centred.geometry().center().x() - screen.center().x()) <= 1);
}

void GuiTest::failuresReachTheOperator() {
    Desk desk;
    Operator& op = desk.op;
    MainWindow& window = *desk.window;
    QTest::mouseClick(window.button(core::Button::kImageLoad), Qt::LeftButton);
    QCOMPARE(op.messages.size(), size_t{1});
    QCOMPARE(op.messages[0].text, QString("First select a configure file."));
    QCOMPARE(op.messages[0].title, QString(core::kAppTitle));
    QCOMPARE(op.messages[0].icon, QMessageBox::Critical);

    const QString damaged = temp_.filePath("damaged.bin");
    QFile file(damaged);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, '\x5a'));
    file.close();
    op.configs.push_back(damaged);
    QTest::mouseClick(window.button(core::Button::kConfigLoad), Qt::LeftButton);
    QVERIFY(op.shown("Config File error!"));
    QVERIFY(window.statusText()->text().contains("Config Load: failed"));
    QCOMPARE(op.messages.back().icon, QMessageBox::Critical);
    QCOMPARE(window.button(core::Button::kConfigLoad)->look(), core::ButtonLook::kInitial);

    // F1 opens the guide carried in the program; every control says what it does.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    QVERIFY2(op.guide.contains("Apply AVM"), qPrintable(op.guide.left(200)));
    for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(window.preview())}) {
        QList<QWidget*> controls;
        for (auto* w : top->findChildren<QAbstractButton*>()) controls << w;
        for (auto* w : top->findChildren<QLineEdit*>()) controls << w;
        for (auto* w : top->findChildren<QComboBox*>()) controls << w;
        for (auto* w : top->findChildren<QListWidget*>()) controls << w;
        for (QWidget* w : controls) {
            // Parts of a list, table or combo box are theirs, not controls of their own.
            if (w->window() != top || qobject_cast<QComboBox*>(w->parentWidget()) ||
                qobject_cast<QAbstractItemView*>(w->parentWidget())) {
                continue;
            }
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName() + " " + w->metaObject()->className()));
        }
    }
}

void GuiTest::wholeCalibrationWithTheMouse() {
    QElapsedTimer clock;
    clock.start();
    Desk desk;
    Operator& op = desk.op;
    QtUi& ui = desk.ui;
    MainWindow& window = *desk.window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    qInfo("main window shown after %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(window.windowTitle().startsWith("Untitled - Calibration Tool v"));
    core::Session& session = window.session();

    clock.restart();
    desk.loadBay(bay_);
    qInfo("Config Load, Image Load and detection %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(window.windowTitle().startsWith("Model : "));
    // The configured "Predefined" mask leaves the fields of the other mask types closed.
    QVERIFY(!window.preview()->field(core::PreviewField::kFrontFov)->isEnabled());
    QVERIFY(!window.preview()->loadCarImageButton()->isEnabled());
    QVERIFY(window.preview()->maskType()->isEnabled());
    QCOMPARE(window.button(core::Button::kConfigLoad)->look(), core::ButtonLook::kDone);
    QVERIFY(window.statusText()->text().contains("Front found"));
    QCOMPARE(window.button(core::Button::kApplyAvm)->look(), core::ButtonLook::kReady);
    for (int c = 0; c < core::kCameraCount; ++c) QCOMPARE(session.detection().result(c), 0);
    const QImage mainShot = window.grab().toImage();
    QVERIFY(varied(mainShot, window.imageView(0)->geometry()));
    screenshot(window, "main-window.png");

    // Drag the front camera's first corner; it moves by the dragged amount in picture pixels.
    ImageView* view = window.imageView(0);
    const Point2F before = session.markers().imageView(0).triangles[0][0];
    const QPoint grab = view->toWidget(before).toPoint();
    const QPoint delta(9, -6);
    const Point2F expected{before.x + (view->toImage(grab + delta).x - view->toImage(grab).x),
                           before.y + (view->toImage(grab + delta).y - view->toImage(grab).y)};
    QTest::mousePress(view, Qt::LeftButton, {}, grab);
    QTest::mouseMove(view, grab + QPoint(4, -2));
    QTest::mouseMove(view, grab + delta);
    QVERIFY(session.markers().imageView(0).dragging);
    view->grab();
    QVERIFY(!view->magnifierRect().isEmpty());
    QCOMPARE(view->magnifierRect().size(), QSize(kMagnifierSize, kMagnifierSize));
    screenshot(*view, "image-view-dragging.png");
    QTest::mouseRelease(view, Qt::LeftButton, {}, grab + delta);
    Point2F moved = session.markers().imageView(0).triangles[0][0];
    QVERIFY(std::abs(moved.x - expected.x) < 1e-3f && std::abs(moved.y - expected.y) < 1e-3f);
    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(session.markers().imageView(0).triangles[0][0].x, moved.x + 1);

    // Apply AVM: the preview comes up on the stitched full top view.
    clock.restart();
    QTest::mouseClick(window.button(core::Button::kApplyAvm), Qt::LeftButton);
    PreviewWindow* preview = window.preview();
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    const QImage first = preview->canvas()->grab().toImage();
    qInfo("preview shown %lld ms after Apply AVM", static_cast<long long>(clock.elapsed()));
    QVERIFY(session.viewApplied());
    QVERIFY(window.statusText()->text().contains("Apply AVM: done"));
    QVERIFY(varied(first, preview->canvas()->viewRect()));
    QCOMPARE(preview->viewList()->currentRow(), 0);
    checkFittedToView(*preview, session.preview());
    // The preview belongs to the main window: a window manager keeps it above it.
    QVERIFY(preview->windowHandle() && preview->windowHandle()->transientParent() == window.windowHandle());

    // The quality panel shows the refinement report's own figures.
    const refine::RefinementReport& report = session.preview().rig().report();
    QVERIFY(report.ran);
    QVERIFY(preview->verdict()->text().startsWith(report.good ? "Quality: good" : "Quality: poor"));
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& seam = report.rig.after.seams[t];
        QCOMPARE(preview->seamFigures()->item(t, 0)->text(), QString::number(std::lround(seam.predictedP95Mm)));
        QCOMPARE(preview->seamFigures()->item(t, 1)->text(), QString::number(seam.maxGapMm, 'f', 1));
    }
    for (int c = 0; c < core::kCameraCount; ++c) {
        const refine::CameraFigures& figures = report.rig.after.cameras[c];
        QCOMPARE(preview->cameraFigures()->item(c, 0)->text(), QString::number(figures.rmsPx, 'f', 2));
        QCOMPARE(preview->cameraFigures()->item(c, 2)->text(), "+-" + QString::number(figures.heightSigmaMm, 'f', 1));
    }
    QVERIFY(!preview->undoButton()->isEnabled());
    QVERIFY(preview->profileCheck()->isHidden());
    screenshot(*preview, "preview.png");

    // With a station profile, the panel says before "Save LUT" which camera lies outside and what
    // the save will do; here the left camera's design tilt lies 20 degrees from its solved one.
    station::StationProfile profile;
    profile.name = "bay";
    for (int c = 0; c < core::kCameraCount; ++c) {
        const CameraParam& cam = session.calibration().cameras[c];
        const double pose[] = {cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotZ, cam.rotY};
        for (int f = 0; f < station::kPoseFields; ++f) profile.cameras[c].fields[f] = {pose[f], 5};
    }
    profile.cameras[2].fields[station::kTilt].design += 20;
    profile.cameras[2].check = "the left mirror mount";
    window.setProfile(profile, false);
    const QString outside = preview->profileCheck()->text();
    QVERIFY(!preview->profileCheck()->isHidden());
    for (const char* line : {"Profile \"bay\": outside; \"Save LUT\" will refuse these poses", "FRONT camera within",
                             "REAR camera within", "RIGHT camera within", ": check the left mirror mount"}) {
        QVERIFY2(outside.contains(line), qPrintable(outside));
    }
    QVERIFY2(outside.contains(QRegularExpression("LEFT camera tilt [0-9.]+ deg, design [0-9.]+ \\+- 5 deg")),
             qPrintable(outside));
    QVERIFY2(!outside.contains("LEFT camera within"), qPrintable(outside));
    window.setProfile(profile, true);
    QVERIFY(preview->profileCheck()->text().contains("saves all the same (--override-profile)"));
    window.setProfile(std::nullopt, false);
    QVERIFY(preview->profileCheck()->isHidden());
    screenshot(*preview->qualityPanel(), "quality-panel.png");

    // The seam check changes only what the preview shows, and goes away without a trace.
    const QByteArray stitched = outputHash(session.preview());
    QVERIFY(preview->seamCheck()->isEnabled());
    QTest::mouseClick(preview->seamCheck(), Qt::LeftButton, {}, QPoint(6, preview->seamCheck()->height() / 2));
    QVERIFY(session.preview().views().seamCheck());
    QVERIFY(outputHash(session.preview()) != stitched);
    screenshot(*preview->canvas(), "seam-check.png");
    QTest::mouseClick(preview->seamCheck(), Qt::LeftButton, {}, QPoint(6, preview->seamCheck()->height() / 2));
    QCOMPARE(outputHash(session.preview()), stitched);

    // The buttons change the shown view; UP and DOWN cancel out, so the files stay comparable.
    const QByteArray applied = outputHash(session.preview());
    clock.restart();
    QTest::mouseClick(preview->adjustmentButton(core::Adjustment::kUp), Qt::LeftButton);
    qInfo("UP %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(outputHash(session.preview()) != applied);
    QTest::mouseClick(preview->adjustmentButton(core::Adjustment::kDown), Qt::LeftButton);
    QCOMPARE(outputHash(session.preview()), applied);
    QVERIFY(preview->undoButton()->isEnabled());
    QTest::mouseClick(preview->adjustmentButton(core::Adjustment::kRotatePlus), Qt::LeftButton);
    QVERIFY(preview->adjustment()->text().contains("turn -1.0 deg"));
    QTest::mouseClick(preview->undoButton(), Qt::LeftButton);
    QCOMPARE(outputHash(session.preview()), applied);
    // Mask type: "Blending Auto" offers the width field, "Predefined" takes it away again.
    preview->maskType()->setCurrentIndex(0);
    Q_EMIT preview->maskType()->activated(0);
    QVERIFY(preview->field(core::PreviewField::kOverallWidth)->isEnabled());
    QVERIFY(outputHash(session.preview()) != applied);
    preview->maskType()->setCurrentIndex(4);
    Q_EMIT preview->maskType()->activated(4);
    QVERIFY(!preview->field(core::PreviewField::kOverallWidth)->isEnabled());
    QCOMPARE(outputHash(session.preview()), applied);

    // The window follows the view chosen; the bowl view is a look from around the vehicle that the
    // saved files below never see: they are saved with it shown.
    preview->viewList()->setCurrentRow(2);
    checkFittedToView(*preview, session.preview());
    preview->viewList()->setCurrentRow(preview->viewList()->count() - 1);
    QVERIFY(session.preview().views().bowlShown());
    QCOMPARE(preview->viewList()->currentItem()->text(), QString(core::kBowlViewName));
    checkFittedToView(*preview, session.preview());
    QVERIFY(!preview->adjustmentButton(core::Adjustment::kUp)->isEnabled());
    QVERIFY(!preview->seamCheck()->isEnabled());
    clock.restart();
    QTest::mouseClick(preview->bowlPreset("front"), Qt::LeftButton);
    qInfo("bowl view preset %lld ms", static_cast<long long>(clock.elapsed()));
    QCOMPARE(session.preview().views().bowl().preset(), std::string("front"));
    const QByteArray fromFront = outputHash(session.preview());
    QVERIFY(varied(preview->canvas()->grab().toImage(), preview->canvas()->viewRect()));
    screenshot(*preview, "bowl-preview.png");
    const QPoint centre = preview->canvas()->viewRect().center();
    QTest::mousePress(preview->canvas(), Qt::LeftButton, {}, centre);
    clock.restart();
    QTest::mouseMove(preview->canvas(), centre + QPoint(30, 0));
    qInfo("bowl view drag frame %lld ms", static_cast<long long>(clock.elapsed()));
    int viewWidth = 0, viewHeight = 0;
    session.preview().views().output(viewWidth, viewHeight);
    QCOMPARE(viewWidth, core::kBowlPreviewWidth / core::kBowlDraftDivisor);
    QTest::mouseMove(preview->canvas(), centre + QPoint(60, 10));
    QTest::mouseRelease(preview->canvas(), Qt::LeftButton, {}, centre + QPoint(60, 10));
    session.preview().views().output(viewWidth, viewHeight);
    QCOMPARE(viewWidth, core::kBowlPreviewWidth);
    QVERIFY(outputHash(session.preview()) != fromFront);
    QVERIFY(session.preview().views().bowl().preset().empty());

    // The station fields: a name the history cannot take stops the save before a folder is asked.
    const QString guiOut = temp_.filePath("gui-out");
    QLineEdit* vehicle = window.identityField(core::IdentityField::kVehicle);
    vehicle->setText(QString(70, 'V'));
    QTest::mouseClick(window.button(core::Button::kSaveLut), Qt::LeftButton);
    QCOMPARE(op.messages.back().text,
             QString::fromStdString(*station::checkIdentityText(std::string(70, 'V'), "Vehicle")));
    QVERIFY(!QDir(guiOut).exists());
    vehicle->clear();
    QTest::keyClicks(vehicle, "WVWZZZ1JZXW000001");

    // Save LUT into a folder of our own: the same files as calibration-cli with the same points.
    QVERIFY(QDir().mkpath(guiOut));
    op.folders.push_back(guiOut);
    clock.restart();
    QTest::mouseClick(window.button(core::Button::kSaveLut), Qt::LeftButton);
    qInfo("Save LUT %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(op.shown("Output file saved successfully."));
    QCOMPARE(op.messages.back().over, static_cast<QWidget*>(preview));
    QVERIFY(window.statusText()->text().contains("Save LUT: done (23 files"));
    QVERIFY(window.statusText()->text().contains("History: record"));
    QVERIFY(ui.progressWindow() && !ui.progressWindow()->isVisible());
    QCOMPARE(ui.progressWindow()->windowTitle(), QString("%1 [100%]").arg(core::kAppTitle));
    // The certificate of that save names its 23 files with the manifest's checksums.
    // It names the vehicle the save was made for, even after the field moved on to the next car.
    QVERIFY(window.certificateButton()->isEnabled());
    vehicle->setText("NEXT");
    const QString certificate = temp_.filePath("certificate.html");
    op.files.push_back(certificate);
    QTest::mouseClick(window.certificateButton(), Qt::LeftButton);
    QFile page(certificate);
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    QVERIFY(html.contains("Calibration saved"));
    QVERIFY(html.contains("WVWZZZ1JZXW000001") && !html.contains("NEXT"));
    QCOMPARE(html.count(QRegularExpression("<td class=\"mono\">[0-9a-f]{8}</td>")), 23);
    QCOMPARE(html.count("data:image/jpeg;base64,"), 6);
    QVERIFY2(window.statusText()->text().contains(QRegularExpression("History: record \\d+ names it")),
             qPrintable(window.statusText()->text()));

    QString points = "{";
    const char* keys[] = {"front", "rear", "left", "right"};
    for (int c = 0; c < core::kCameraCount; ++c) {
        // The operator's points as the views hold them (Apply AVM may refine its own copy).
        const auto view = session.markers().imageView(c);
        points += QString("%1\"%2\": [").arg(c ? ", " : "", keys[c]);
        for (int i = 0; i < core::kPatternPointCount; ++i) {
            const Point2F p = view.triangles[i / 3][i % 3];
            points += QString("%1[%2, %3]").arg(i ? ", " : "").arg(p.x, 0, 'g', 9).arg(p.y, 0, 'g', 9);
        }
        points += "]";
    }
    points += "}";
    QFile pointsFile(temp_.filePath("points.json"));
    QVERIFY(pointsFile.open(QIODevice::WriteOnly));
    pointsFile.write(points.toUtf8());
    pointsFile.close();
    const QString cliOut = temp_.filePath("cli-out");
    QString log;
    QCOMPARE(run({"run", "--config", QDir(bay_).filePath("Config.bin"), "--data", bay_, "--out", cliOut, "--points",
                  pointsFile.fileName()},
                 &log),
             0);
    int compared = 0;
    for (QDirIterator it(cliOut, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QString relative = QDir(cliOut).relativeFilePath(path);
        // Each save's manifest names its own time and id; both saves wrote one.
        if (relative == "calibration.set.json") {
            QVERIFY(QFile::exists(QDir(guiOut).filePath(relative)));
            continue;
        }
        QFile a(path), b(QDir(guiOut).filePath(relative));
        QVERIFY2(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly), qPrintable(relative));
        QByteArray x = a.readAll(), y = b.readAll();
        QCOMPARE(x.size(), y.size());
        // The header's date words and its checksum follow the clock; everything else must agree.
        for (int i : {4, 5, 6, 7, 30, 31}) x[i] = y[i] = 0;
        QVERIFY2(x == y, qPrintable(relative));
        ++compared;
    }
    QCOMPARE(compared, 23);

    // The save and calibration-cli's run went into one history; the window lists them by vehicle.
    // The save's record opens the certificate written for it; once the file is gone, the window
    // says so; calibration-cli's run wrote none, so its record offers none.
    int ofVehicle = -1, all = -1;
    QString details, gone;
    bool offered = false, offeredWithout = true;
    QDesktopServices::setUrlHandler("file", this, "openedUrl");
    op.history = [&](HistoryWindow& h) {
        h.vehicleFilter()->setText("WVWZZZ1JZXW000001");
        QTest::mouseClick(h.findChild<QPushButton*>("historyShow"), Qt::LeftButton);
        ofVehicle = h.records()->rowCount();
        details = h.details()->toPlainText();
        screenshot(h, "history-window.png");
        offered = h.openCertificateButton()->isEnabled();
        QTest::mouseClick(h.openCertificateButton(), Qt::LeftButton);
        QVERIFY(QFile::rename(certificate, certificate + ".moved"));
        QTest::mouseClick(h.openCertificateButton(), Qt::LeftButton);
        gone = h.problem()->isHidden() ? QString() : h.problem()->text();
        QVERIFY(QFile::rename(certificate + ".moved", certificate));
        h.vehicleFilter()->clear();
        h.reload();
        all = h.records()->rowCount();
        offeredWithout = h.openCertificateButton()->isEnabled();
    };
    QTest::mouseClick(window.historyButton(), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(ofVehicle, 1);
    QVERIFY2(details.contains("WVWZZZ1JZXW000001") && details.contains(QDir(guiOut).absolutePath()),
             qPrintable(details));
    QVERIFY2(details.contains(QFileInfo(certificate).absoluteFilePath()), qPrintable(details));
    QVERIFY(offered);
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(certificate).absoluteFilePath())});
    QVERIFY2(gone.contains("is gone"), qPrintable(gone));
    QVERIFY(all >= 2);
    QVERIFY(!offeredWithout);
    preview->viewList()->setCurrentRow(0);
    QVERIFY(!session.preview().views().bowlShown());

    // A car picture (not with the predefined mask): loaded, dragged across the canvas, applied.
    preview->maskType()->setCurrentIndex(0);
    Q_EMIT preview->maskType()->activated(0);
    const QString car = temp_.filePath("car.bmp");
    QImage carPicture(60, 120, QImage::Format_RGB888);
    carPicture.fill(QColor(200, 30, 30));
    QVERIFY(carPicture.save(car, "BMP"));
    op.files.push_back(car);
    QTest::mouseClick(preview->loadCarImageButton(), Qt::LeftButton);
    QVERIFY(session.preview().car().placed().has_value());
    QVERIFY(preview->applyButton()->isEnabled());
    ViewCanvas* canvas = preview->canvas();
    const QPoint inside = canvas->toCanvas(QPointF(30, 60)).toPoint();
    QTest::mousePress(canvas, Qt::LeftButton, {}, inside);
    QVERIFY(canvas->itemSelected());
    QTest::mouseMove(canvas, inside + QPoint(20, 10));
    QTest::mouseMove(canvas, inside + QPoint(80, 40));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, inside + QPoint(80, 40));
    const QPointF shift = canvas->toView(inside + QPoint(80, 40)) - canvas->toView(inside);
    QVERIFY(std::abs(session.preview().car().placed()->left - shift.x()) <= 1);
    QVERIFY(std::abs(session.preview().car().placed()->top - shift.y()) <= 1);
    const QByteArray withoutCar = outputHash(session.preview());
    QTest::mouseClick(preview->applyButton(), Qt::LeftButton);
    QVERIFY(!session.preview().car().placed());
    QVERIFY(!preview->applyButton()->isEnabled());
    QVERIFY(outputHash(session.preview()) != withoutCar);
    QVERIFY(varied(preview->grab().toImage(), preview->canvas()->geometry()));
}

// Paints the lower three quarters of the left half of a bottom-up 24-bit bitmap with the floor's
// grey: the left triangle is gone.
void hideLeftTriangle(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray b = file.readAll();
    auto word = [&b](int at) {
        return static_cast<int32_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
                                    static_cast<uint8_t>(b[at + 2]) << 16 |
                                    static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
    };
    const int offset = word(10), w = word(18), h = word(22);
    QVERIFY(h > 0);
    const int stride = MZ_ROW_STRIDE24(w);
    for (int y = h / 4; y < h; ++y) {
        char* row = b.data() + offset + (h - 1 - y) * stride;
        for (int x = 0; x < w / 2; ++x) {
            row[3 * x] = char(200);
            row[3 * x + 1] = char(195);
            row[3 * x + 2] = char(190);
        }
    }
    file.seek(0);
    file.write(b);
}

void GuiTest::lostTriangleIsPlacedByHand() {
    const QString hidden = temp_.filePath("hidden");
    QVERIFY(QDir().mkpath(hidden + "/image"));
    for (const char* name :
         {"Config.bin", "truth.json", "image/front.bmp", "image/rear.bmp", "image/left.bmp", "image/right.bmp"}) {
        QVERIFY(QFile::copy(QDir(bay_).filePath(name), QDir(hidden).filePath(name)));
    }
    hideLeftTriangle(QDir(hidden).filePath("image/front.bmp"));
    QFile truthFile(QDir(hidden).filePath("truth.json"));
    QVERIFY(truthFile.open(QIODevice::ReadOnly));
    const QJsonArray truth = QJsonDocument::fromJson(truthFile.readAll())
                                 .object()["cameras"]
                                 .toObject()["front"]
                                 .toObject()["imagePoints"]
                                 .toArray();
    QCOMPARE(truth.size(), 6);

    Desk desk;
    MainWindow& window = *desk.window;
    core::Session& session = window.session();
    desk.loadBay(hidden);
    QVERIFY(window.statusText()->text().contains("Front: left NOT FOUND"));
    QVERIFY(session.markers().imageView(0).stillLost(0));
    // The lost triangle is drawn in red over the picture, its note at the view's foot.
    const QImage marked = window.imageView(0)->grab().toImage();
    int red = 0;
    for (int y = marked.height() - 20; y < marked.height(); ++y) {
        for (int x = 0; x < marked.width() / 2; ++x) {
            const QColor px = marked.pixelColor(x, y);
            red += px.red() > 150 && px.green() < 60 && px.blue() < 60;
        }
    }
    QVERIFY2(red > 50, qPrintable(QString::number(red)));
    screenshot(*window.imageView(0), "lost-triangle.png");
    // Detection left the lost triangle where the configuration put it.
    const auto defaults = core::defaultPatternPoints(0, 720, 480);
    QCOMPARE(session.markers().imageView(0).triangles[0][0].x, defaults[0].x);
    QCOMPARE(session.markers().imageView(0).triangles[0][0].y, defaults[0].y);

    // Enlarged, the view shows the picture at about its own size: finer work for the hand.
    ImageView* view = window.imageView(0);
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(window.enlargedView(), 0);
    QVERIFY(!window.imageView(1)->isVisible());
    QTRY_VERIFY(view->width() > window.imageView(1)->width());
    for (int v = 0; v < 3; ++v) {
        const Point2F from = session.markers().imageView(0).triangles[0][v];
        const Point2F to{static_cast<float>(truth[v].toArray()[0].toDouble()),
                         static_cast<float>(truth[v].toArray()[1].toDouble())};
        const QPoint press = view->toWidget(from).toPoint();
        QTest::mousePress(view, Qt::LeftButton, {}, press);
        QTest::mouseMove(view, view->toWidget(to).toPoint());
        QTest::mouseRelease(view, Qt::LeftButton, {}, view->toWidget(to).toPoint());
        const Point2F placed = session.markers().imageView(0).triangles[0][v];
        QVERIFY2(std::hypot(placed.x - to.x, placed.y - to.y) < 2.5f, qPrintable(QString("corner %1").arg(v + 1)));
    }
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(window.enlargedView(), -1);

    QVERIFY(!session.markers().imageView(0).stillLost(0));

    QTest::mouseClick(window.button(core::Button::kApplyAvm), Qt::LeftButton);
    QVERIFY(session.preview().rig().lastResult() >= 0);
    QVERIFY(session.viewApplied());
    QVERIFY(!desk.op.shown(QString::fromStdString(core::calibrationFailureMessage(-1))));
}

void GuiTest::failuresAreNeverSavedAsSuccess() {
    Desk desk;
    Operator& op = desk.op;
    MainWindow& window = *desk.window;
    core::Session& session = window.session();
    desk.loadBay(bay_);
    std::array<Point2F, core::kPatternPointCount> same;
    same.fill({20, 20});
    for (int c = 0; c < core::kCameraCount; ++c) session.markers().setMarkers(c, same);
    QTest::mouseClick(window.button(core::Button::kApplyAvm), Qt::LeftButton);
    QCOMPARE(op.messages.back().title, QString("calibration error"));
    QCOMPARE(window.button(core::Button::kApplyAvm)->look(), core::ButtonLook::kReady);

    const QString out = temp_.filePath("never");
    QVERIFY(QDir().mkpath(out));
    op.folders.push_back(out);
    QTest::mouseClick(window.button(core::Button::kSaveLut), Qt::LeftButton);
    QCOMPARE(op.messages.back().text, QString(core::kFailedApplySave));
    QVERIFY(op.messages.back().detail.contains("calibration error"));
    QVERIFY(!op.shown("Output file saved successfully."));
    QCOMPARE(op.folders.size(), size_t{1});  // the chooser never opened
    QVERIFY(window.statusText()->text().contains("Save LUT: refused"));

    // A reload after a good Apply: its tables are not the loaded configuration's.
    op.folders.clear();
    desk.loadBay(bay_);
    QTest::mouseClick(window.button(core::Button::kApplyAvm), Qt::LeftButton);
    QVERIFY(session.applyCurrent());
    op.configs.push_back(QDir(bay_).filePath("Config.bin"));
    QTest::mouseClick(window.button(core::Button::kConfigLoad), Qt::LeftButton);
    QCOMPARE(window.button(core::Button::kApplyAvm)->look(), core::ButtonLook::kReady);
    QTest::mouseClick(window.button(core::Button::kSaveLut), Qt::LeftButton);
    QCOMPARE(op.messages.back().text, QString("First click the \"Apply AVM\" button! "));
    QVERIFY(QDir(out).isEmpty());

    // Every message is in the log, with its detail.
    QTest::mouseClick(window.messageLogButton(), Qt::LeftButton);
    QVERIFY(op.log.contains(QString(core::kFailedApplySave).simplified()));
    QVERIFY(op.log.contains("calibration error"));
}

}  // namespace
}  // namespace mz::gui

int main(int argc, char** argv) {
    // The stored progress-window place goes to a folder of the test's own.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Ovantis");
    QApplication::setApplicationName("Calibration Tool Test");
    mz::gui::GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
