#pragma once

#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>

namespace window {

// Holds back a window's repaint for a moment, so that what a beat changed on the screen
// shows when the beat's click is heard rather than when its handler ran. Only the pending
// repaint waits; the state of the controls changes at once.
class FlashHold : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;

    explicit FlashHold(QWidget& window);

    // Nothing changed in the window is painted before `until`; then all of it at once. A
    // time already past holds nothing.
    void holdUntil(Clock::time_point until);
    bool holding() const { return m_timer.isActive(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void release();

    QWidget& m_window;
    QTimer m_timer;
    bool m_held = false; // a repaint was asked for while holding
    Clock::time_point m_until{};
};

} // namespace window
