// SPDX-License-Identifier: GPL-3.0-or-later
#include "accessibility.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QtGlobal>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QAccessibleAnnouncementEvent>
#endif

#include <algorithm>
#include <array>

namespace window {

namespace {

// Widgets that tell a listener nothing: the red half of the beat area (the beat area
// answers for both), the ramp's phase flag and the two hidden counters. A screen reader
// cannot reach them, and what they do on every beat and tick sends it nothing.
constexpr std::array<const char*, 4> Quiet{"lblBPM", "lblPointless", "lblTimer", "lblTimer2"};

// Where Qt has no announcements (before 6.8), what practice says is shown, for a moment, as
// a notification, which Orca speaks wherever the focus is.
constexpr const char* NewsName = "tempoNews";

bool isQuiet(const QObject* object) {
    return object && std::any_of(Quiet.begin(), Quiet.end(), [&](const char* name) {
               return object->objectName() == QLatin1String(name);
           });
}

// A text of one run, without formatting, as a screen reader asks for it.
class PlainText : public QAccessibleTextInterface {
  public:
    QString text(int start, int end) const override {
        const QString all = plain();
        const int size = static_cast<int>(all.size());
        start = std::clamp(start, 0, size);
        end = end < 0 ? size : std::clamp(end, start, size);
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(plain().size()); }
    // One run over the whole text, whatever the offset. Qt 6.4's line edit answers each
    // offset with an empty run, and Orca, which builds the spoken line from the runs, then
    // says "11" for 115.
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    void scrollToSubstring(int, int) override {}
    int offsetAtPoint(const QPoint& point) const override {
        for (int i = 0; i < characterCount(); ++i)
            if (characterRect(i).contains(point))
                return i;
        return -1;
    }

  protected:
    virtual QString plain() const = 0;
};

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

// The window, without the quiet widgets among its children.
class MetronomeWindow : public QAccessibleWidget {
  public:
    explicit MetronomeWindow(QWidget* w) : QAccessibleWidget(w) {}

    int childCount() const override { return static_cast<int>(reachable().size()); }
    QAccessibleInterface* child(int index) const override { return reachable().value(index); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return static_cast<int>(reachable().indexOf(const_cast<QAccessibleInterface*>(child)));
    }

  private:
    QList<QAccessibleInterface*> reachable() const {
        QList<QAccessibleInterface*> list;
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i)
            if (QAccessibleInterface* c = QAccessibleWidget::child(i); c && !isQuiet(c->object()))
                list << c;
        return list;
    }
};

// The tempo's scroll bar as what it is to a listener, a setting from 20 to 400: a spin
// button. Orca gives a scroll bar or slider a percentage of value / (maximum − minimum),
// 26 % at 100 BPM; a spin button's value is spoken as it is.
class TempoControl : public QAccessibleWidget, public QAccessibleValueInterface, public PlainText {
  public:
    explicit TempoControl(QScrollBar* bar) : QAccessibleWidget(bar, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = !bar().isEnabled(); // while practice sets the tempo
        return s;
    }
    using QAccessibleWidget::text;

    QVariant currentValue() const override { return bar().value(); }
    void setCurrentValue(const QVariant& value) override {
        if (bar().isEnabled())
            bar().setValue(value.toInt());
    }
    QVariant maximumValue() const override { return bar().maximum(); }
    QVariant minimumValue() const override { return bar().minimum(); }
    QVariant minimumStepSize() const override { return bar().singleStep(); }

    // Nothing to place a caret in; the whole bar stands for each character.
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return rect(); }

  private:
    // The number, as a spin button shows it: flat review reads it.
    QString plain() const override { return QString::number(bar().value()); }
    QScrollBar& bar() const { return *static_cast<QScrollBar*>(widget()); }
};

