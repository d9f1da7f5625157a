#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program's clicks, recorded from a null sink of a PulseAudio server of the test's
own, in one run: the server coming after the program, the user's own click file (told
from the built-in click and from each other by pitch), the server killed and back, then
Mute and Pause."""
import array
import math
import os
import shutil
import sys
import tempfile
import time
import wave

from harness import (GREEN, RATE, RED, Metronome, PrivatePulse, Recorder, check, on_grid,
                     onsets, run)

PHASE_S = 3.0
SETTLED_S = 1.4  # noticed at the next beat, heard from the one after it


def write_tone(path, freq, rate, channels):
    """120 ms of a sine at half scale, with 2 ms fades, moved into place as mv does."""
    n = int(rate * 0.12)
    frames = array.array("h")
    for i in range(n):
        fade = min(1.0, i / (rate * 0.002), (n - i) / (rate * 0.002))
        frames.extend([int(16000 * fade * math.sin(2 * math.pi * freq * i / rate))] * channels)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path + ".new", "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames.tobytes())
    os.replace(path + ".new", path)


def pitch(samples, at):
    """The click's frequency in Hz, from 20 to 70 ms after its onset; 0 when it is over by
    then, as the built-in 15 ms click is."""
    window = samples[at + RATE // 50:at + RATE * 7 // 100]
    if math.sqrt(sum(s * s for s in window) / max(1, len(window))) < 1000:
        return 0
    return sum(1 for a, b in zip(window, window[1:]) if (a < 0) != (b < 0)) / 2 / 0.05


def clicks_back_within_2s(pulse, what):
    rec = Recorder(env=pulse.env)
    time.sleep(5)
    clicks = [i * 1000 / RATE for i in onsets(rec.stop(), RATE)]
    gaps = [b - a for a, b in zip(clicks, clicks[1:])]
    check(clicks and clicks[0] <= 2000, f"{what}: first click at {clicks[:1]} ms")
    # On the beat grid from the first click on: no stray click right after the server came.
    check(gaps and on_grid(gaps, 600), f"{what}: gaps {gaps}")
    print(f"{what}: first click after {clicks[0]:.0f} ms, {len(clicks)} clicks on the grid")


def own_click(pulse, home):
    """A tone file on a renamed desktop, then moved over by another: each heard on the beat
    grid once noticed."""
    place = os.path.join(home, "Bureau", "Cool Folder", "Music", "metronome.wav")
    os.makedirs(os.path.join(home, ".config"), exist_ok=True)
    with open(os.path.join(home, ".config", "user-dirs.dirs"), "w") as f:
        f.write('XDG_DESKTOP_DIR="$HOME/Bureau"\n')
    phases = [(440, 44100, 1), (1760, 22050, 2)]  # pitch, rate, channels
    rec = Recorder(env=pulse.env)
    starts = []
    for freq, rate, channels in phases:
        write_tone(place, freq, rate, channels)
        starts.append(time.monotonic() - rec.started)
        time.sleep(PHASE_S)
    samples = rec.stop()

    found = onsets(samples, RATE)
    heard = [(i / RATE, pitch(samples, i)) for i in found]
    gaps = [(b - a) * 1000 / RATE for a, b in zip(found, found[1:])]
    print("clicks (s, Hz):", " ".join(f"{t:.2f}:{p:.0f}" for t, p in heard))
    check(len(found) >= len(phases) * PHASE_S / 0.6 - 2, f"only {len(found)} clicks")
    check(on_grid(gaps, 600, slack=3), f"the beat faltered: {gaps}")
    for start, (want, _, _) in zip(starts, phases):
        # The recording's clock starts a little after the recorder was asked to: keep clear
        # of the phase's edges.
        got = [p for t, p in heard if start + SETTLED_S + 0.2 <= t <= start + PHASE_S - 0.6]
        check(got and all(abs(p - want) < want * 0.05 for p in got),
              f"heard {got} Hz, wanted {want}")


def silent_while(m, pulse, box, x, colours):
    """Ticks the box at `x` and records: no click, and the beat area shows `colours` of its
    two; then unticks it."""
    m.click(x + 20, 416 + 16)
    time.sleep(0.5)  # clicks already on their way may still sound
    rec = Recorder(env=pulse.env)
    seen = m.beat_colours(2.0)
    clicks = onsets(rec.stop(), RATE)
    check(not clicks, f"clicks at {clicks} with {box}")
    check(len(seen) == colours and seen <= {GREEN, RED}, f"beat area {seen} with {box}")
    m.click(x + 20, 416 + 16)


def main(binary):
    pulse = PrivatePulse()
    home = tempfile.mkdtemp(prefix="metronome-home-")
    env = {k: v for k, v in pulse.env.items() if not k.startswith("XDG_") or k == "XDG_RUNTIME_DIR"}
    m = Metronome(binary, env=dict(env, HOME=home))
    try:
        check(m.flashes() and m.proc.poll() is None, "no beat without an audio server")
        pulse.start()
        clicks_back_within_2s(pulse, "server started after the program")
        own_click(pulse, home)

        pulse.kill()
        check(m.flashes() and m.proc.poll() is None, "no beat after the server went away")
        pulse.start()
        clicks_back_within_2s(pulse, "server came back")

        silent_while(m, pulse, "Mute", 312, 2)  # the beat area flashes on
        silent_while(m, pulse, "Pause", 216, 1)  # nor does it flash
        check(m.flashes(), "no flashing after Pause was unchecked")
    finally:
        m.stop()
        pulse.kill()
        shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(pulse.dir, ignore_errors=True)

    lines = [line for line in m.output() if "metronome.wav" in line]
    print("\n".join(lines))
    # Nothing for the file missing at start; once when the first file plays, not again when
    # another is moved over it.
    check(len(lines) == 1 and "playing" in lines[0], f"expected one line, on playing: {lines}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    run(main, sys.argv[1])
