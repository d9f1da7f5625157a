#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Click onsets in a recording against the nominal beat interval.

Usage: analyze_clicks.py RECORDING INTERVAL_MS. Prints the clicks of the first two
seconds, then for the rest: found, the deviation of each onset-to-onset gap from the
interval (median, p99, max) and the drift over the run.
"""
import array
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "scripts"))
from onsets import onsets  # noqa: E402

RATE = 48000


def main():
    samples = array.array("h")
    with open(sys.argv[1], "rb") as f:
        samples.frombytes(f.read())
    interval = float(sys.argv[2])
    times = [i * 1000 / RATE for i in onsets(samples, RATE, quiet_ms=min(50, interval / 3))]
    # The audio device takes up to a second to start streaming; clicks asked for before
    # then come late (the program counts them). Judge the steady state after it.
    settled = [t for t in times if t >= times[0] + 2000] if times else []
    print(f"startup_clicks={len(times) - len(settled)}", end=" ")
    times = settled
    gaps = [b - a for a, b in zip(times, times[1:])]
    dev = sorted(abs(g - interval) for g in gaps) or [0.0]
    drift = (times[-1] - times[0]) - interval * (len(times) - 1) if len(times) > 1 else 0.0
    print(f"found={len(times)} dev_median_ms={dev[len(dev) // 2]:.3f} "
          f"dev_p99_ms={dev[min(len(dev) - 1, len(dev) * 99 // 100)]:.3f} "
          f"dev_max_ms={dev[-1]:.3f} drift_ms={drift:.3f}")


if __name__ == "__main__":
    main()
