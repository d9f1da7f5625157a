// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProxyStyle>

class QWidget;

namespace window {

// A dotted focus frame, as the platform's focus rectangle looks, where Qt's styles show
// none (inside a scroll bar's thumb) or one too faint to see (Fusion's on our yellow, or
// on a text box in a dark scheme).
class FocusStyle : public QProxyStyle {
  public:
    // A fresh style of the kind `base` names; `base` is not taken over.
    explicit FocusStyle(const QStyle& base);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
};

// What the keyboard does in `window` as on the design's platform: Enter and Return press
// the focused push button, as Space does, and every control that can take the focus shows
// it plainly.
void applyKeyboardConventions(QWidget& window);

} // namespace window
