#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program's clicks, recorded from a null sink of a PulseAudio server of the test's
own, in one run: the server coming after the program, with the user's own click (told from
the built-in one by its pitch) on a renamed desktop; the server killed and back; Mute and
Pause."""
import array
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import wave

from harness import RATE, SCRIPTS, Metronome, Recorder, check, onsets, run, sh

OWN_HZ = 440


class PrivatePulse:
    """A PulseAudio server of the test's own with the null sink, started as scripts/test
    starts its own, to kill and start again."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="metronome-pulse-")
        runtime = os.path.join(self.dir, "runtime")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime,
                        PULSE_SERVER=f"unix:{runtime}/pulse/native")
        self.pid_file = os.path.join(runtime, "pulse", "pid")

    def start(self):
        subprocess.run(["bash", "-c", 'source "$0/services.sh"; trap - EXIT; rmdir "$services_dir"'
                        '; services_dir=$1; start_pulse', SCRIPTS, self.dir], check=True)

    def kill(self):
        """Kills the server; the stream that keeps its sink awake ends with it. Its pid file
        goes too: while nothing reaps the dead server, a new one would take it for running."""
        subprocess.run(["pkill", "-KILL", "-F", self.pid_file], capture_output=True)
        subprocess.run(["pidwait", "-F", self.pid_file], capture_output=True, timeout=10)
        if os.path.exists(self.pid_file):
            os.unlink(self.pid_file)


def write_own_click(home):
    """120 ms of a sine at 44.1 kHz, stereo, on a desktop renamed in user-dirs.dirs; moved
    into place as mv does, so that no beat finds it half written."""
    place = os.path.join(home, "Bureau", "Cool Folder", "Music", "metronome.wav")
    os.makedirs(os.path.dirname(place))
    os.makedirs(os.path.join(home, ".config"))
    with open(os.path.join(home, ".config", "user-dirs.dirs"), "w") as f:
        f.write('XDG_DESKTOP_DIR="$HOME/Bureau"\n')
    with wave.open(place + ".new", "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(array.array("h", (int(16000 * math.sin(2 * math.pi * OWN_HZ * i / 44100))
                                        for i in range(5292) for _ in (0, 1))).tobytes())
    os.replace(place + ".new", place)


def pitch(samples, at):
    """The click's frequency in Hz, from 20 to 70 ms after its onset; 0 when it is over by
    then, as the built-in 15 ms click is."""
    window = samples[at + RATE // 50:at + RATE * 7 // 100]
    if math.sqrt(sum(s * s for s in window) / max(1, len(window))) < 1000:
        return 0
    return sum(1 for a, b in zip(window, window[1:]) if (a < 0) != (b < 0)) / 2 / 0.05


def on_grid(gaps, interval, slack=3.0, missing=1):
    """Whether clicks keep to one beat grid: each gap a whole number of beats, within
    `slack` ms, and no more than `missing` beats without a click (a tick the GUI thread
    reached too late loses its click, but never moves the others)."""
    beats = [round(g / interval) for g in gaps]
    return (all(b >= 1 and abs(g - b * interval) <= slack for g, b in zip(gaps, beats))
            and sum(b - 1 for b in beats) <= missing)


def own_clicks_within_2s(pulse, what):
    """5 s recorded: the first click within 2 s, then all on the beat grid (no stray click
    right after the server came), the user's own from 1.6 s on."""
    rec = Recorder(env=pulse.env)
    time.sleep(5)
    samples = rec.stop()
    found = onsets(samples, RATE)
    clicks = [i * 1000 / RATE for i in found]
    gaps = [b - a for a, b in zip(clicks, clicks[1:])]
    print(f"{what}: clicks (ms, Hz):",
          " ".join(f"{t:.0f}:{pitch(samples, i):.0f}" for t, i in zip(clicks, found)))
    check(clicks and clicks[0] <= 2000, f"{what}: first click at {clicks[:1]} ms")
    check(gaps and on_grid(gaps, 600), f"{what}: gaps {gaps}")
    heard = [pitch(samples, i) for i in found if i >= 1.6 * RATE]
    check(heard and all(abs(p - OWN_HZ) < OWN_HZ * 0.05 for p in heard),
          f"{what}: heard {heard} Hz, wanted the own click's {OWN_HZ}")


def silent_while(m, pulse, box, x, flashing):
    """Ticks the box at `x` and records: no click, and flashing or not; then unticks it."""
    # Without --sync, which waits for a move that never comes when the pointer is there.
    click = ["xdotool", "mousemove", "--window", m.window, str(x + 20), "432", "click", "1"]
    sh(*click)
    time.sleep(0.5)  # clicks already on their way may still sound
    rec = Recorder(env=pulse.env)
    flashed = m.flashes(2.0)
    time.sleep(1.5)  # a flash seen at once leaves the recording too short for a beat
    clicks = onsets(rec.stop(), RATE)
    check(not clicks and flashed == flashing, f"{box}: clicks at {clicks}, flashing {flashed}")
    sh(*click)


def main(binary):
    pulse = PrivatePulse()
    home = tempfile.mkdtemp(prefix="metronome-home-")
    env = {k: v for k, v in pulse.env.items() if not k.startswith("XDG_") or k == "XDG_RUNTIME_DIR"}
    m = Metronome(binary, env=dict(env, HOME=home))
    try:
        check(m.flashes() and m.proc.poll() is None, "no beat without an audio server")
        write_own_click(home)  # beats without it went by: nothing is said of a missing file
        pulse.start()
        own_clicks_within_2s(pulse, "server started after the program")
        pulse.kill()
        check(m.flashes() and m.proc.poll() is None, "no beat after the server went away")
        pulse.start()
        own_clicks_within_2s(pulse, "server came back")
        silent_while(m, pulse, "Mute", 312, True)
        silent_while(m, pulse, "Pause", 216, False)
        check(m.flashes(), "no flashing after Pause was unchecked")
    finally:
        m.stop()
        pulse.kill()
        shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(pulse.dir, ignore_errors=True)
    lines = [line for line in m.output() if "metronome.wav" in line]
    print("\n".join(lines))
    check(len(lines) == 1 and "playing" in lines[0], f"expected one line, on playing: {lines}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    run(main, sys.argv[1])
