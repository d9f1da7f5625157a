#include "flash_hold.h"

#include <QCoreApplication>
#include <QEvent>

#include <thread>

namespace window {

FlashHold::FlashHold(QWidget& window) : m_window(window) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FlashHold::release);
    m_window.installEventFilter(this);
}

void FlashHold::holdUntil(Clock::time_point until) {
    using namespace std::chrono;
    // The timer counts whole milliseconds; the last fraction is slept in release().
    const auto wait = floor<milliseconds>(until - Clock::now());
    m_until = until;
    if (wait <= milliseconds(0)) {
        release();
        return;
    }
    m_timer.start(wait);
}

bool FlashHold::eventFilter(QObject* watched, QEvent* event) {
    // Qt paints what changed when this request arrives; while holding, it waits.
    if (watched == &m_window && event->type() == QEvent::UpdateRequest && m_timer.isActive()) {
        m_held = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void FlashHold::release() {
    m_timer.stop();
    if (!m_held)
        return;
    std::this_thread::sleep_until(m_until);
    m_held = false;
    // Paint now, not on the next pass of the event loop: this is the moment of the beat.
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&m_window, &request);
}

} // namespace window
