#include "app/gui/colour_button.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace mz::gui {

namespace {

constexpr QRgb kPalette[40] = {0x000000, 0x993300, 0x333300, 0x003300, 0x003366, 0x000080, 0x333399, 0x333333,
                               0x800000, 0xFF6600, 0x808000, 0x008000, 0x008080, 0x0000FF, 0x666699, 0x808080,
                               0xFF0000, 0xFF9900, 0x99CC00, 0x339966, 0x33CCCC, 0x3366FF, 0x800080, 0x999999,
                               0xFF00FF, 0xFFCC00, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x00CCFF, 0x993366, 0xC0C0C0,
                               0xFF99CC, 0xFFCC99, 0xFFFF99, 0xCCFFCC, 0xCCFFFF, 0x99CCFF, 0xCC99FF, 0xFFFFFF};

QIcon swatch(QColor colour) {
    QPixmap p(16, 16);
    p.fill(colour);
    return QIcon(p);
}

}  // namespace

ColourButton::ColourButton(QColor defaultColour, std::function<int(QDialog&)> runDialog, QWidget* parent)
    : QPushButton(parent), colour_(defaultColour), default_(defaultColour), runDialog_(std::move(runDialog)) {
    setMinimumWidth(60);
    connect(this, &QPushButton::clicked, this, [this] { openPalette(); });
}

void ColourButton::setColour(QColor colour) {
    colour_ = colour;
    update();
}

void ColourButton::choose(QColor colour) {
    setColour(colour);
    Q_EMIT colourChosen(colour);
}

ColourPopup* ColourButton::openPalette() {
    auto* popup = new ColourPopup(*this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->move(mapToGlobal(rect().bottomLeft()));
    popup->show();
    return popup;
}

void ColourButton::moreColours() {
    QColorDialog dialog(colour_, this);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (runDialog_(dialog) == QDialog::Accepted) choose(dialog.selectedColor());
}

void ColourButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    QPainter p(this);
    const QRect r = rect().adjusted(6, 6, -6, -6);
    p.fillRect(r, isEnabled() ? colour_ : colour_.lighter(160));
    p.setPen(Qt::darkGray);
    p.drawRect(r);
}

ColourPopup::ColourPopup(ColourButton& owner) : QFrame(&owner, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    auto* automatic = new QToolButton;
    automatic->setText("Automatic / Default color");
    automatic->setObjectName("defaultColour");
    automatic->setIcon(swatch(owner.default_));
    automatic->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layout->addWidget(automatic);
    connect(automatic, &QToolButton::clicked, this, [this, &owner] {
        owner.choose(owner.default_);
        close();
    });
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    for (int i = 0; i < 40; ++i) {
        auto* cell = new QToolButton;
        const QColor colour(kPalette[i]);
        cell->setIcon(swatch(colour));
        cell->setObjectName(QString("swatch%1").arg(i));
        cell->setAutoRaise(true);
        grid->addWidget(cell, i / 8, i % 8);
        connect(cell, &QToolButton::clicked, this, [this, &owner, colour] {
            owner.choose(colour);
            close();
        });
    }
    layout->addLayout(grid);
    auto* more = new QToolButton;
    more->setText("More colors...");
    more->setObjectName("moreColours");
    layout->addWidget(more);
    connect(more, &QToolButton::clicked, this, [this, &owner] {
        close();
        owner.moreColours();
    });
}

}  // namespace mz::gui
