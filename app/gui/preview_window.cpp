#include "app/gui/preview_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QHeaderView>
#include <QScrollArea>
#include <QTableWidget>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <QScreen>
#include <QWindow>

#include "app/core/quality_summary.h"
#include "app/gui/choosers.h"
#include "app/gui/colour_button.h"
#include "app/gui/pictures.h"
#include "app/gui/qt_ui.h"
#include "app/gui/view_canvas.h"

namespace mz::gui {

namespace {

using core::Adjustment;
using core::PreviewControl;
using core::PreviewField;

constexpr const char* kAdjustmentLabels[8] = {"UP", "DOWN", "<--", "-->", "zoom+", "zoom-", "rotate+", "rotate-"};
constexpr const char* kAdjustmentTips[8] = {"Move the view up by one step (20 mm on the floor for a stitched view)",
                                            "Move the view down by one step",
                                            "Move the view left by one step",
                                            "Move the view right by one step",
                                            "Stitched view: raise the side cameras by 5 mm; single view: enlarge",
                                            "Stitched view: lower the side cameras by 5 mm; single view: shrink",
                                            "Turn the view by one degree",
                                            "Turn the view back by one degree"};

// 0x00BBGGRR as the records keep it.
QColor fromRecord(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
uint32_t toRecord(QColor c) {
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
           static_cast<uint32_t>(c.blue()) << 16;
}

}  // namespace

PreviewWindow::PreviewWindow(core::Session& session, QtUi& ui, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), ui_(ui), canvas_(new ViewCanvas(session, ui)),
      maskType_(new QComboBox), viewList_(new QListWidget), loadCar_(new QPushButton("Load Car Image")),
      apply_(new QPushButton("Apply")), parkingLine_(new QPushButton("Parking Line Assistance")),
      overlayBlend_(new QCheckBox("Show Overlay Blend")),
      colour_(new ColourButton(fromRecord(0x010101), [&ui](QDialog& d) { return ui.runDialog(d); })),
      lutMajor_(new QLineEdit), lutMinor_(new QLineEdit) {
    setObjectName("preview");
    setWindowTitle("Preview");
    // Adjustments: the arrows in a cross, zoom and rotation beside them.
    auto* moves = new QGridLayout;
    const QPoint cells[8] = {{1, 0}, {1, 2}, {0, 1}, {2, 1}, {3, 0}, {3, 2}, {4, 0}, {4, 2}};
    for (int a = 0; a < 8; ++a) {
        auto* b = new QToolButton;
        b->setText(kAdjustmentLabels[a]);
        b->setIcon(adjustmentIcon(static_cast<Adjustment>(a)));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setObjectName(QString("adjust%1").arg(a));
        b->setToolTip(kAdjustmentTips[a]);
        b->setMinimumWidth(dialogUnits(*this, 30, 0).width());
        moves->addWidget(b, cells[a].y(), cells[a].x());
        connect(b, &QToolButton::clicked, this,
                [this, a] { session_.preview().adjuster().adjust(static_cast<Adjustment>(a)); });
        adjust_[a] = b;
        controls_[b] = PreviewControl::kAdjustment;
    }
    auto* moveBox = new QGroupBox("Adjust");
    moveBox->setLayout(moves);

    auto* vehicle = new QGroupBox("Vehicle (mm)");
    auto* vehicleForm = new QFormLayout(vehicle);
    QLineEdit* marker = addField(PreviewField::kMarkerLength, PreviewControl::kMarkerLength);
    marker->setPlaceholderText("Enter length of marker (mm)");
    vehicleForm->addRow("Marker length", marker);
    vehicleForm->addRow("Overall width", addField(PreviewField::kOverallWidth, PreviewControl::kOverallWidth));
    vehicleForm->addRow("Overall length", addField(PreviewField::kOverallLength, PreviewControl::kOverallLength));
    vehicleForm->addRow("Overall height", addField(PreviewField::kOverallHeight, PreviewControl::kOverallHeight));

    auto* property = new QGroupBox("Surround View Property");
    auto* propertyForm = new QFormLayout(property);
    for (const char* name : core::kMaskTypeNames) maskType_->addItem(name);
    maskType_->setObjectName("maskType");
    controls_[maskType_] = PreviewControl::kMaskType;
    connect(maskType_, &QComboBox::activated, this, [this](int m) { session_.preview().settings().changeMaskType(m); });
    propertyForm->addRow("Mask Type", maskType_);
    propertyForm->addRow("Front FOV", addField(PreviewField::kFrontFov, PreviewControl::kFrontFov));
    propertyForm->addRow("Rear FOV", addField(PreviewField::kRearFov, PreviewControl::kRearFov));
    propertyForm->addRow("Line Width", addField(PreviewField::kLineWidth, PreviewControl::kLineWidth));
    propertyForm->addRow("Blending Width", addField(PreviewField::kBlendWidth, PreviewControl::kBlendWidth));
    controls_[colour_] = PreviewControl::kColour;
    colour_->setObjectName("colour");
    connect(colour_, &ColourButton::colourChosen, this,
            [this](QColor c) { session_.preview().settings().pickColour(toRecord(c)); });
    propertyForm->addRow("Color", colour_);
    controls_[overlayBlend_] = PreviewControl::kShowOverlayBlend;
    connect(overlayBlend_, &QCheckBox::clicked, this,
            [this](bool on) { session_.preview().settings().setShowOverlayBlend(on); });
    propertyForm->addRow(overlayBlend_);
    auto* carRow = new QHBoxLayout;
    carRow->addWidget(loadCar_);
    carRow->addWidget(apply_);
    propertyForm->addRow(carRow);
    controls_[loadCar_] = PreviewControl::kLoadCarImage;
    controls_[apply_] = PreviewControl::kApply;
    connect(loadCar_, &QPushButton::clicked, this, [this] { session_.preview().car().load(); });
    connect(apply_, &QPushButton::clicked, this, [this] { session_.preview().car().apply(); });

    auto* version = new QGroupBox("LUT Version");
    auto* versionRow = new QHBoxLayout(version);
    for (QLineEdit* e : {lutMajor_, lutMinor_}) {
        e->setValidator(new QIntValidator(0, 9999, e));
        e->setMaximumWidth(dialogUnits(*this, 30, 0).width());
    }
    lutMajor_->setObjectName("lutMajor");
    lutMinor_->setObjectName("lutMinor");
    versionRow->addWidget(lutMajor_);
    versionRow->addWidget(new QLabel("."));
    versionRow->addWidget(lutMinor_);
    versionRow->addStretch();
    connect(lutMajor_, &QLineEdit::textEdited, this,
            [this](const QString& t) { session_.preview().settings().setLutVersionText(true, t.toStdString()); });
    connect(lutMinor_, &QLineEdit::textEdited, this,
            [this](const QString& t) { session_.preview().settings().setLutVersionText(false, t.toStdString()); });

    auto* parking = new QGroupBox("Parking Line Property");
    auto* parkingRow = new QVBoxLayout(parking);
    parkingRow->addWidget(parkingLine_);
    controls_[parkingLine_] = PreviewControl::kParkingLineAssistance;
    connect(parkingLine_, &QPushButton::clicked, this, [this] { session_.preview().parkingLine().assist(); });

    auto* views = new QGroupBox("Select a View");
    auto* viewsLayout = new QVBoxLayout(views);
    viewList_->setObjectName("viewList");
    viewList_->setMaximumHeight(dialogUnits(*this, 0, 80).height());
    viewsLayout->addWidget(viewList_);
    connect(viewList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) session_.preview().selectView(row);
    });

