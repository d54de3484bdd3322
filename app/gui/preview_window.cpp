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
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

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
        b->setMinimumWidth(dialogUnits(*this, 30, 0).width());
        moves->addWidget(b, cells[a].y(), cells[a].x());
        connect(b, &QToolButton::clicked, this,
                [this, a] { session_.preview().adjuster().adjust(static_cast<Adjustment>(a)); });
        adjust_[a] = b;
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
            [this](QColor c) { session_.preview().settings().setColour(toRecord(c)); });
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
    auto* panelLayout = new QHBoxLayout(panel);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    for (QWidget* w : {views, moveBox, vehicle}) left->addWidget(w);
    for (QWidget* w : {property, version, parking}) right->addWidget(w);
    left->addStretch();
    right->addStretch();
    panelLayout->addLayout(left);
    panelLayout->addLayout(right);
    auto* scroll = new QScrollArea;
    scroll->setWidget(panel);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(panel->sizeHint().width() + 24);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(canvas_, 1);
    layout->addWidget(scroll);
    resize(dialogUnits(*this, 650, 370));

    connect(&ui_, &QtUi::previewShown, this, &PreviewWindow::bring);
    connect(&ui_, &QtUi::previewViewChanged, canvas_, qOverload<>(&QWidget::update));
    connect(&ui_, &QtUi::previewStateUpdated, this, &PreviewWindow::refresh);
    refresh();
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
    raise();
    activateWindow();
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
    canvas_->update();
}

}  // namespace mz::gui
