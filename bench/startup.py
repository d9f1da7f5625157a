#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Times the metronome from process start to its first painted frame.

The window counts as painted when its beat area shows green in a grab of the window;
it counts as shown when X reports it mapped. Also reads the peak RSS after a few seconds.
Usage: startup.py BINARY RUNS
"""
import statistics
import subprocess
import sys
import time

TITLE = "Metronome - By Velkaro"


def window_id():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                         capture_output=True, text=True).stdout.split()
    return out[0] if out else None


def painted(win):
    # The middle of the beat area, 212,300 in the window, green before the first beat.
    raw = subprocess.run(["import", "-window", win, "-crop", "1x1+212+300", "-depth", "8",
                          "rgb:-"], capture_output=True).stdout
    return raw[:3] == bytes((0, 255, 0))


def peak_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def main():
    binary, runs = sys.argv[1], int(sys.argv[2])
    shown, paint, rss = [], [], []
    for _ in range(runs):
        start = time.monotonic()
        proc = subprocess.Popen([binary])
        win = None
        while not win and time.monotonic() - start < 10:
            win = window_id()
        shown.append((time.monotonic() - start) * 1000)
        while not painted(win) and time.monotonic() - start < 10:
            pass
        paint.append((time.monotonic() - start) * 1000)
        time.sleep(3)
        rss.append(peak_rss_kb(proc.pid))
        proc.terminate()
        proc.wait(5)
        time.sleep(0.3)
    print(f"runs={runs} shown_median_ms={statistics.median(shown):.0f} "
          f"shown_max_ms={max(shown):.0f} painted_median_ms={statistics.median(paint):.0f} "
          f"painted_max_ms={max(paint):.0f} peak_rss_mb={max(rss) / 1024:.1f}")


if __name__ == "__main__":
    main()
