// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace window {

// Shows the beat area's change when the beat's click is heard rather than when its handler
// ran. The control's own flag changes at once, as the beat engine reads it; only whether the
// label is on the screen follows later. Each beat's change waits for its own time, so beats
// keep their colours when the click comes more than a beat after its tick; and the time is
// asked again when it comes, so a click moved after its tick (the output changed) still
// flashes with its flash.
class FlashHold : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    // When the change of the beat due at a time is to be seen.
    using When = std::function<Clock::time_point(Clock::time_point due)>;

    // Holds back showing and hiding `label`; `now` is the clock the times are on, `when`
    // says when a beat's change is seen (by default when it is due).
    explicit FlashHold(QWidget& label, Now now = &Clock::now, When when = {});

    // Changes made from now on are the beat's due at `due`; none: shown at once.
    void showFor(std::optional<Clock::time_point> due) { m_due = due; }
    // The label is to be shown (or hidden) when the beat set by `showFor` says.
    void show(bool visible);
    // Puts on the screen what is due by now. Its own timer calls it; a test with its own
    // clock calls it instead.
    void wake();
    // Whether a change is still waiting.
    bool holding() const { return !m_queue.empty(); }

  private:
    struct Change {
        Clock::time_point due, at;
        bool visible = false;
    };
    Clock::time_point when(Clock::time_point due) const { return m_when ? m_when(due) : due; }
    void apply(bool visible);
    void schedule();

    QWidget& m_label;
    Now m_now;
    When m_when;
    QTimer m_timer;
    std::optional<Clock::time_point> m_due;
    std::deque<Change> m_queue; // by time
};

} // namespace window
