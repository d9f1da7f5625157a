// SPDX-License-Identifier: GPL-3.0-or-later
#include "form_timer.h"

#include "beat/checked.h"

namespace window {

namespace {
constexpr int InvalidPropertyValue = 380;
}

FormTimer::FormTimer(QObject* parent, Now now) : QObject(parent), m_now(std::move(now)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FormTimer::wake);
}

void FormTimer::setInterval(std::int32_t milliseconds) {
    if (milliseconds < 0)
        throw beat::RunTimeError(InvalidPropertyValue, "Invalid property value");
    m_interval = milliseconds;
    m_timer.stop();
    if (m_interval != 0) {
        m_nextDue = m_now() + std::chrono::milliseconds(m_interval);
        schedule();
    }
    emit restarted();
}

std::optional<FormTimer::Clock::time_point> FormTimer::nextDue() const {
    if (m_interval == 0)
        return std::nullopt;
    return m_nextDue;
}

void FormTimer::schedule() {
    using namespace std::chrono;
    // Round up: QTimer counts whole milliseconds and must not fire before the tick is due.
    const auto wait = ceil<milliseconds>(m_nextDue - m_now());
    m_timer.start(std::max(wait, milliseconds(0)));
}

void FormTimer::wake() {
    if (m_interval == 0)
        return;
    const auto now = m_now();
    if (now < m_nextDue) {
        schedule();
        return;
    }
    const auto due = m_nextDue;
    const auto step = std::chrono::milliseconds(m_interval);
    m_nextDue += step;
    if (m_nextDue <= now)
        m_nextDue += step * ((now - m_nextDue) / step + 1);
    schedule();

    // A modal box inside a handler delivers nested ticks; each sees its own due time.
    const auto outer = m_currentDue;
    m_currentDue = due;
    emit tick();
    m_currentDue = outer;
}

} // namespace window
