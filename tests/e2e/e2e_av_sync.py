#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Each flash of the real program has its click, at 100 BPM, as bench/av_probe sees them: the
beat area's pixel and the sink's monitor on one clock. Each click within 40 ms of its flash,
loose enough for a busy machine; the median a hair after the flash, which catches a flash
shown before its click is heard as well as one held past it. The stream tells the desktop's
mixer who plays it; scripts/test runs this on PulseAudio and on PipeWire, where the stream
must be PipeWire's own."""
import re
import sys
import time

from harness import Metronome, Program, check, run, sh
from av_pairs import figures, parse, summarize  # in scripts/, on the harness's path


def main(binary, probe):
    watcher = Program([probe, "--seconds", "7"])
    m = Metronome(binary)
    time.sleep(2.5)
    # The one playback stream that names its application: not the test server's own.
    props = next((p for p in (dict(re.findall(r'^\s*([\w.]+) = "(.*)"$', block, re.M))
                              for block in sh("pactl", "list", "sink-inputs").split("\n\n"))
                  if p.get("application.id")), {})
    check(watcher.proc.wait(60) == 0, f"the probe failed ({watcher.proc.returncode})")
    watcher.stop()  # its output read to the end
    result = parse(watcher.output())
    if result["flashes"]:
        m.first_flash = result["flashes"][0] - m.started
    # The first second is start-up: the stream is still being opened.
    result, info = summarize(result, 1.0), result["info"]
    print(figures(result, info))
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
    check("PipeWire" not in sh("pactl", "info") or props.get("client.api") != "pipewire-pulse",
          "PipeWire plays, through its PulseAudio server")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    run(main, sys.argv[1], sys.argv[2])