    auto* panel = new QWidget;
    auto* panelLayout = new QVBoxLayout(panel);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    for (QGroupBox* w : {views, makeBowlPanel(), moveBox, vehicle}) left->addWidget(w);
    for (QWidget* w : {property, version, parking}) right->addWidget(w);
    left->addStretch();
    right->addStretch();
    columns->addLayout(left);
    columns->addLayout(right);
    panelLayout->addLayout(columns);
    panelLayout->addWidget(makeQualityPanel());
    panelLayout->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(panel);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Fixed, so the canvas takes every pixel the window has beyond it and the window can be fitted
    // to the view before it is ever shown.
    scroll->setFixedWidth(panel->sizeHint().width() + 24);
    side_ = scroll;

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(canvas_, 1);
    layout->addWidget(scroll);
    resize(dialogUnits(*this, 650, 370));

    maskType_->setToolTip("How the cameras share the overlaps; \"Predefined\" keeps the configured mask and car");
    viewList_->setToolTip("The configured views: the stitched ones first, then the single-camera views");
    loadCar_->setToolTip("A 24-bit BMP of the car, placed on the canvas: drag it, resize it at its corner");
    apply_->setToolTip("Put the placed car picture into the view");
    parkingLine_->setToolTip("Draw the parking guide lines into the views that carry an overlay");
    overlayBlend_->setToolTip("Show where the cameras' pictures are blended");
    colour_->setToolTip("The colour of the vehicle area; the view shows it at once");
    lutMajor_->setToolTip("LUT version written into every file: major number, 0 to 99");
    lutMinor_->setToolTip("LUT version written into every file: minor number, 0 to 99");
    const std::pair<PreviewField, const char*> fieldTips[] = {
        {PreviewField::kMarkerLength, "Side of the floor triangles in mm; Enter calibrates again"},
        {PreviewField::kOverallWidth, "Vehicle width in mm; Enter applies"},
        {PreviewField::kOverallLength, "Vehicle length in mm; Enter applies"},
        {PreviewField::kOverallHeight, "Vehicle height in mm (parking guides); Enter applies"},
        {PreviewField::kFrontFov, "Angle the front camera covers in the overlaps, degrees; Enter applies"},
        {PreviewField::kRearFov, "Angle the rear camera covers in the overlaps, degrees; Enter applies"},
        {PreviewField::kLineWidth, "Width of the seam lines in pixels; Enter applies"},
        {PreviewField::kBlendWidth, "Width of the blended band, degrees"}};
    for (const auto& [f, tip] : fieldTips) fields_.at(f)->setToolTip(tip);
    connect(&ui_, &QtUi::previewShown, this, &PreviewWindow::bring);
    connect(&ui_, &QtUi::previewViewChanged, canvas_, qOverload<>(&QWidget::update));
    // An adjustment rebuilds the view: the total adjustment and what can be taken back change.
    connect(&ui_, &QtUi::previewViewChanged, this, &PreviewWindow::refreshQuality);
    connect(&ui_, &QtUi::previewStateUpdated, this, &PreviewWindow::refresh);
    refresh();
}

