// A button showing a colour; a click opens a palette with "Default color" and "More colors...".
#pragma once

#include <QColor>
#include <QFrame>
#include <QPushButton>

#include <functional>

class QColorDialog;
class QDialog;

namespace mz::gui {

class ColourPopup;

class ColourButton : public QPushButton {
    Q_OBJECT
public:
    // `runDialog` runs the colour dialog of "More colors..." (tests answer it in place).
    ColourButton(QColor defaultColour, std::function<int(QDialog&)> runDialog, QWidget* parent = nullptr);
    QColor colour() const { return colour_; }
    void setColour(QColor colour);
    // The palette as it opens on a click.
    ColourPopup* openPalette();

Q_SIGNALS:
    void colourChosen(QColor colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void choose(QColor colour);
    void moreColours();

    QColor colour_;
    QColor default_;
    std::function<int(QDialog&)> runDialog_;
    friend class ColourPopup;
};

class ColourPopup : public QFrame {
    Q_OBJECT
public:
    ColourPopup(ColourButton& owner);
};

}  // namespace mz::gui
