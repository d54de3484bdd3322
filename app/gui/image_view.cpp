#include "app/gui/image_view.h"

#include <algorithm>
#include <cmath>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/gui/pictures.h"

namespace mz::gui {

namespace {

// The picture as the libraries hold it (top row first, padded rows), without a copy of the pixels.
QImage wrap(const format::Bitmap& image) {
    return QImage(image.pixels.data(), image.width, image.height, image.stride(), QImage::Format_BGR888);
}

}  // namespace

ImageView::ImageView(core::Session& session, int camera, QWidget* parent)
    : QWidget(parent), session_(session), camera_(camera) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(160, 110);
    setObjectName(QString("imageView%1").arg(camera));
}

QRectF ImageView::pictureRect() const {
    if (imageSize_.isEmpty() || width() <= 0 || height() <= 0) return QRectF(rect());
    // The picture keeps its shape: one scale for both axes, centred in the view.
    const double scale = std::min(width() / double(imageSize_.width()), height() / double(imageSize_.height()));
    QRectF r(0, 0, imageSize_.width() * scale, imageSize_.height() * scale);
    r.moveCenter(QRectF(rect()).center());
    return r;
}

Point2F ImageView::toImage(QPointF w) const {
    const QRectF r = pictureRect();
    if (imageSize_.isEmpty() || r.width() <= 0 || r.height() <= 0) return {0, 0};
    return {static_cast<float>((w.x() - r.left()) * imageSize_.width() / r.width()),
            static_cast<float>((w.y() - r.top()) * imageSize_.height() / r.height())};
}

QPointF ImageView::toWidget(Point2F i) const {
    if (imageSize_.isEmpty()) return {0, 0};
    const QRectF r = pictureRect();
    return {r.left() + i.x * r.width() / imageSize_.width(), r.top() + i.y * r.height() / imageSize_.height()};
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const core::ImageViewState view = session_.markers().imageView(camera_);
    magnifier_ = QRect();
    if (view.image.pixels.empty() || view.image.width <= 0 || view.image.height <= 0) {
        imageSize_ = QSize();
        paintPlaceholder(p, rect(), QString::fromStdString(view.caption));
        return;
    }
    imageSize_ = QSize(view.image.width, view.image.height);
    const QImage image = wrap(view.image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.fillRect(rect(), Qt::black);
    p.drawImage(pictureRect(), image);
    paintMarkers(p, view);
    paintCaption(p, rect(), QString::fromStdString(view.caption));
    paintCornerPosition(p, view);
    if (hasFocus()) {
        p.setPen(QPen(QColor(0x3a, 0x6e, 0xb4), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(1, 1, -1, -1));
    }
    paintMagnifier(p, image, view);
}

void ImageView::paintMarkers(QPainter& p, const core::ImageViewState& view) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QFont font("Arial");
    font.setBold(true);
    // 20 points on the picture at its own size; the view may show it smaller.
    font.setPointSizeF(std::max(6.0, 20.0 * pictureRect().width() / std::max(1, imageSize_.width())));
    p.setFont(font);
    const QFontMetrics metrics(font);
    for (int t = 0; t < 2; ++t) {
        const core::Triangle& tri = view.triangles[t];
        QPolygonF outline;
        for (const Point2F& v : tri) outline << toWidget(v);
        const bool lost = view.stillLost(t);
        p.setPen(lost ? QPen(QColor(230, 0, 0), 3, Qt::DashLine) : QPen(QColor(0, 0, 255), 1));
        p.setBrush(lost ? QColor(230, 0, 0, 60) : QColor(Qt::transparent));
        p.drawPolygon(outline);
        const QPointF centre = (outline[0] + outline[1] + outline[2]) / 3.0;
        for (int v = 0; v < 3; ++v) {
            const QPointF c = outline[v];
            const bool dragged = view.dragging && view.currentTriangle == t && view.selectedVertex == v;
            p.setPen(QPen(dragged ? QColor(255, 0, 0) : QColor(255, 255, 0), dragged ? 2 : 1));
            p.drawLine(c + QPointF(-10, 0), c + QPointF(10, 0));
            p.drawLine(c + QPointF(0, -10), c + QPointF(0, 10));
            const QString label = QString::number(3 * t + v + 1);
            QRectF box(0, 0, metrics.horizontalAdvance(label) + 6, metrics.height());
            // Outward from the triangle's middle, past the cross, so no label covers a corner.
            QPointF away = c - centre;
            const double length = std::hypot(away.x(), away.y());
            away = length > 1e-6 ? away / length : QPointF(0.7, -0.7);
            const double reach = 14 + 0.5 * std::hypot(box.width(), box.height());
            box.moveCenter(c + away * reach);
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(255, 255, 255, 200));
            p.drawRect(box);
            p.drawText(box, Qt::AlignCenter, label);
        }
    }
    paintLostNotes(p, view);
    p.restore();
}

