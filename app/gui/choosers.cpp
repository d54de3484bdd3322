#include "app/gui/choosers.h"

#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStorageInfo>
#include <QVBoxLayout>

#include <cmath>

#include "app/gui/qt_ui.h"

namespace mz::gui {

namespace {

// Kernel and memory file systems are no place for calibration data.
bool isDataVolume(const QStorageInfo& volume) {
    static const QStringList kSkipped = {"proc",    "sysfs",   "devtmpfs",    "tmpfs",   "devpts",
                                         "cgroup",  "cgroup2", "securityfs",  "pstore",  "debugfs",
                                         "tracefs", "mqueue",  "hugetlbfs",   "fusectl", "configfs",
                                         "bpf",     "autofs",  "binfmt_misc", "nsfs",    "squashfs"};
    return volume.isValid() && volume.isReady() && !kSkipped.contains(QString::fromUtf8(volume.fileSystemType()));
}

bool isRemovable(const QStorageInfo& volume) {
    const QString root = volume.rootPath();
    return root.startsWith("/media/") || root.startsWith("/run/media/") || root.startsWith("/mnt/");
}

}  // namespace

QSize dialogUnits(const QWidget& widget, int width, int height) {
    const QFontMetrics m(widget.font());
    const double x = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    return {static_cast<int>(std::lround(width * x / 4)), static_cast<int>(std::lround(height * m.height() / 8.0))};
}

// ---- Config Load ----

ConfigLoadDialog::ConfigLoadDialog(QtUi& ui, const QString& path, QWidget* parent)
    : QDialog(parent), ui_(ui), path_(new QLineEdit(path)), load_(new QPushButton("Load")) {
    setWindowTitle("Config Load");
    path_->setObjectName("configPath");
    path_->setMinimumWidth(dialogUnits(*this, 180, 0).width());
    auto* browse = new QPushButton("O");
    browse->setObjectName("configBrowse");
    browse->setFixedWidth(dialogUnits(*this, 16, 0).width());
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Config FIle"));
    row->addWidget(path_, 1);
    row->addWidget(browse);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(load_);
    layout->addLayout(buttons);
    load_->setDefault(true);
    connect(load_, &QPushButton::clicked, this, &QDialog::accept);
    connect(browse, &QPushButton::clicked, this, &ConfigLoadDialog::browse);
}

QString ConfigLoadDialog::path() const { return path_->text(); }

void ConfigLoadDialog::browse() {
    QFileDialog dialog(this, "Config Load", QFileInfo(path_->text()).absolutePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters("Config File(*.bin)|*.bin|"));
    dialog.setDefaultSuffix("bin");
    if (ui_.runDialog(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        path_->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
    }
}

// ---- Drive chooser ----

FolderChooser::FolderChooser(QtUi& ui, const core::FolderChooserTexts& texts, const QString& folder, QWidget* parent)
    : QDialog(parent), ui_(ui), volumes_(new QListWidget), folder_(new QLineEdit(folder)),
      confirm_(new QPushButton(QString::fromStdString(texts.button))) {
    setWindowTitle(QString::fromStdString(texts.title));
    volumes_->setObjectName("volumes");
    folder_->setObjectName("folder");
    confirm_->setObjectName("confirm");
    auto* browse = new QPushButton("Other folder...");
    browse->setObjectName("folderBrowse");
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString(texts.label)), 0, 0, 1, 2);
    layout->addWidget(volumes_, 1, 0, 1, 2);
    layout->addWidget(folder_, 2, 0);
    layout->addWidget(browse, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(confirm_);
    layout->addLayout(buttons, 3, 0, 1, 2);
    resize(dialogUnits(*this, 200, 140));
    confirm_->setDefault(true);
    connect(confirm_, &QPushButton::clicked, this, &QDialog::accept);
    connect(browse, &QPushButton::clicked, this, &FolderChooser::browse);
    connect(volumes_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { folder_->setText(item->data(Qt::UserRole).toString()); });
    refreshVolumes();
}

QString FolderChooser::folder() const { return folder_->text(); }

void FolderChooser::showEvent(QShowEvent* event) {
    // Volumes come and go (a stick plugged in while the chooser was closed).
    refreshVolumes();
    QDialog::showEvent(event);
}

void FolderChooser::refreshVolumes() {
    volumes_->clear();
    const QString current = QDir::cleanPath(folder_->text());
    QListWidgetItem* match = nullptr;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!isDataVolume(volume)) continue;
        const QString root = volume.rootPath();
        auto* item = new QListWidgetItem(root + (isRemovable(volume) ? " Removable Disk" : " Hard Disk"), volumes_);
        item->setData(Qt::UserRole, root);
        if (!current.isEmpty() && QDir::cleanPath(root) == current) match = item;
    }
    if (match) volumes_->setCurrentItem(match);
}

void FolderChooser::browse() {
    QFileDialog dialog(this, windowTitle(), folder_->text());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (ui_.runDialog(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        folder_->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
        refreshVolumes();
    }
}

// ---- Progress window ----

ProgressWindow::ProgressWindow(const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), title_(title), status_(new QLabel), bar_(new QProgressBar),
      cancel_(new QPushButton(" Cancel ")) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(title_);
    bar_->setRange(0, 100);
    cancel_->setObjectName("cancel");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    resize(390, 130);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancelled_ = true;
        storePosition();
        hide();
    });
    placeOnScreen();
}

ProgressWindow::~ProgressWindow() { storePosition(); }

void ProgressWindow::placeOnScreen() {
    QSettings settings;
    const int x = settings.value("Settings/X", -1).toInt();
    const int y = settings.value("Settings/Y", -1).toInt();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (x >= 0 && y >= 0 && area.contains(QRect(QPoint(x, y), size()))) {
        move(x, y);
    } else {
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void ProgressWindow::storePosition() const {
    QSettings settings;
    settings.setValue("Settings/X", pos().x());
    settings.setValue("Settings/Y", pos().y());
}

void ProgressWindow::setStatus(const QString& text) { status_->setText(text.left(511)); }

QString ProgressWindow::status() const { return status_->text(); }

int ProgressWindow::position() const { return bar_->value(); }

void ProgressWindow::setPosition(double percent) {
    bar_->setValue(static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0))));
    const long rounded = std::lround(percent);
    if (rounded == shownPercent_) return;
    shownPercent_ = rounded;
    setWindowTitle(QString::fromStdString(core::progressCaption(title_.toStdString(), percent)));
    ++captionWrites_;
}

}  // namespace mz::gui
