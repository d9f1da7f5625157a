// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beat/controls.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace window {

// A timer as the window's controls promise it: interval 0 means no ticks, assigning an
// interval restarts the count-down. Ticks stay on a fixed grid from that moment, so they
// never drift; a tick that is late by more than a whole interval is dropped, not queued.
class FormTimer : public QObject, public beat::Timer {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // `now` is the clock the grid is laid on; tests give one of their own.
    explicit FormTimer(QObject* parent = nullptr, Now now = &Clock::now);

    // Restarts the count-down with the new interval; 0 stops the ticks.
    void setInterval(std::int32_t milliseconds) override;
    std::int32_t interval() const { return m_interval; }
    // The time the tick now being delivered was due; empty outside a tick.
    std::optional<Clock::time_point> currentDue() const { return m_currentDue; }
    // When the next tick is due; empty while the timer is stopped.
    std::optional<Clock::time_point> nextDue() const;
    // Delivers the tick if the clock says it is due, and waits for the next one. The
    // platform timer calls it; a test with its own clock calls it instead.
    void wake();

  signals:
    // One tick; connected handlers run inside it.
    void tick();
    // An interval was assigned: the ticks start again on a new grid.
    void restarted();

  private:
    void schedule();

    Now m_now;
    QTimer m_timer;
    std::int32_t m_interval = 0;
    Clock::time_point m_nextDue{};
    std::optional<Clock::time_point> m_currentDue;
};

} // namespace window
