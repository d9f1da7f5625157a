// SPDX-License-Identifier: GPL-3.0-or-later
#include "accessibility.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>

namespace window {

namespace {

// The beat area is the green label with the red one shown over it on every other beat.
// Its colour is answered when asked, so a beat sends the screen reader nothing new.
class BeatArea : public QAccessibleWidget {
  public:
    BeatArea(QWidget* green, const QWidget* red)
        : QAccessibleWidget(green, QAccessible::StaticText), m_red(red) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return QStringLiteral("Beat");
        if (t == QAccessible::Description)
            return m_red && !m_red->isHidden() ? QStringLiteral("red") : QStringLiteral("green");
        return QAccessibleWidget::text(t);
    }

  private:
    QPointer<const QWidget> m_red;
};

QAccessibleInterface* beatAreaFactory(const QString&, QObject* object) {
    auto* green = qobject_cast<QLabel*>(object);
    if (!green || green->objectName() != QLatin1String("lblBackground") || !green->parentWidget())
        return nullptr;
    return new BeatArea(green, green->parentWidget()->findChild<QLabel*>("lblBPM"));
}

// While the scroll bar is locked, Tab cannot reach it; the number box takes its place in
// the Tab order, read-only, so the rising tempo can be heard. Mouse clicks still pass
// through to the window, as they do while the box is disabled.
class TempoStandIn : public QObject {
  public:
    TempoStandIn(QScrollBar& bar, QLineEdit& box) : QObject(&bar), m_bar(bar), m_box(box) {
        m_box.setReadOnly(true);
        bar.installEventFilter(this);
        box.installEventFilter(this);
        follow();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_bar && event->type() == QEvent::EnabledChange)
            follow();
        // Tab selects a line edit's whole text; the tempo keeps its look.
        if (watched == &m_box && event->type() == QEvent::FocusIn)
            QMetaObject::invokeMethod(&m_box, &QLineEdit::deselect, Qt::QueuedConnection);
        return false;
    }

  private:
    void follow() {
        const bool locked = !m_bar.isEnabled();
        m_box.setAttribute(Qt::WA_TransparentForMouseEvents, locked);
        // Its place in the Tab order is kept while it takes no focus.
        m_box.setFocusPolicy(locked ? Qt::TabFocus : Qt::NoFocus);
        m_box.setEnabled(locked);
    }

    QScrollBar& m_bar;
    QLineEdit& m_box;
};

} // namespace

void prepareAccessibility() {
    static const bool installed = (QAccessible::installFactory(&beatAreaFactory), true);
    (void)installed;
}

void applyAccessibility(QWidget& window) {
    auto* bar = window.findChild<QScrollBar*>("hsbBPM");
    auto* box = window.findChild<QLineEdit*>("txtBPM");
    bar->setAccessibleName("Tempo");
    bar->setAccessibleDescription("beats per minute");
    box->setAccessibleName("Tempo in beats per minute");
    new TempoStandIn(*bar, *box);

    window.findChild<QLabel*>("lblBPM")->setAccessibleName("Beat");
    window.findChild<QLabel*>("lblBPM")->setAccessibleDescription("red");
    window.findChild<QLabel*>("Image1")->setAccessibleName("Metronome");
    // A label with a name of its own tells nothing when its text changes: the counters
    // change theirs on every beat and every practice tick, and nobody sees them.
    window.findChild<QLabel*>("lblTimer")->setAccessibleName("Beat counter");
    window.findChild<QLabel*>("lblTimer2")->setAccessibleName("Practice counter");
}

} // namespace window
