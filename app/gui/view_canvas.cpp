#include "app/gui/view_canvas.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

#include "app/gui/qt_ui.h"
#include "mz/mztypes.h"

namespace mz::gui {

namespace {

constexpr int kHandle = 8;

QDialogButtonBox* okCancel(QDialog& dialog) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return box;
}

QImage wrap(const format::Bitmap& b) {
    return QImage(b.pixels.data(), b.width, b.height, b.stride(), QImage::Format_BGR888);
}

}  // namespace

// ---- Guides ----

GuidesDialog::GuidesDialog(const Guides& g, QWidget* parent)
    : QDialog(parent), show_(new QCheckBox("Show Guides")), lock_(new QCheckBox("Lock Guides")),
      horizontal_(new QSpinBox), vertical_(new QSpinBox) {
    setWindowTitle("Guides");
    show_->setChecked(g.show);
    lock_->setChecked(g.lock);
    for (QSpinBox* s : {horizontal_, vertical_}) s->setRange(2, 1000);
    horizontal_->setValue(g.horizontal);
    vertical_->setValue(g.vertical);
    auto* form = new QFormLayout(this);
    form->addRow(show_);
    form->addRow(lock_);
    form->addRow("Horizontal spacing", horizontal_);
    form->addRow("Vertical spacing", vertical_);
    form->addRow(okCancel(*this));
}

Guides GuidesDialog::guides() const {
    return {show_->isChecked(), lock_->isChecked(), horizontal_->value(), vertical_->value()};
}

// ---- Item properties ----

ItemPropertiesDialog::ItemPropertiesDialog(QtUi& ui, const ItemStyle& style, QWidget* parent)
    : QDialog(parent), style_(style) {
    setWindowTitle("Properties");
    auto* form = new QFormLayout(this);
    auto* lineWidth = new QSpinBox;
    lineWidth->setRange(0, 20);
    lineWidth->setValue(style_.lineWidth);
    connect(lineWidth, &QSpinBox::valueChanged, this, [this](int v) { style_.lineWidth = v; });
    form->addRow("Line width", lineWidth);
    auto colourRow = [&](const char* label, QColor ItemStyle::*member) {
        auto* button = new QPushButton("...");
        connect(button, &QPushButton::clicked, this, [this, &ui, member] {
            QColorDialog dialog(style_.*member, this);
            dialog.setOption(QColorDialog::DontUseNativeDialog);
            if (ui.runDialog(dialog) == QDialog::Accepted) style_.*member = dialog.selectedColor();
        });
        form->addRow(label, button);
    };
    colourRow("Line colour", &ItemStyle::lineColour);
    colourRow("Fill colour", &ItemStyle::fillColour);
    auto* font = new QFontComboBox;
    font->setCurrentFont(QFont(style_.fontName));
    connect(font, &QFontComboBox::currentFontChanged, this, [this](const QFont& f) { style_.fontName = f.family(); });
    form->addRow("Font", font);
    auto* size = new QSpinBox;
    size->setRange(4, 72);
    size->setValue(style_.fontSize);
    connect(size, &QSpinBox::valueChanged, this, [this](int v) { style_.fontSize = v; });
    form->addRow("Size", size);
    colourRow("Font colour", &ItemStyle::fontColour);
    form->addRow(okCancel(*this));
}

// ---- Canvas ----

ViewCanvas::ViewCanvas(core::Session& session, QtUi& ui, QWidget* parent)
    : QWidget(parent), session_(session), ui_(ui) {
    setObjectName("viewCanvas");
    setMinimumSize(320, 240);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QRect ViewCanvas::viewRect() const {
    int w = 0, h = 0;
    session_.preview().views().output(w, h);
    if (w <= 0 || h <= 0) return {};
    const QSize fitted = QSize(w, h).scaled(size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), fitted);
    r.moveCenter(rect().center());
    return r;
}

QPointF ViewCanvas::toView(QPointF c) const {
    int w = 0, h = 0;
    session_.preview().views().output(w, h);
    const QRect r = viewRect();
    if (r.isEmpty()) return {};
    return {(c.x() - r.left()) * w / r.width(), (c.y() - r.top()) * h / r.height()};
}

QPointF ViewCanvas::toCanvas(QPointF v) const {
    int w = 0, h = 0;
    session_.preview().views().output(w, h);
    const QRect r = viewRect();
    if (r.isEmpty() || w <= 0 || h <= 0) return {};
    return {r.left() + v.x() * r.width() / w, r.top() + v.y() * r.height() / h};
}

QRect ViewCanvas::itemRect() const {
    const auto& car = session_.preview().car().placed();
    if (!car) return {};
    return QRectF(toCanvas(QPointF(car->left, car->top)),
                  toCanvas(QPointF(car->left + car->width, car->top + car->height)))
        .toRect();
}

QRect ViewCanvas::handleRect() const {
    const QRect item = itemRect();
    return QRect(item.bottomRight() - QPoint(kHandle / 2, kHandle / 2), QSize(kHandle, kHandle));
}

void ViewCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0x28, 0x2a, 0x2e));
    const core::Preview& preview = session_.preview();
    int w = 0, h = 0;
    const std::span<const uint8_t> pixels = preview.views().output(w, h);
    const QRect target = viewRect();
    const int stride = MZ_ROW_STRIDE24(w);
    if (preview.views().currentEntry() < 0 || !preview.views().context().imagesPresent || target.isEmpty() ||
        pixels.size() < static_cast<size_t>(stride) * h) {
        p.setPen(QColor(0x90, 0x96, 0xa0));
        p.drawText(rect(), Qt::AlignCenter, "No view yet: \"Apply AVM\" builds it");
        return;
    }
    const QImage image(pixels.data(), w, h, stride, QImage::Format_BGR888);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, image);
    if (guides_.show) {
        p.setPen(QPen(QColor(0, 200, 255, 120), 1, Qt::DashLine));
        for (int x = 0; x < w; x += guides_.horizontal)
            p.drawLine(toCanvas({double(x), 0}), toCanvas({double(x), double(h)}));
        for (int y = 0; y < h; y += guides_.vertical)
            p.drawLine(toCanvas({0, double(y)}), toCanvas({double(w), double(y)}));
    }
    const auto& car = preview.car().placed();
    if (car && !car->picture.pixels.empty()) {
        const QRect item = itemRect();
        p.fillRect(item, style_.fillColour);
        p.drawImage(item, wrap(car->picture));
        if (style_.lineWidth > 0) {
            p.setPen(QPen(style_.lineColour, style_.lineWidth));
            p.setBrush(Qt::NoBrush);
            p.drawRect(item);
        }
        if (selected_) {
            p.setPen(QPen(Qt::white, 1, Qt::DashLine));
            p.drawRect(item.adjusted(-2, -2, 2, 2));
            p.fillRect(handleRect(), Qt::white);
        }
    }
}

int ViewCanvas::snap(int value, int spacing) const {
    if (!guides_.lock || spacing <= 0) return value;
    return static_cast<int>(std::lround(static_cast<double>(value) / spacing)) * spacing;
}

void ViewCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const auto& car = session_.preview().car().placed();
    const QPoint at = event->position().toPoint();
    grab_ = Grab::kNone;
    if (session_.preview().views().bowlShown()) {
        if (event->button() == Qt::LeftButton && viewRect().contains(at)) {
            grab_ = Grab::kOrbit;
            orbitFrom_ = event->position();
            setCursor(Qt::ClosedHandCursor);
        }
        return;
    }
    selected_ = car && (itemRect().contains(at) || handleRect().contains(at));
    if (selected_ && event->button() == Qt::LeftButton) {
        grab_ = handleRect().contains(at) ? Grab::kResize : Grab::kMove;
        grabStart_ = toView(event->position());
        grabRect_ = QRect(car->left, car->top, car->width, car->height);
    }
    update();
}

void ViewCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (grab_ == Grab::kOrbit) {
        // In the full picture's pixels, whatever size the drafts are drawn at.
        const QPointF d = (event->position() - orbitFrom_) * core::kBowlPreviewWidth / std::max(viewRect().width(), 1);
        orbitFrom_ = event->position();
        session_.preview().orbitBowl(d.x(), d.y(), true);
        return;
    }
    if (session_.preview().views().bowlShown()) {
        setCursor(Qt::OpenHandCursor);
        return;
    }
    if (grab_ == Grab::kNone) {
        const bool onHandle = selected_ && handleRect().contains(event->position().toPoint());
        setCursor(onHandle ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
        return;
    }
    const QPointF d = toView(event->position()) - grabStart_;
    QRect r = grabRect_;
    if (grab_ == Grab::kMove) {
        r.moveTo(snap(grabRect_.left() + static_cast<int>(std::lround(d.x())), guides_.horizontal),
                 snap(grabRect_.top() + static_cast<int>(std::lround(d.y())), guides_.vertical));
    } else {
        r.setWidth(std::max(1, snap(grabRect_.width() + static_cast<int>(std::lround(d.x())), guides_.horizontal)));
        r.setHeight(std::max(1, snap(grabRect_.height() + static_cast<int>(std::lround(d.y())), guides_.vertical)));
    }
    session_.preview().car().place(r.left(), r.top(), r.width(), r.height());
    update();
}

void ViewCanvas::mouseReleaseEvent(QMouseEvent*) {
    // The drag's end is drawn at the full size.
    if (grab_ == Grab::kOrbit) {
        session_.preview().orbitBowl(0, 0, false);
        setCursor(Qt::OpenHandCursor);
    }
    grab_ = Grab::kNone;
}

void ViewCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!session_.preview().car().placed() || !itemRect().contains(event->position().toPoint())) return;
    ItemPropertiesDialog dialog(ui_, style_, this);
    if (ui_.runDialog(dialog) == QDialog::Accepted) style_ = dialog.style();
    update();
}

void ViewCanvas::deleteSelected() {
    if (!selected_) return;
    selected_ = false;
    session_.preview().car().remove();
    update();
}

void ViewCanvas::editGuides() {
    GuidesDialog dialog(guides_, this);
    if (ui_.runDialog(dialog) == QDialog::Accepted) guides_ = dialog.guides();
    update();
}

void ViewCanvas::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* remove = menu.addAction("Delete", this, &ViewCanvas::deleteSelected);
    remove->setEnabled(selected_);
    menu.addAction("Guide...", this, &ViewCanvas::editGuides);
    menu.exec(event->globalPos());
}

}  // namespace mz::gui
