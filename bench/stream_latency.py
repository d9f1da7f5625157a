#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Buffer plus sink latency (ms) of one program's stream, from `pactl list sink-inputs`
on standard input. Usage: stream_latency.py BINARY."""
import re
import sys

binary = sys.argv[1]
for block in sys.stdin.read().split("Sink Input #")[1:]:
    if f'application.process.binary = "{binary}"' not in block:
        continue
    usec = sum(int(v) for v in re.findall(r"(?:Buffer|Sink) Latency: (\d+) usec", block))
    print(f"{usec / 1000:.1f}")
    break
else:
    print("unknown")
