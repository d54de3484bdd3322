// One camera's picture with the operator's marker triangles. Mouse and keys go to the session's
// marker model; the view draws whatever the session holds.
#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

#include "app/core/session.h"

namespace mz::gui {

inline constexpr int kMagnifierSize = 100;
inline constexpr int kMagnifiedPixels = 21;

class ImageView : public QWidget {
    Q_OBJECT
public:
    ImageView(core::Session& session, int camera, QWidget* parent = nullptr);

    int camera() const { return camera_; }
    // Image pixels from widget pixels and back, by the ratio of the two sizes.
    Point2F toImage(QPointF widget) const;
    QPointF toWidget(Point2F image) const;
    // Where the picture is drawn: its own shape, as large as the view allows.
    QRectF pictureRect() const;
    // Where the magnifier was drawn last; empty when it was not.
    QRect magnifierRect() const { return magnifier_; }

Q_SIGNALS:
    void doubleClicked(int camera);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void paintMarkers(QPainter& p, const core::ImageViewState& view);
    void paintCornerPosition(QPainter& p, const core::ImageViewState& view);
    void paintLostNotes(QPainter& p, const core::ImageViewState& view);
    void paintMagnifier(QPainter& p, const QImage& image, const core::ImageViewState& view);

    core::Session& session_;
    int camera_;
    QSize imageSize_;
    QPoint pointer_{-1, -1};
    QRect magnifier_;
};

}  // namespace mz::gui
