#!/usr/bin/env python3
"""Each flash of the real program has its click, heard within 40 ms of it, at 100 BPM, as
bench/av_probe sees them: the beat area's pixel and the sink's monitor on one clock. Loose
enough for a busy machine, tight enough to catch the click lagging its flash by 100 ms."""
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from av_pairs import figures, parse, summarize  # noqa: E402
from harness import check  # noqa: E402


def main(binary, probe):
    watcher = subprocess.Popen([probe, "--seconds", "7"], stdout=subprocess.PIPE, text=True)
    program = subprocess.Popen([binary])
    try:
        out, _ = watcher.communicate(timeout=60)
    finally:
        watcher.kill()
        program.kill()
    check(watcher.returncode == 0, f"the probe failed ({watcher.returncode})")
    run = parse(out.splitlines())
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
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
