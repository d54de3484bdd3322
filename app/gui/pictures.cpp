#include "app/gui/pictures.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QPixmap>

namespace mz::gui {

namespace {

constexpr const char* kButtonLabels[5] = {"Config Load", "Image Load", "Apply AVM", "Save LUT", "Exit"};

// Blue until a step is open, amber when it is the next thing to do, green once done.
QColor lookColour(core::Button button, core::ButtonLook look) {
    if (button == core::Button::kExit) return QColor(0x7a, 0x80, 0x8c);
    switch (look) {
    case core::ButtonLook::kReady: return QColor(0xe0, 0x96, 0x1e);
    case core::ButtonLook::kDone: return QColor(0x3c, 0x9a, 0x4e);
    case core::ButtonLook::kInitial: break;
    }
    return QColor(0x3a, 0x6e, 0xb4);
}

void paintGlyph(QPainter& p, const QRectF& g, core::Button button) {
    p.setPen(QPen(Qt::white, std::max(1.5, g.width() / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const double w = g.width(), h = g.height();
    switch (button) {
    case core::Button::kConfigLoad: {  // a sheet with a folded corner and lines
        QPainterPath sheet;
        sheet.moveTo(g.left() + w * 0.2, g.top());
        sheet.lineTo(g.left() + w * 0.6, g.top());
        sheet.lineTo(g.left() + w * 0.8, g.top() + h * 0.22);
        sheet.lineTo(g.left() + w * 0.8, g.bottom());
        sheet.lineTo(g.left() + w * 0.2, g.bottom());
        sheet.closeSubpath();
        p.drawPath(sheet);
        for (int i = 1; i <= 3; ++i) {
            const double y = g.top() + h * (0.3 + 0.18 * i);
            p.drawLine(QPointF(g.left() + w * 0.32, y), QPointF(g.left() + w * 0.68, y));
        }
        break;
    }
    case core::Button::kImageLoad: {  // a camera
        p.drawRoundedRect(QRectF(g.left(), g.top() + h * 0.25, w, h * 0.65), w * 0.08, w * 0.08);
        p.drawRect(QRectF(g.left() + w * 0.3, g.top() + h * 0.1, w * 0.3, h * 0.15));
        p.drawEllipse(QPointF(g.center().x(), g.top() + h * 0.58), w * 0.2, w * 0.2);
        break;
    }
    case core::Button::kApplyAvm: {  // a car from above inside its view
        p.drawRect(g.adjusted(w * 0.02, h * 0.02, -w * 0.02, -h * 0.02));
        p.drawRoundedRect(QRectF(g.center().x() - w * 0.16, g.top() + h * 0.2, w * 0.32, h * 0.6), w * 0.08, w * 0.08);
        p.drawLine(QPointF(g.left(), g.top()), QPointF(g.center().x() - w * 0.16, g.top() + h * 0.2));
        p.drawLine(QPointF(g.right(), g.top()), QPointF(g.center().x() + w * 0.16, g.top() + h * 0.2));
        p.drawLine(QPointF(g.left(), g.bottom()), QPointF(g.center().x() - w * 0.16, g.top() + h * 0.8));
        p.drawLine(QPointF(g.right(), g.bottom()), QPointF(g.center().x() + w * 0.16, g.top() + h * 0.8));
        break;
    }
    case core::Button::kSaveLut: {  // a memory card
        QPainterPath card;
        card.moveTo(g.left() + w * 0.15, g.top());
        card.lineTo(g.left() + w * 0.65, g.top());
        card.lineTo(g.left() + w * 0.85, g.top() + h * 0.2);
        card.lineTo(g.left() + w * 0.85, g.bottom());
        card.lineTo(g.left() + w * 0.15, g.bottom());
        card.closeSubpath();
        p.drawPath(card);
        for (int i = 0; i < 4; ++i) {
            const double x = g.left() + w * (0.28 + 0.12 * i);
            p.drawLine(QPointF(x, g.top() + h * 0.12), QPointF(x, g.top() + h * 0.32));
        }
        p.drawLine(QPointF(g.center().x(), g.top() + h * 0.45), QPointF(g.center().x(), g.top() + h * 0.85));
        p.drawLine(QPointF(g.center().x() - w * 0.15, g.top() + h * 0.7), QPointF(g.center().x(), g.top() + h * 0.85));
        p.drawLine(QPointF(g.center().x() + w * 0.15, g.top() + h * 0.7), QPointF(g.center().x(), g.top() + h * 0.85));
        break;
    }
    case core::Button::kExit: {  // a door and an arrow out
        p.drawRect(QRectF(g.left() + w * 0.1, g.top(), w * 0.45, h));
        p.drawLine(QPointF(g.left() + w * 0.4, g.center().y()), QPointF(g.right(), g.center().y()));
        p.drawLine(QPointF(g.right() - w * 0.18, g.center().y() - h * 0.15), QPointF(g.right(), g.center().y()));
        p.drawLine(QPointF(g.right() - w * 0.18, g.center().y() + h * 0.15), QPointF(g.right(), g.center().y()));
        break;
    }
    }
}

}  // namespace

void paintButtonPicture(QPainter& p, const QRect& r, core::Button button, core::ButtonLook look, bool pressed,
                        bool focused) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = lookColour(button, look);
    const QRectF box = QRectF(r).adjusted(2, 2, -2, -2).translated(pressed ? 1 : 0, pressed ? 1 : 0);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, pressed ? base.darker(130) : base.lighter(135));
    fill.setColorAt(1, pressed ? base.darker(105) : base.darker(115));
    p.setPen(QPen(focused ? QColor(0x20, 0x20, 0x20) : base.darker(160), focused ? 2 : 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 6, 6);
    const double side = std::min(box.width() * 0.42, box.height() * 0.5);
    const QRectF glyph(box.center().x() - side / 2, box.top() + box.height() * 0.1, side, side);
    paintGlyph(p, glyph, button);
    if (look == core::ButtonLook::kDone && button != core::Button::kExit) {
        p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF c = box.topRight() + QPointF(-box.width() * 0.14, box.height() * 0.16);
        p.drawLine(c + QPointF(-6, 0), c + QPointF(-2, 4));
        p.drawLine(c + QPointF(-2, 4), c + QPointF(6, -5));
    }
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(box.left(), glyph.bottom(), box.width(), box.bottom() - glyph.bottom()), Qt::AlignCenter,
               kButtonLabels[static_cast<int>(button)]);
    p.restore();
}

void paintBackground(QPainter& p, const QRect& r) {
    p.fillRect(r, QColor(kBackgroundColour));
    // A faint floor grid: the bay the cameras look at.
    p.save();
    p.setPen(QPen(QColor(0xd0, 0xd0, 0xd4), 1));
    for (int x = r.left(); x < r.right(); x += 24) p.drawLine(x, r.top(), x, r.bottom());
    for (int y = r.top(); y < r.bottom(); y += 24) p.drawLine(r.left(), y, r.right(), y);
    p.restore();
}

void paintPlaceholder(QPainter& p, const QRect& r, const QString& caption) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(r, QColor(0x30, 0x34, 0x3a));
    p.setPen(QPen(QColor(0x70, 0x76, 0x80), 2));
    const double s = std::min(r.width(), r.height()) * 0.25;
    const QPointF c = QRectF(r).center();
    p.drawRoundedRect(QRectF(c.x() - s, c.y() - s * 0.6, 2 * s, 1.3 * s), 6, 6);
    p.drawEllipse(c + QPointF(0, 0.05 * s), s * 0.4, s * 0.4);
    p.drawText(QRectF(r.left(), c.y() + s * 0.8, r.width(), s), Qt::AlignHCenter | Qt::AlignTop,
               caption + "\nno picture loaded");
    p.restore();
}

void paintCaption(QPainter& p, const QRect& view, const QString& caption) {
    p.save();
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);
    const QFontMetrics m(font);
    QRect box(0, 0, m.horizontalAdvance(caption) + 16, m.height() + 6);
    box.moveCenter(QPoint(view.center().x(), view.top() + 4 + box.height() / 2));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 150));
    p.drawRoundedRect(box, 5, 5);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, caption);
    p.restore();
}

