#!/usr/bin/env python3
"""Click onsets in a recording against the nominal beat interval.

Usage: analyze_clicks.py RECORDING INTERVAL_MS. Prints found, the deviation of each
onset-to-onset gap from the interval (median, p99, max) and the drift over the run.
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
    # The first beat after a tempo change comes one whole interval after it; skip the
    # clicks of the design tempo that sounded before.
    gaps = [b - a for a, b in zip(times, times[1:])]
    start = 0
    while start < len(gaps) and abs(gaps[start] - interval) > 5:
        start += 1
    times = times[start:]
    gaps = gaps[start:]
    dev = sorted(abs(g - interval) for g in gaps) or [0.0]
    drift = (times[-1] - times[0]) - interval * (len(times) - 1) if len(times) > 1 else 0.0
    print(f"found={len(times)} dev_median_ms={dev[len(dev) // 2]:.3f} "
          f"dev_p99_ms={dev[min(len(dev) - 1, len(dev) * 99 // 100)]:.3f} "
          f"dev_max_ms={dev[-1]:.3f} drift_ms={drift:.3f}")


if __name__ == "__main__":
    main()
