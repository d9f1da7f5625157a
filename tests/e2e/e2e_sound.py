#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program's clicks, recorded from a null sink of a PulseAudio server of the test's
own, in one run: the server coming after the program, with the user's own click (told from
the built-in one by its pitch) on a renamed desktop; the server killed and back; Mute."""
import array
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import wave

from harness import SCRIPTS, Metronome, check, run, sh
from onsets import onsets  # in scripts/, on the harness's path

RATE, OWN_HZ = 48000, 440


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


def record(pulse, seconds):
    """The null sink's monitor for `seconds`, mono 16-bit, in whole samples."""
    raw = subprocess.run(["timeout", str(seconds), "parec", "-d", "metronome.monitor",
                          f"--rate={RATE}", "--channels=1", "--format=s16le", "--raw"],
                         env=pulse.env, capture_output=True).stdout
    return array.array("h", raw[:len(raw) // 2 * 2])


def pitch(samples, at):
    """The click's frequency in Hz, from 20 to 70 ms after its onset; 0 when it is over by
    then, as the built-in 15 ms click is."""
    window = samples[at + RATE // 50:at + RATE * 7 // 100]
    if math.sqrt(sum(s * s for s in window) / max(1, len(window))) < 1000:
        return 0
    return sum(1 for a, b in zip(window, window[1:]) if (a < 0) != (b < 0)) / 2 / 0.05


def on_grid(gaps, interval, slack=2.0, missing=1):
    """Whether clicks keep to one beat grid: each gap a whole number of beats, within
    `slack` ms, and no more than `missing` beats without a click (a tick the GUI thread
    reached too late loses its click, but never moves the others)."""
    beats = [round(g / interval) for g in gaps]
    return (all(b >= 1 and abs(g - b * interval) <= slack for g, b in zip(gaps, beats))
            and sum(b - 1 for b in beats) <= missing)


def own_clicks_within_2s(pulse, what):
    """5 s recorded: the first click within 2 s, then all on the beat grid (no stray click
    right after the server came), the user's own from 1.6 s on."""
    samples = record(pulse, 5)
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


def muted(m, pulse):
    """Ticks "Mute": the flashing goes on, and no click sounds."""
    # Without --sync, which waits for a move that never comes when the pointer is there.
    sh("xdotool", "mousemove", "--window", m.window, "332", "432", "click", "1")
    time.sleep(0.5)  # clicks already on their way may still sound
    clicks = onsets(record(pulse, 2), RATE)
    check(not clicks, f"clicks at {clicks} with Mute")
    check(m.flashes(), "no flashing with Mute")


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
        muted(m, pulse)
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
