#pragma once

#include <QProxyStyle>

class QWidget;

namespace window {

// Draws a focus frame inside the thumb of a focused scroll bar: Qt's styles show nothing
// there, and a keyboard user could not see where the focus is.
class ScrollBarFocusStyle : public QProxyStyle {
  public:
    // A fresh style of the kind `base` names; `base` is not taken over.
    explicit ScrollBarFocusStyle(const QStyle& base);

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
};

// What the keyboard does in `window` as on the design's platform: Enter and Return press
// the focused push button, as Space does, and focused scroll bars show their focus.
void applyKeyboardConventions(QWidget& window);

} // namespace window
