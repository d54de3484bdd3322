// The preview's canvas: the current view output scaled into it, and the car picture while the
// operator places it (select, move, resize), with optional guides. On the bowl view a drag walks
// the eye around the vehicle.
#pragma once

#include <QColor>
#include <QDialog>
#include <QRect>
#include <QWidget>

#include "app/core/session.h"

class QCheckBox;
class QSpinBox;

namespace mz::gui {

class QtUi;

struct Guides {
    bool show = false;
    bool lock = false;  // placed pictures snap to the guides
    int horizontal = 50;
    int vertical = 50;
};

struct ItemStyle {
    int lineWidth = 1;
    QColor lineColour = QColor(255, 0, 0);
    QColor fillColour = Qt::transparent;
    QString fontName = "Arial";
    int fontSize = 10;
    QColor fontColour = Qt::black;
};

// "Guides": show and lock them, and their spacing in view pixels.
class GuidesDialog : public QDialog {
    Q_OBJECT
public:
    GuidesDialog(const Guides& guides, QWidget* parent = nullptr);
    Guides guides() const;

private:
    QCheckBox* show_;
    QCheckBox* lock_;
    QSpinBox* horizontal_;
    QSpinBox* vertical_;
};

// The properties of a canvas item: its frame, fill and label font.
class ItemPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    ItemPropertiesDialog(QtUi& ui, const ItemStyle& style, QWidget* parent = nullptr);
    ItemStyle style() const { return style_; }

private:
    ItemStyle style_;
};

class ViewCanvas : public QWidget {
    Q_OBJECT
public:
    ViewCanvas(core::Session& session, QtUi& ui, QWidget* parent = nullptr);

    // Where the view's pixels land on the canvas.
    QRect viewRect() const;
    QPointF toView(QPointF canvas) const;
    QPointF toCanvas(QPointF view) const;
    bool itemSelected() const { return selected_; }
    void deleteSelected();
    void editGuides();
    const Guides& guides() const { return guides_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Grab { kNone, kMove, kResize, kOrbit };
    QRect itemRect() const;  // canvas pixels
    QRect handleRect() const;
    int snap(int value, int spacing) const;

    core::Session& session_;
    QtUi& ui_;
    Guides guides_;
    ItemStyle style_;
    bool selected_ = false;
    Grab grab_ = Grab::kNone;
    QPointF grabStart_;
    QRect grabRect_;     // view pixels at the grab
    QPointF orbitFrom_;  // canvas pixels, where the last frame of an orbit drag was drawn
};

}  // namespace mz::gui
