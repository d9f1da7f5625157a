// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace window {

// Shows the beat area's change when the beat's click is heard rather than when its handler
// ran. The control's own flag changes at once, as the beat engine reads it; only whether the
// label is on the screen follows later. Each beat's change waits for its own time, so beats
// keep their colours when the click comes more than a beat after its tick.
class FlashHold : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // Holds back showing and hiding `label`; `now` is the clock the times are on.
    explicit FlashHold(QWidget& label, Now now = &Clock::now);

    // Changes made from now on are shown at `at`; none: at once.
    void showAt(std::optional<Clock::time_point> at) { m_at = at; }
    // The label is to be shown (or hidden) at the time set by `showAt`.
    void show(bool visible);
    // Puts on the screen what is due by now. Its own timer calls it; a test with its own
    // clock calls it instead.
    void wake();
    // Whether a change is still waiting.
    bool holding() const { return !m_queue.empty(); }

  private:
    void apply(bool visible);
    void schedule();
    void onTimer();

    QWidget& m_label;
    Now m_now;
    QTimer m_timer;
    std::optional<Clock::time_point> m_at;
    std::deque<std::pair<Clock::time_point, bool>> m_queue; // by time
};

} // namespace window
