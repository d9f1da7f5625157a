#include "keyboard.h"

#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOption>
#include <QWidget>

namespace window {

ScrollBarFocusStyle::ScrollBarFocusStyle(const QStyle& base) : QProxyStyle(base.name()) {}

void ScrollBarFocusStyle::drawComplexControl(ComplexControl control,
                                             const QStyleOptionComplex* option, QPainter* painter,
                                             const QWidget* widget) const {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control != CC_ScrollBar || !option || !(option->state & State_HasFocus))
        return;
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(*option);
    focus.rect = subControlRect(control, option, SC_ScrollBarSlider, widget).adjusted(2, 2, -2, -2);
    if (focus.rect.isEmpty())
        return;
    // A dotted frame in the text colour, as the platform's focus rectangle looks, readable
    // on any thumb colour.
    painter->save();
    QPen pen(option->palette.color(QPalette::WindowText), 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(focus.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void applyKeyboardConventions(QWidget& window) {
    // Outside dialogs, Qt presses a focused button on Enter only when it is auto-default.
    for (QPushButton* button : window.findChildren<QPushButton*>())
        button->setAutoDefault(true);
    for (QScrollBar* bar : window.findChildren<QScrollBar*>()) {
        auto* style = new ScrollBarFocusStyle(*bar->style());
        style->setParent(bar);
        bar->setStyle(style);
    }
}

} // namespace window
