// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beat_timer.h"
#include "controls.h"
#include "speed_practice.h"
#include "tempo.h"

#include <cstdint>

namespace beat {

// The beat engine: the handlers of the tempo, the beat and speed practice over one set of
// controls. Plain C++, so it runs on in-memory fakes as well as on the window's widgets.
class Engine {
  public:
    explicit Engine(const Controls& controls) : m_controls(controls) {}

    // The scroll bar's value changed (tempo.cpp).
    void hsbBPM_Change() { m_tempo.hsbBPM_Change(); }
    // One beat (beat_timer.cpp).
    void tmrBPM_Timer() { m_beatTimer.tmrBPM_Timer(); }
    bool clicksNext() const { return m_beatTimer.clicksNext(); }
    // One slow tick, and a click on "Speed Practice" (speed_practice.cpp).
    void tmr2_Timer() { m_speedPractice.tmr2_Timer(); }
    void chkSpeed_Click() { m_speedPractice.chkSpeed_Click(); }

    // The load's part of the beat: the interval from the tempo, and the count from 0.
    void startBeat();

    std::int64_t BeatCount() const { return m_beatTimer.BeatCount(); }
    std::int64_t PracticeCount() const { return m_speedPractice.PracticeCount(); }

  private:
    Controls m_controls;
    Tempo m_tempo{m_controls};
    BeatTimer m_beatTimer{m_controls};
    SpeedPractice m_speedPractice{m_controls};
};

} // namespace beat
