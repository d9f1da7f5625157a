#!/usr/bin/env python3
"""Each flash of the real program has its click, heard within 40 ms of it, at 100 BPM.

The probe (bench/av_probe) watches the beat area's pixel and records the sink's monitor on
one clock. The bound is loose so that a busy machine cannot fail it, and tight enough to
catch the click falling back to lagging its flash by more than 100 ms.
"""
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from av_pairs import figures, parse, summarize  # noqa: E402
from harness import check  # noqa: E402

BOUND_MS = 40
WATCH_S = 7
# The first second is start-up: the stream is still being opened and the first click may
# wait for the server. What matters is every beat after it.
SKIP_S = 1.0


def main(binary, probe):
    watcher = subprocess.Popen([probe, "--seconds", str(WATCH_S)], stdout=subprocess.PIPE,
                               text=True)
    program = subprocess.Popen([binary])
    try:
        out, _ = watcher.communicate(timeout=60)
    finally:
        if watcher.poll() is None:
            watcher.kill()
        program.send_signal(signal.SIGTERM)
        try:
            program.wait(5)
        except subprocess.TimeoutExpired:
            program.kill()
    check(watcher.returncode == 0, f"the probe failed ({watcher.returncode})")
    run = parse(out.splitlines())
    result = summarize(run, SKIP_S)
    print(figures(result, run["info"]))
    check(result["latency"] is not None, "no click came near any flash")
    pairs = result["pairs"]
    print("click - flash (ms):",
          " ".join("none" if c is None else f"{(c - f) * 1000:.1f}" for f, c in pairs))
    # Ten beats are due; a stalled machine may show fewer, but not none.
    check(len(pairs) >= 6, f"only {len(pairs)} flashes seen")
    for f, c in pairs:
        # A flash the probe could only bracket loosely (it was kept from polling) gets
        # that much more room.
        room = BOUND_MS + result["errors"][f]
        if c is not None:
            check(abs(c - f) * 1000 <= room, f"click {(c - f) * 1000:.1f} ms from its flash")
    check(all(c is not None for _, c in pairs), "a flash without its click")
    check(not result["stray_clicks"], f"clicks without a flash at {result['stray_clicks']}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
