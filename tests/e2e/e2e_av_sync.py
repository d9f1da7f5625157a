#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Each flash of the real program has its click, at 100 BPM, as bench/av_probe sees them: the
beat area's pixel and the sink's monitor on one clock. Each click within 40 ms of its flash,
loose enough for a busy machine; the median a hair after the flash, which catches a flash
shown before its click is heard as well as one held past it. The stream tells the desktop's
mixer who plays it; scripts/test runs this on PulseAudio and on PipeWire, where the stream
must be PipeWire's own."""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from av_pairs import figures, parse, summarize  # noqa: E402
from harness import Program, check  # noqa: E402
from harness import run as harness_run  # noqa: E402


def stream_properties():
    """The properties of the one playback stream other than the test server's own."""
    out = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True).stdout
    for block in out.split("\n\n"):
        props = dict(re.findall(r'^\s*([\w.]+) = "(.*)"$', block, re.M))
        if props.get("application.id"):
            return props
    return {}


def main(binary, probe):
    watcher = subprocess.Popen([probe, "--seconds", "7"], stdout=subprocess.PIPE, text=True)
    program = Program(binary)
    try:
        time.sleep(3)
        props = stream_properties()
        out, _ = watcher.communicate(timeout=60)
    finally:
        watcher.kill()
        program.proc.kill()
    check(watcher.returncode == 0, f"the probe failed ({watcher.returncode})")
    run = parse(out.splitlines())
    if run["flashes"]:
        program.saw(f"first flash, as the probe saw it: "
                    f"{run['flashes'][0] - program.started:.2f} s after the start")
    # The first second is start-up: the stream is still being opened.
    result = summarize(run, 1.0)
    print(figures(result, run["info"]))
    pairs = result["pairs"]
    check(len(pairs) >= 6, f"only {len(pairs)} of about 10 flashes seen")
    for f, c in pairs:
        check(c is not None, f"the flash at {f:.3f} s has no click")
        # A flash the probe could only bracket loosely gets that much more room.
        check(abs(c - f) * 1000 <= 40 + result["errors"][f],
              f"click {(c - f) * 1000:.1f} ms from its flash")
    check(not result["stray_clicks"], f"clicks without a flash at {result['stray_clicks']}")
    offsets = sorted((c - f) * 1000 for f, c in pairs)
    median = offsets[len(offsets) // 2]
    check(-2 <= median <= 10, f"clicks {median:.1f} ms after their flashes (median)")
    want = {"application.id": "org.velkaro.Metronome",
            "application.icon_name": "org.velkaro.Metronome", "media.role": "music"}
    check(all(props.get(k) == v for k, v in want.items()), f"the stream says {props}")
    # Where PipeWire plays, it is PipeWire's own stream, not its PulseAudio server's.
    info = subprocess.run(["pactl", "info"], capture_output=True, text=True).stdout
    check("PipeWire" not in info or props.get("client.api") != "pipewire-pulse",
          "PipeWire plays, through its PulseAudio server")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    harness_run(main, sys.argv[1], sys.argv[2])
