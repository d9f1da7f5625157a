#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Pairs the flashes and clicks that bench/av_probe saw, and sums them up.

Usage: av_pairs.py [--skip SECONDS] < PROBE_OUTPUT. Prints one line of figures; with
--pips instead, the probe's recording against its own pips.

The latency is learnt from the flashes before the first key press, when the program runs
at its starting 100 BPM: a beat is 600 ms there, so any click within 300 ms of a flash can
only be that flash's. After that each flash takes the click nearest to the flash plus that
latency, within half a beat either side; so at 400 BPM a click 140 ms late is still its own
flash's and not a few milliseconds early for the next one. The expected latency then
follows the median of the last five pairs, so that a drifting lag is followed as long as
it moves by less than half a beat at a time.
"""
import sys

GREEN, RED = (0, 255, 0), (255, 0, 0)
START_TEMPO = 100


def beat_interval_ms(tempo):
    return round(60 / tempo * 1000)


def parse(lines):
    run = {"flashes": [], "errors": {}, "clicks": [], "keys": [], "pips": [], "info": {},
           "moves": []}
    for line in lines:
        f = line.strip().split(",")
        if f[0] == "flash" and tuple(int(v) for v in f[2:5]) in (GREEN, RED):
            run["flashes"].append(float(f[1]))
            run["errors"][float(f[1])] = float(f[5])
        elif f[0] == "click":
            run["clicks"].append(float(f[1]))
        elif f[0] == "pip":
            run["pips"].append(float(f[1]))
        elif f[0] == "key":
            run["keys"].append((float(f[1]), f[2]))
        elif f[0] == "move":
            run["moves"].append(float(f[1]))
        elif f[0] == "info":
            for item in f[1:]:
                name, _, value = item.partition("=")
                run["info"][name] = value
    return run


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, max(0, round(p / 100 * (len(s) - 1))))]


def learn_latency(flashes, clicks, until):
    near = []
    for f in (f for f in flashes if f < until):
        best = min(clicks, key=lambda c: abs(c - f), default=None)
        if best is not None and abs(best - f) < 0.3:
            near.append(best - f)
    return percentile(near, 50) if near else None


def pair(flashes, clicks, latency):
    """Each flash's click, or None; and the clicks that no flash took. The expected
    latency follows the recent pairs, so a slow drift of it is followed too."""
    taken, pairs, recent = set(), [], [latency]
    for i, f in enumerate(flashes):
        gaps = [flashes[j + 1] - flashes[j] for j in (i - 1, i) if 0 <= j < len(flashes) - 1]
        half = min(gaps) / 2 if gaps else 0.15
        expected = percentile(recent[-5:], 50)
        best = None
        for j, c in enumerate(clicks):
            if j not in taken and abs(c - f - expected) < half:
                if best is None or abs(c - f - expected) < abs(clicks[best] - f - expected):
                    best = j
        if best is not None:
            taken.add(best)
            recent.append(clicks[best] - f)
        pairs.append((f, None if best is None else clicks[best]))
    return pairs, [c for j, c in enumerate(clicks) if j not in taken]


def tempo_changes(run, pairs, lag=None):
    """For each key that changed the tempo: first flash and first click of the new grid,
    each minus (the moment of the key press + the new beat interval), in ms."""
    tempo, out = START_TEMPO, []
    steps = {"Right": 1, "Left": -1, "End": 400, "Home": -400}
    stop = min([t for t, name in run["keys"] if name in ("Tab", "Home")], default=float("inf"))
    for t, name in run["keys"]:
        if name not in steps or t >= stop:
            continue
        tempo = min(400, max(20, tempo + steps[name]))
        due = t + beat_interval_ms(tempo) / 1000
        after = [(f, c) for f, c in pairs if f > t + (lag or 0)]
        if after:
            f, c = after[0]
            out.append(((f - due) * 1000, None if c is None else (c - due) * 1000))
    return out


def flash_lag(run):
    """How long after its beat is due a flash shows, from the first flash after Home: the
    beat it shows was due 3 s (tempo 20) after the key. None without Home."""
    home = [t for t, name in run["keys"] if name == "Home"]
    if not home:
        return None
    after = [f for f in run["flashes"] if f > home[0] + 2.5]
    return after[0] - home[0] - beat_interval_ms(20) / 1000 if after else None


def unticks(run, pairs, lag):
    """For each check box unticked with the space bar (every second press): whether the
    first beat due after it was heard. Flashes of beats due before it may still follow
    the key, by the flash's lag."""
    presses = [t for t, name in run["keys"] if name == "space"]
    out = []
    for t in presses[1::2]:
        after = [c for f, c in pairs if f > t + (lag or 0)]
        out.append("none" if not after else "heard" if after[0] is not None else "silent")
    return out


def intervals_off(run, pairs, lag):
    """Of the gaps between clicks of consecutive beats at one tempo, the share in % that is
    off the beat interval by more than 2 ms, and the worst in ms."""
    tempo, changes = START_TEMPO, []
    steps = {"Right": 1, "Left": -1, "End": 400, "Home": -400}
    for t, name in run["keys"]:
        if name in steps:
            tempo = min(400, max(20, tempo + steps[name]))
            changes.append((t, tempo))
    def tempo_at(f):
        now = START_TEMPO
        for t, v in changes:
            if f > t + (lag or 0) + 0.05:
                now = v
        return now
    offs = []
    for (f1, c1), (f2, c2) in zip(pairs, pairs[1:]):
        if c1 is None or c2 is None or tempo_at(f1) != tempo_at(f2):
            continue
        if any(f1 - 0.05 <= t + (lag or 0) <= f2 + 0.6 for t, _ in changes):
            continue
        want = beat_interval_ms(tempo_at(f2))
        if abs((f2 - f1) * 1000 - want) > want / 2:
            continue  # a beat between them was not seen
        offs.append(abs((c2 - c1) * 1000 - want))
    if not offs:
        return None
    return 100 * sum(1 for o in offs if o > 2) / len(offs), max(offs)