QIcon adjustmentIcon(core::Adjustment adjustment) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2a, 0x4a, 0x7a), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    auto arrow = [&p](double angle) {
        p.save();
        p.translate(16, 16);
        p.rotate(angle);
        p.drawLine(QPointF(0, 11), QPointF(0, -11));
        p.drawLine(QPointF(-7, -4), QPointF(0, -11));
        p.drawLine(QPointF(7, -4), QPointF(0, -11));
        p.restore();
    };
    switch (adjustment) {
    case core::Adjustment::kUp: arrow(0); break;
    case core::Adjustment::kDown: arrow(180); break;
    case core::Adjustment::kLeft: arrow(-90); break;
    case core::Adjustment::kRight: arrow(90); break;
    case core::Adjustment::kZoomIn:
    case core::Adjustment::kZoomOut:
        p.drawEllipse(QPointF(13, 13), 9, 9);
        p.drawLine(QPointF(20, 20), QPointF(29, 29));
        p.drawLine(QPointF(8, 13), QPointF(18, 13));
        if (adjustment == core::Adjustment::kZoomIn) p.drawLine(QPointF(13, 8), QPointF(13, 18));
        break;
    case core::Adjustment::kRotatePlus:
    case core::Adjustment::kRotateMinus: {
        const bool plus = adjustment == core::Adjustment::kRotatePlus;
        p.drawArc(QRectF(5, 5, 22, 22), plus ? 90 * 16 : 90 * 16, plus ? 270 * 16 : -270 * 16);
        const QPointF end = plus ? QPointF(27, 16) : QPointF(5, 16);
        p.drawLine(end, end + QPointF(-5, -5));
        p.drawLine(end, end + QPointF(5, -5));
        break;
    }
    }
    return QIcon(pixmap);
}

}  // namespace mz::gui
