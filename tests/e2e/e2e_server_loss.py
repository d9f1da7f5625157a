#!/usr/bin/env python3
"""The audio server goes away and comes back: the metronome beats on and its click returns."""
import sys
import time

from harness import Metronome, PrivatePulse, Recorder, Screen, check, on_grid, onsets_ms

GREEN, RED = (0, 255, 0), (255, 0, 0)


def colours_for(m, seconds):
    x, y, _, _ = m.geometry()
    seen = set()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        seen.add(Screen().pixel(x + 212, y + 300))
        time.sleep(0.15)
    return seen


def clicks_return(pulse, seconds=6.0):
    """Starts the server, records, and gives when the first click came (ms) and the gaps."""
    pulse.start()
    rec = Recorder(env=pulse.env)
    time.sleep(seconds)
    clicks = onsets_ms(rec.stop())
    return clicks


def check_back(clicks, what):
    check(clicks, f"no click came back {what}")
    check(clicks[0] <= 2000, f"first click {clicks[0]:.0f} ms after the server {what}")
    gaps = [b - a for a, b in zip(clicks, clicks[1:])]
    # On the beat grid from the first click on: no stray click right after the server came.
    check(gaps and on_grid(gaps, 600), f"gaps {gaps} {what}")
    print(f"{what}: first click after {clicks[0]:.0f} ms, {len(clicks)} clicks, gaps 600 ms")


def main(binary):
    pulse = PrivatePulse()
    pulse.start()
    m = Metronome(binary, env=pulse.env)
    try:
        rec = Recorder(env=pulse.env)
        time.sleep(3)
        check(len(onsets_ms(rec.stop())) >= 4, "no clicks before the server went away")

        pulse.kill()
        check(colours_for(m, 2.0) == {GREEN, RED}, "the beat area stopped flashing")
        check(m.proc.poll() is None, "the program ended with its audio server")
        check_back(clicks_return(pulse), "came back")
    finally:
        m.stop()

    pulse.kill()
    m = Metronome(binary, env=pulse.env)
    try:
        time.sleep(2)
        check(m.proc.poll() is None, "the program ended without an audio server")
        check_back(clicks_return(pulse), "started after the program")
    finally:
        m.stop()
        pulse.kill()
    print("3 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