QGroupBox* PreviewWindow::makeBowlPanel() {
    // The presets as a compass around the vehicle, front up, the view from above in the middle.
    auto* box = new QGroupBox("Bowl View");
    box->setObjectName("bowlPanel");
    box->setToolTip("The bowl view: where to look at the vehicle from; drag the view to walk around it");
    auto* grid = new QGridLayout(box);
    grid->setSpacing(2);
    const std::pair<const char*, QPoint> places[] = {{"front-left", {0, 0}}, {"front", {1, 0}}, {"front-right", {2, 0}},
                                                     {"left", {0, 1}},       {"top", {1, 1}},   {"right", {2, 1}},
                                                     {"rear-left", {0, 2}},  {"rear", {1, 2}},  {"rear-right", {2, 2}}};
    for (const auto& [name, cell] : places) {
        auto* b = new QPushButton(QString(name).replace('-', ' '));
        b->setObjectName(QString("bowl-%1").arg(name));
        b->setToolTip(QString("Look at the vehicle from %1")
                          .arg(QString(name) == "top" ? "above" : QString(name).replace('-', ' ')));
        controls_[b] = PreviewControl::kBowlPreset;
        connect(b, &QPushButton::clicked, this,
                [this, n = std::string(name)] { session_.preview().showBowlPreset(n); });
        grid->addWidget(b, cell.y(), cell.x());
        bowlPresets_[name] = b;
    }
    return box;
}

void PreviewWindow::fitToView() {
    const core::PreviewViews& views = session_.preview().views();
    int w = core::kBowlPreviewWidth, h = core::kBowlPreviewHeight;
    // A drag draws the bowl view smaller for a while: the window stays as it is.
    if (!views.bowlShown()) views.output(w, h);
    if (w <= 0 || h <= 0 || views.currentEntry() < 0 || QSize(w, h) == fittedView_) return;
    fittedView_ = QSize(w, h);
    // The panel and the margins beside the canvas; once a window manager framed it, the frame too.
    const QMargins m = layout()->contentsMargins();
    const QSize around(m.left() + m.right() + layout()->spacing() + side_->minimumWidth(), m.top() + m.bottom());
    const QSize frame = isVisible() ? frameGeometry().size() - size() : QSize(0, 0);
    const QSize room = screen()->availableGeometry().size() - around - frame;
    QSize canvas(w, h);
    if (canvas.width() > room.width() || canvas.height() > room.height()) canvas.scale(room, Qt::KeepAspectRatio);
    resize(
        (canvas.expandedTo(canvas_->minimumSize()) + around).boundedTo(screen()->availableGeometry().size() - frame));
}

