// SPDX-License-Identifier: GPL-3.0-or-later
#include "flash_hold.h"

#include <QCoreApplication>
#include <QEvent>

#include <thread>

namespace window {

FlashHold::FlashHold(QWidget& label, Now now) : m_label(label), m_now(std::move(now)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FlashHold::onTimer);
}

void FlashHold::show(bool visible) {
    if (!m_at || *m_at <= m_now()) {
        m_queue.clear();
        apply(visible);
        return;
    }
    // A change that is to be seen sooner than ones waiting (the click came closer) replaces
    // them: what is on the screen never runs backwards.
    while (!m_queue.empty() && m_queue.back().first >= *m_at)
        m_queue.pop_back();
    m_queue.emplace_back(*m_at, visible);
    schedule();
}

void FlashHold::wake() {
    const auto now = m_now();
    std::optional<bool> due;
    while (!m_queue.empty() && m_queue.front().first <= now) {
        due = m_queue.front().second;
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
    // The timer counts whole milliseconds; the last fraction is slept in onTimer().
    const auto wait = floor<milliseconds>(m_queue.front().first - m_now());
    m_timer.start(std::max(wait, milliseconds(0)));
}

void FlashHold::onTimer() {
    if (!m_queue.empty()) {
        const auto left = m_queue.front().first - m_now();
        if (left < std::chrono::milliseconds(2))
            std::this_thread::sleep_for(left);
    }
    wake();
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
