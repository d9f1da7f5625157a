// SPDX-License-Identifier: GPL-3.0-or-later
#include "flash_hold.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace window {

namespace {
// The timer counts whole milliseconds: a change due within half of one is shown now.
constexpr auto Close = std::chrono::microseconds(500);
} // namespace

FlashHold::FlashHold(QWidget& label, Now now, When when)
    : m_label(label), m_now(std::move(now)), m_when(std::move(when)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FlashHold::wake);
}

void FlashHold::show(bool visible) {
    const auto at = m_due ? when(*m_due) : m_now();
    if (at - m_now() < Close) {
        m_queue.clear();
        apply(visible);
        schedule();
        return;
    }
    // A change that is to be seen sooner than ones waiting (the click came closer) replaces
    // them: what is on the screen never runs backwards.
    while (!m_queue.empty() && m_queue.back().at >= at)
        m_queue.pop_back();
    m_queue.push_back({*m_due, at, visible});
    schedule();
}

void FlashHold::wake() {
    const auto now = m_now();
    // Asked again: a click written again since its tick is seen when it is heard now.
    auto before = Clock::time_point::min();
    for (Change& c : m_queue)
        before = c.at = std::max(before, when(c.due));
    std::optional<bool> due;
    while (!m_queue.empty() && m_queue.front().at - now < Close) {
        due = m_queue.front().visible;
        m_queue.pop_front();
    }
    if (due)
        apply(*due);
    schedule();
}

void FlashHold::schedule() {
    using namespace std::chrono;
    if (m_queue.empty()) {
        m_timer.stop();
        return;
    }
    const auto wait = round<milliseconds>(m_queue.front().at - m_now());
    m_timer.start(std::max(wait, milliseconds(0)));
}

void FlashHold::apply(bool visible) {
    if (m_label.isHidden() != visible)
        return;
    m_label.setVisible(visible);
    // Paint now, not on the next pass of the event loop: this is the moment of the beat.
    if (QWidget* window = m_label.window()) {
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(window, &request);
    }
}

} // namespace window