QGroupBox* PreviewWindow::makeQualityPanel() {
    quality_ = new QGroupBox("Calibration Quality");
    quality_->setObjectName("quality");
    auto* layout = new QVBoxLayout(quality_);
    verdict_ = new QLabel;
    verdict_->setObjectName("verdict");
    verdict_->setWordWrap(true);
    layout->addWidget(verdict_);
    profileCheck_ = new QLabel;
    profileCheck_->setObjectName("profileCheck");
    profileCheck_->setWordWrap(true);
    profileCheck_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    profileCheck_->setToolTip("Each camera's solved pose against the station profile's design and tolerances");
    profileCheck_->hide();
    layout->addWidget(profileCheck_);
    auto table = [this](int rows, const auto& columns, const char* name) {
        auto* t = new QTableWidget(rows, static_cast<int>(columns.size()));
        t->setObjectName(name);
        QStringList headers;
        for (const char* c : columns) headers << c;
        t->setHorizontalHeaderLabels(headers);
        t->setEditTriggers(QAbstractItemView::NoEditTriggers);
        t->setSelectionMode(QAbstractItemView::NoSelection);
        t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        t->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
        return t;
    };
    cameraTable_ = table(core::kCameraCount, core::kQualityCameraColumns, "cameraFigures");
    seamTable_ = table(refine::kRigTriangles, core::kQualitySeamColumns, "seamFigures");
    cameraTable_->setToolTip("Each camera's corner fit and the uncertainty of its pose (one standard deviation)");
    seamTable_->setToolTip(
        "Each seam's predicted misalignment on the floor (95th percentile) and its worst corner gap");
    layout->addWidget(cameraTable_);
    layout->addWidget(seamTable_);
    warnings_ = new QLabel;
    warnings_->setObjectName("qualityWarnings");
    warnings_->setWordWrap(true);
    warnings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(warnings_);
    adjustment_ = new QLabel;
    adjustment_->setObjectName("adjustment");
    adjustment_->setWordWrap(true);
    layout->addWidget(adjustment_);
    auto* row = new QHBoxLayout;
    undo_ = new QPushButton("Undo");
    undo_->setObjectName("undo");
    undo_->setToolTip("Take back the last adjustment step");
    reset_ = new QPushButton("Reset to calibrated");
    reset_->setObjectName("resetPose");
    reset_->setToolTip("Put the rig back where Apply AVM solved it, without the adjustment");
    controls_[undo_] = PreviewControl::kUndo;
    controls_[reset_] = PreviewControl::kResetPose;
    connect(undo_, &QPushButton::clicked, this, [this] { session_.preview().adjuster().undo(); });
    connect(reset_, &QPushButton::clicked, this, [this] { session_.preview().adjuster().resetToCalibrated(); });
    row->addWidget(undo_);
    row->addWidget(reset_);
    row->addStretch();
    layout->addLayout(row);
    seamCheck_ = new QCheckBox("Seam check");
    seamCheck_->setObjectName("seamCheck");
    seamCheck_->setToolTip(
        "Show both cameras of every overlap in alternate tiles: a line that breaks at a "
        "tile border marks a seam that does not fit");
    controls_[seamCheck_] = PreviewControl::kSeamCheck;
    connect(seamCheck_, &QCheckBox::clicked, this, [this](bool on) { session_.preview().setSeamCheck(on); });
    layout->addWidget(seamCheck_);
    return quality_;
}

void PreviewWindow::refreshQuality() {
    const core::Preview& preview = session_.preview();
    const core::QualitySummary q = core::summarizeQuality(preview.rig().report());
    verdict_->setText(q.available ? QString::fromStdString(q.verdict) : QString("Quality: no calibration yet"));
    verdict_->setStyleSheet(!q.available ? QString()
                            : q.good     ? QString("color: #1a7f37; font-weight: bold")
                                         : QString("color: #c00000; font-weight: bold"));
    auto fill = [&q](QTableWidget* table, const auto& rows) {
        for (int r = 0; r < table->rowCount(); ++r) {
            const core::QualityRow& row = rows[static_cast<size_t>(r)];
            table->setVerticalHeaderItem(r, new QTableWidgetItem(QString::fromStdString(row.label)));
            for (int c = 0; c < table->columnCount(); ++c) {
                const bool known = q.available && c < static_cast<int>(row.cells.size());
                auto* item = new QTableWidgetItem(known ? QString::fromStdString(row.cells[c]) : QString("-"));
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table->setItem(r, c, item);
            }
        }
    };
    fill(cameraTable_, q.cameras);
    fill(seamTable_, q.seams);
    QStringList lines;
    // The warnings name every corner left out of the rig too.
    for (const std::string& w : q.warnings) lines << QString::fromStdString(w);
    warnings_->setText(lines.join("\n"));
    warnings_->setVisible(!lines.isEmpty());
    profileCheck_->setVisible(profile_.has_value());
    if (profile_) {
        const core::ProfileVerdict p = core::profileVerdict(*profile_, overrideProfile_, session_);
        QStringList text{QString::fromStdString(p.heading)};
        for (const std::string& line : p.lines) text << QString::fromStdString(line);
        profileCheck_->setText(text.join("\n"));
        profileCheck_->setStyleSheet(!p.judged  ? QString()
                                     : p.within ? QString("color: #1a7f37")
                                                : QString("color: #c00000; font-weight: bold"));
    }
    adjustment_->setText(
        QString("Adjustment: %1").arg(QString::fromStdString(core::adjustmentText(preview.rig().adjust()))));
    for (QWidget* w : {static_cast<QWidget*>(undo_), static_cast<QWidget*>(reset_)}) {
        w->setEnabled(preview.enabled(controls_.at(w)));
    }
}