void ImageView::paintCornerPosition(QPainter& p, const core::ImageViewState& view) {
    const QString text = QString::fromStdString(core::selectedCornerText(view));
    if (text.isEmpty()) return;
    p.save();
    const QFontMetrics metrics(p.font());
    QRectF box(0, 0, metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
    box.moveTopRight(QPointF(width() - 4, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 160));
    p.drawRect(box);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, text);
    p.restore();
}

void ImageView::paintLostNotes(QPainter& p, const core::ImageViewState& view) {
    QFont font = p.font();
    font.setPointSizeF(std::clamp(height() / 28.0, 7.0, 12.0));
    p.setFont(font);
    const QFontMetrics metrics(font);
    int line = 0;
    for (int t = 0; t < 2; ++t) {
        if (!view.stillLost(t)) continue;
        const QString note = QString::fromStdString(core::lostTriangleNote(t));
        QRectF box(0, 0, std::min<double>(width() - 8, metrics.horizontalAdvance(note) + 10), metrics.height() + 4);
        box.moveBottomLeft(QPointF(4, height() - 4 - line++ * (box.height() + 2)));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 0, 0, 220));
        p.drawRect(box);
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, metrics.elidedText(note, Qt::ElideRight, static_cast<int>(box.width()) - 6));
    }
}

void ImageView::paintMagnifier(QPainter& p, const QImage& image, const core::ImageViewState& view) {
    int t = -1, v = -1;
    if (view.dragging && view.currentTriangle >= 0 && view.selectedVertex >= 0) {
        t = view.currentTriangle;
        v = view.selectedVertex;
    } else if (view.highlightedTriangle >= 0 && view.highlightedVertex >= 0) {
        t = view.highlightedTriangle;
        v = view.highlightedVertex;
    }
    if (t < 0 || v < 0 || pointer_.x() < 0) return;
    const Point2F centre = view.triangles[t][v];
    const int half = kMagnifiedPixels / 2;
    const QRect source(static_cast<int>(std::floor(centre.x)) - half, static_cast<int>(std::floor(centre.y)) - half,
                       kMagnifiedPixels, kMagnifiedPixels);
    // Beside the pointer, or on its other side when the view would cut it off.
    QRect box(pointer_ + QPoint(16, 16), QSize(kMagnifierSize, kMagnifierSize));
    if (box.right() >= width()) box.moveRight(pointer_.x() - 16);
    if (box.bottom() >= height()) box.moveBottom(pointer_.y() - 16);
    p.save();
    p.fillRect(box, Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(box, image.copy(source));  // pixels outside the picture come out black
    const double cell = static_cast<double>(kMagnifierSize) / kMagnifiedPixels;
    const QPointF mark =
        QPointF(box.topLeft()) + QPointF((centre.x - source.x()) * cell, (centre.y - source.y()) * cell);
    p.setPen(QPen(view.dragging ? QColor(255, 0, 0) : QColor(255, 255, 0), 1));
    p.drawLine(mark + QPointF(-cell * 3, 0), mark + QPointF(cell * 3, 0));
    p.drawLine(mark + QPointF(0, -cell * 3), mark + QPointF(0, cell * 3));
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box);
    p.restore();
    magnifier_ = box;
}

void ImageView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || imageSize_.isEmpty()) return;
    pointer_ = event->position().toPoint();
    session_.markers().pointerDown(camera_, toImage(event->position()));
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    if (imageSize_.isEmpty()) return;
    pointer_ = event->position().toPoint();
    session_.markers().pointerMove(camera_, toImage(event->position()));
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || imageSize_.isEmpty()) return;
    session_.markers().pointerUp(camera_);
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT doubleClicked(camera_);
}

void ImageView::leaveEvent(QEvent*) {
    pointer_ = {-1, -1};
    update();
}

void ImageView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up: session_.markers().arrowKey(camera_, core::ArrowKey::kUp); return;
    case Qt::Key_Down: session_.markers().arrowKey(camera_, core::ArrowKey::kDown); return;
    case Qt::Key_Left: session_.markers().arrowKey(camera_, core::ArrowKey::kLeft); return;
    case Qt::Key_Right: session_.markers().arrowKey(camera_, core::ArrowKey::kRight); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: return;  // the view keeps them: no default button fires from here
    default: QWidget::keyPressEvent(event);
    }
}

}  // namespace mz::gui
