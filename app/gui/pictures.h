// The program's own pictures, painted: the workflow buttons in their looks, the main window's
// background, the placeholder of an empty camera frame, the caption of an image view and the
// icons of the preview's adjustment buttons.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QRect>
#include <QString>

#include "app/core/preview_context.h"
#include "app/core/ui.h"

namespace mz::gui {

inline constexpr QRgb kBackgroundColour = 0xDCDCDC;

void paintButtonPicture(QPainter& p, const QRect& r, core::Button button, core::ButtonLook look, bool pressed,
                        bool focused);
void paintBackground(QPainter& p, const QRect& r);
void paintPlaceholder(QPainter& p, const QRect& r, const QString& caption);
void paintCaption(QPainter& p, const QRect& view, const QString& caption);
QIcon adjustmentIcon(core::Adjustment adjustment);

}  // namespace mz::gui