void PreviewWindow::setProfile(std::optional<station::StationProfile> profile, bool overrideOutside) {
    profile_ = std::move(profile);
    overrideProfile_ = overrideOutside;
    refreshQuality();
}

QLineEdit* PreviewWindow::addField(PreviewField f, PreviewControl control) {
    auto* e = new QLineEdit;
    e->setObjectName(QString("field%1").arg(static_cast<int>(f)));
    e->setMaximumWidth(dialogUnits(*this, 60, 0).width());
    fields_[f] = e;
    controls_[e] = control;
    connect(e, &QLineEdit::textEdited, this,
            [this, f](const QString& t) { session_.preview().settings().editField(f, t.toStdString()); });
    // Enter applies the field; the window has no default button, so it never closes.
    connect(e, &QLineEdit::returnPressed, this, [this, f] { session_.preview().settings().pressEnter(f); });
    return e;
}

void PreviewWindow::bring() {
    refresh();
    show();
    keepAboveOwner();
    raise();
    activateWindow();
}

void PreviewWindow::keepAboveOwner() {
    // A window manager keeps a transient window above the window it belongs to.
    QWidget* owner = parentWidget();
    if (!owner || !windowHandle() || !owner->window()->windowHandle()) return;
    windowHandle()->setTransientParent(owner->window()->windowHandle());
}

void PreviewWindow::refresh() {
    const core::Preview& preview = session_.preview();
    const core::PreviewFields& v = preview.settings().fields();
    const std::pair<PreviewField, int32_t> values[] = {
        {PreviewField::kMarkerLength, v.markerLength},   {PreviewField::kOverallWidth, v.vehicleWidth},
        {PreviewField::kOverallLength, v.vehicleLength}, {PreviewField::kOverallHeight, v.vehicleHeight},
        {PreviewField::kFrontFov, v.frontFov},           {PreviewField::kRearFov, v.rearFov},
        {PreviewField::kLineWidth, v.lineWidth},         {PreviewField::kBlendWidth, v.blendWidth}};
    for (const auto& [f, value] : values) {
        QLineEdit* e = fields_.at(f);
        if (e->hasFocus() && e->isModified()) continue;  // the operator is typing there
        e->setText(QString::number(value));
    }
    {
        const QSignalBlocker block(maskType_);
        maskType_->setCurrentIndex(std::clamp(v.maskType, 0, 4));
    }
    overlayBlend_->setChecked(v.overlayBlend);
    seamCheck_->setChecked(preview.views().seamCheck());
    colour_->setColour(fromRecord(v.colour));
    if (!lutMajor_->hasFocus()) lutMajor_->setText(QString::number(preview.settings().dataMajor()));
    if (!lutMinor_->hasFocus()) lutMinor_->setText(QString::number(preview.settings().dataMinor()));
    {
        const QSignalBlocker block(viewList_);
        QStringList names;
        for (const std::string& n : preview.views().viewList()) names << QString::fromStdString(n);
        QStringList shown;
        for (int i = 0; i < viewList_->count(); ++i) shown << viewList_->item(i)->text();
        if (names != shown) {
            viewList_->clear();
            viewList_->addItems(names);
        }
        viewList_->setCurrentRow(preview.views().currentEntry());
    }
    for (const auto& [widget, control] : controls_) widget->setEnabled(preview.enabled(control));
    refreshQuality();
    fitToView();
    canvas_->update();
}

}  // namespace mz::gui