def around_moves(run, pairs, spare):
    """For each move of the stream: flashes without a click and clicks without a flash in
    the 2 s after it, and how long after it click minus flash was last off by over 10 ms."""
    out = []
    for t in run["moves"]:
        near = [(f, c) for f, c in pairs if t <= f < t + 2]
        lost = sum(1 for _, c in near if c is None)
        doubled = sum(1 for c in spare if t <= c < t + 2)
        off = [f for f, c in near if c is not None and abs(c - f) > 0.010]
        out.append((lost, doubled, (max(off) - t) * 1000 if off else 0.0))
    return out


def summarize(run, skip=1.0):
    found = float(run["info"].get("window_found", 0))
    # The first second is start-up: the audio stream is still being set up. The measured
    # part ends where the check boxes are reached for.
    stop = min([t for t, name in run["keys"] if name in ("Tab", "Home")], default=float("inf"))
    settled = [f for f in run["flashes"] if f >= found + min(1.0, skip)]
    flashes = [f for f in settled if found + skip <= f < stop]
    clicks = run["clicks"]
    first_key = run["keys"][0][0] if run["keys"] else float("inf")
    latency = learn_latency(settled, clicks, first_key)
    result = {"flashes": len(flashes), "latency": latency, "pairs": [], "stray_clicks": [],
              "changes": [], "errors": run["errors"], "unticks": [], "lag": flash_lag(run)}
    if latency is None or not flashes:
        return result
    # Pair from the end of start-up on, so that a key pressed before the measured part
    # still finds the first beat of its new grid; count only the measured part.
    pairs, spare = pair(settled, clicks, latency)
    lo, hi = flashes[0] + latency - 0.075, flashes[-1] + latency + 0.075
    result["pairs"] = [(f, c) for f, c in pairs if flashes[0] <= f < stop]
    result["unticks"] = unticks(run, pairs, result["lag"])
    result["stray_clicks"] = [c for c in spare if lo <= c <= hi]
    result["changes"] = tempo_changes(run, pairs, result["lag"])
    result["intervals"] = intervals_off(run, result["pairs"], result["lag"])
    result["moves"] = around_moves(run, pairs, spare)
    return result


def figures(result, info):
    offsets = [(c - f) * 1000 for f, c in result["pairs"] if c is not None]
    unpaired = sum(1 for _, c in result["pairs"] if c is None)
    parts = [f"flashes={result['flashes']}", f"paired={len(offsets)}",
             f"unpaired_flashes={unpaired}", f"unpaired_clicks={len(result['stray_clicks'])}"]
    if offsets:
        p5, p95 = percentile(offsets, 5), percentile(offsets, 95)
        parts += [f"offset_median_ms={percentile(offsets, 50):.1f}", f"p5={p5:.1f}",
                  f"p95={p95:.1f}", f"spread={p95 - p5:.1f}", f"min={min(offsets):.1f}",
                  f"max={max(offsets):.1f}"]
    changes = result["changes"]
    heard = [c for _, c in changes if c is not None]
    parts.append(f"tempo_changes={len(changes)}")
    if heard:
        parts += [f"change_to_click_median_ms={percentile(heard, 50):.1f}",
                  f"change_to_click_max_ms={max(heard):.1f}"]
    if changes:
        parts.append(f"change_to_flash_median_ms={percentile([f for f, _ in changes], 50):.1f}")
    if result.get("intervals"):
        share, worst = result["intervals"]
        parts += [f"intervals_off_2ms_pct={share:.1f}", f"interval_off_max_ms={worst:.1f}"]
    for i, (lost, doubled, settle) in enumerate(result.get("moves", [])):
        parts.append(f"move{i + 1}=lost:{lost},doubled:{doubled},off10ms_until:{settle:.0f}ms")
    if result.get("lag") is not None:
        parts.append(f"flash_lag_ms={result['lag'] * 1000:.1f}")
    for name, heard in zip(("after_pause", "after_mute"), result["unticks"]):
        parts.append(f"{name}={heard}")
    errors = [result["errors"][f] for f, _ in result["pairs"]]
    parts += [f"flash_error_max_ms={max(errors, default=float('nan')):.2f}",
              f"monitor_gain_ms_per_s={float(info.get('monitor_gain_ms_per_s', 'nan')):.2f}"]
    return " ".join(parts)


def calibration(run):
    """The recorded pips against the times their playback stream's timing gave them."""
    d = [(c - p) * 1000 for p in run["pips"] for c in run["clicks"] if abs(c - p) < 0.1]
    parts = [f"pips={len(run['pips'])}", f"recorded={len(d)}"]
    if d:
        parts += [f"recorded_minus_playback_timing_ms={percentile(d, 50):.2f}",
                  f"min={min(d):.2f}", f"max={max(d):.2f}"]
    return " ".join(parts)


def main():
    run = parse(sys.stdin)
    if sys.argv[1:2] == ["--pips"]:
        print(calibration(run))
        return
    skip = float(sys.argv[2]) if sys.argv[1:2] == ["--skip"] else 1.0
    print(figures(summarize(run, skip), run["info"]))


if __name__ == "__main__":
    main()