// The number box, read-only, its text in one piece.
class TempoNumber : public QAccessibleWidget, public PlainText {
  public:
    explicit TempoNumber(QLineEdit* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                               : QAccessibleWidget::interface_cast(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? box().text() : QAccessibleWidget::text(t);
    }

    int cursorPosition() const override { return box().cursorPosition(); }
    void setCursorPosition(int position) override { box().setCursorPosition(position); }
    QRect characterRect(int offset) const override {
        // The text is drawn centred in the box.
        const QString all = box().text();
        if (offset < 0 || offset >= all.size())
            return {};
        const QFontMetrics metrics = box().fontMetrics();
        const QRect inside = box().contentsRect();
        const QPoint at(inside.center().x() - metrics.horizontalAdvance(all) / 2 +
                            metrics.horizontalAdvance(all.left(offset)),
                        inside.center().y() - metrics.height() / 2);
        return {box().mapToGlobal(at),
                QSize(metrics.horizontalAdvance(all.at(offset)), metrics.height())};
    }

  private:
    QString plain() const override { return box().text(); }
    QLineEdit& box() const { return *static_cast<QLineEdit*>(widget()); }
};

class News : public QAccessibleWidget {
  public:
    explicit News(QWidget* w) : QAccessibleWidget(w, QAccessible::Notification) {}
};

QAccessibleInterface* metronomeFactory(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    const QString name = w->objectName();
    if (name == QLatin1String("frmMetronome"))
        return new MetronomeWindow(w);
    if (!w->parentWidget() || w->parentWidget()->objectName() != QLatin1String("frmMetronome"))
        return nullptr;
    if (name == QLatin1String("lblBackground"))
        return new BeatArea(w, w->parentWidget()->findChild<QLabel*>("lblBPM"));
    if (auto* bar = qobject_cast<QScrollBar*>(w); bar && name == QLatin1String("hsbBPM"))
        return new TempoControl(bar);
    if (auto* box = qobject_cast<QLineEdit*>(w); box && name == QLatin1String("txtBPM"))
        return new TempoNumber(box);
    if (name == QLatin1String(NewsName))
        return new News(w);
    return nullptr;
}

bool isOurs(QAccessibleInterface* i) {
    return dynamic_cast<MetronomeWindow*>(i) || dynamic_cast<BeatArea*>(i) ||
           dynamic_cast<TempoControl*>(i) || dynamic_cast<TempoNumber*>(i) ||
           dynamic_cast<News*>(i);
}

QAccessible::UpdateHandler g_next = nullptr;

// Passes on every event but those of the quiet widgets.
void quietUpdate(QAccessibleEvent* event) {
    if (isQuiet(event->object()))
        return;
    if (g_next) {
        g_next(event);
        return;
    }
    // Qt hands an event to the platform only while no handler is installed.
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(&quietUpdate);
}

// While the scroll bar is locked, Tab cannot reach it; the number box takes its place in
// the Tab order, read-only, so the rising tempo can be heard there. Mouse clicks still pass
// through to the window, as they do while the box is disabled. Practice's start and each
// rise are announced, so that they are heard wherever the focus is.
class TempoStandIn : public QObject {
    Q_OBJECT
  public:
    TempoStandIn(QScrollBar& bar, QLineEdit& box) : QObject(&bar), m_bar(bar), m_box(box) {
        setObjectName("tempoStandIn");
        m_box.setReadOnly(true);
        bar.installEventFilter(this);
        box.installEventFilter(this);
        connect(&bar, &QScrollBar::valueChanged, this, &TempoStandIn::rose);
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
        m_news = new QWidget(bar.parentWidget());
        m_news->setObjectName(NewsName);
        m_news->setGeometry(0, 0, 0, 0);
        m_news->hide();
#endif
        follow();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_bar && event->type() == QEvent::EnabledChange) {
            follow();
            if (!m_bar.isEnabled())
                announce(QStringLiteral("Tempo now set by practice, %1. Shift+Tab reads it.")
                             .arg(m_bar.value()));
        }
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

    // Only practice changes the tempo while the bar is locked. On the number box Orca
    // speaks the change itself.
    void rose(int value) {
        if (!m_bar.isEnabled() && !m_box.hasFocus())
            announce(QStringLiteral("Tempo %1").arg(value));
    }

    // Says `text` without moving the focus.
    void announce(const QString& text) {
        emit announced(text);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
        QAccessibleAnnouncementEvent event(&m_bar, text);
        QAccessible::updateAccessibility(&event);
#else
        // Orca 43 speaks a notification when it is shown; hidden again at once, it is
        // never in the way of flat review.
        m_news->hide();
        m_news->setAccessibleName(text);
        m_news->show();
        QTimer::singleShot(0, m_news, &QWidget::hide);
#endif
    }

  signals:
    // Said to whoever listens.
    void announced(const QString& text);

  private:
    QScrollBar& m_bar;
    QLineEdit& m_box;
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    QWidget* m_news = nullptr; // the notification
#endif
};

} // namespace

void prepareAccessibility() {
    static const bool installed = (QAccessible::installFactory(&metronomeFactory),
                                   g_next = QAccessible::installUpdateHandler(&quietUpdate), true);
    (void)installed;
}

void applyAccessibility(QWidget& window) {
    // Qt keeps the first interface it makes for a widget, perhaps made (by an event while
    // the controls were built) before the widget had its name; it is made again now.
    for (QWidget* w :
         {&window, window.findChild<QWidget*>("hsbBPM"), window.findChild<QWidget*>("txtBPM"),
          window.findChild<QWidget*>("lblBackground")})
        if (QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w); i && !isOurs(i))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(i));

    auto* bar = window.findChild<QScrollBar*>("hsbBPM");
    auto* box = window.findChild<QLineEdit*>("txtBPM");
    bar->setAccessibleName("Tempo");
    bar->setAccessibleDescription("beats per minute");
    box->setAccessibleName("Tempo in beats per minute");
    new TempoStandIn(*bar, *box);
    window.findChild<QLabel*>("Image1")->setAccessibleName("Metronome");
}

} // namespace window

#include "accessibility.moc"
