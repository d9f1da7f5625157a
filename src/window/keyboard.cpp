// SPDX-License-Identifier: GPL-3.0-or-later
#include "keyboard.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOption>
#include <QWidget>

namespace window {

namespace {
// One pixel, dotted, in a colour that already reads on what lies beneath it.
void drawFocusFrame(QPainter& painter, const QRect& rect, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(color, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}
} // namespace

FocusStyle::FocusStyle(const QStyle& base) : QProxyStyle(base.name()) {}

void FocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    if (element == PE_FrameFocusRect && qobject_cast<const QCheckBox*>(widget)) {
        // Shown when Fusion would show its own: once the keyboard has moved the focus.
        if (option->state & State_KeyboardFocusChange)
            drawFocusFrame(*painter, option->rect, option->palette.color(QPalette::WindowText));
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_FrameLineEdit && (option->state & State_HasFocus))
        drawFocusFrame(*painter, option->rect.adjusted(3, 3, -3, -3),
                       option->palette.color(QPalette::Text));
}

void FocusStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control != CC_ScrollBar || !option || !(option->state & State_HasFocus))
        return;
    const QRect thumb =
        subControlRect(control, option, SC_ScrollBarSlider, widget).adjusted(2, 2, -2, -2);
    if (!thumb.isEmpty())
        drawFocusFrame(*painter, thumb, option->palette.color(QPalette::WindowText));
}

void applyKeyboardConventions(QWidget& window) {
    // Outside dialogs, Qt presses a focused button on Enter only when it is auto-default.
    for (QPushButton* button : window.findChildren<QPushButton*>())
        button->setAutoDefault(true);
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!qobject_cast<QScrollBar*>(w) && !qobject_cast<QCheckBox*>(w) &&
            !qobject_cast<QLineEdit*>(w))
            continue;
        auto* style = new FocusStyle(*w->style());
        style->setParent(w);
        w->setStyle(style);
    }
}

} // namespace window
