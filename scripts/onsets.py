#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Finds click onsets in a raw recording (signed 16-bit little-endian, mono).

Usage: onsets.py FILE [RATE]. Prints one onset per line, in milliseconds from the start.
An onset is the first sample above the threshold after at least 50 ms of quiet; a click
already sounding when the recording began has none.
"""
import array
import sys


def onsets(samples, rate, threshold=1500, quiet_ms=50):
    found, last_loud = [], 0
    quiet = rate * quiet_ms // 1000
    for i, s in enumerate(samples):
        if abs(s) >= threshold:
            if i - last_loud > quiet:
                found.append(i)
            last_loud = i
    return found


def main():
    path = sys.argv[1]
    rate = int(sys.argv[2]) if len(sys.argv) > 2 else 48000
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    for i in onsets(samples, rate):
        print(f"{i * 1000 / rate:.3f}")


if __name__ == "__main__":
    main()
