#!/usr/bin/env python3
"""The user's own click from the desktop folder, told from the built-in one by its pitch:
heard, replaced, removed, garbage, a FIFO, and a desktop renamed in user-dirs.dirs, while
the beat goes on 600 ms apart and each bad file is reported once."""
import array
import math
import os
import shutil
import sys
import tempfile
import time
import wave

from harness import check, Metronome, on_grid, onsets, RATE, Recorder

PLACE = os.path.join("Cool Folder", "Music", "metronome.wav")
PHASE_S = 3.0
SETTLED_S = 1.4  # noticed at the next beat, heard from the one after it


def write_tone(path, freq, rate, channels):
    """120 ms of a sine at half scale, with 2 ms fades."""
    n = int(rate * 0.12)
    frames = array.array("h")
    for i in range(n):
        fade = min(1.0, i / (rate * 0.002), (n - i) / (rate * 0.002))
        frames.extend([int(16000 * fade * math.sin(2 * math.pi * freq * i / rate))] * channels)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".new"
    with wave.open(tmp, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames.tobytes())
    os.replace(tmp, path)  # as mv does: a new inode


def pitch(samples, at):
    """The click's frequency in Hz, from 20 to 70 ms after its onset; 0 when it is over by
    then, as the built-in 15 ms click is."""
    window = samples[at + RATE // 50:at + RATE * 7 // 100]
    if math.sqrt(sum(s * s for s in window) / max(1, len(window))) < 1000:
        return 0
    crossings = sum(1 for a, b in zip(window, window[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / 0.05


def main(binary):
    home = tempfile.mkdtemp(prefix="metronome-home-")
    desktop_file = os.path.join(home, "Desktop", PLACE)
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_") or k == "XDG_RUNTIME_DIR"}
    env["HOME"] = home
    write_tone(desktop_file, 440, 44100, 1)

    def garbage():
        with open(desktop_file, "wb") as f:  # in place, same inode
            f.write(os.urandom(3000))

    def fifo():
        os.mkfifo(desktop_file + ".fifo")
        os.replace(desktop_file + ".fifo", desktop_file)

    def rename_desktop():
        write_tone(os.path.join(home, "Bureau", PLACE), 1760, 22050, 2)
        os.makedirs(os.path.join(home, ".config"), exist_ok=True)
        with open(os.path.join(home, ".config", "user-dirs.dirs"), "w") as f:
            f.write('XDG_DESKTOP_DIR="$HOME/Bureau"\n')

    # What each phase does, and the pitch heard once it has settled (0: the built-in click).
    phases = [
        ("tone file", None, 440),
        ("replaced by mv", lambda: write_tone(desktop_file, 1760, 22050, 2), 1760),
        ("removed", lambda: os.remove(desktop_file), 0),
        ("back again", lambda: write_tone(desktop_file, 440, 44100, 1), 440),
        ("garbage over it", garbage, 0),
        ("a FIFO", fifo, 0),
        ("desktop renamed", rename_desktop, 1760),
    ]
    log = tempfile.TemporaryFile(mode="w+")
    rec = Recorder()
    time.sleep(0.5)
    m = Metronome(binary, env=env, stderr=log)
    starts = []
    try:
        for _, action, _ in phases:
            if action:
                action()
            starts.append(time.monotonic() - rec.started)
            time.sleep(PHASE_S)
        check(m.proc.poll() is None, "the program ended")
    finally:
        m.stop()
        samples = rec.stop()
        shutil.rmtree(home, ignore_errors=True)

    found = onsets(samples, RATE)
    heard = [(i / RATE, pitch(samples, i)) for i in found]
    gaps = [(b - a) * 1000 / RATE for a, b in zip(found, found[1:])]
    print("clicks (s, Hz):", " ".join(f"{t:.2f}:{p:.0f}" for t, p in heard))
    check(len(found) >= len(phases) * PHASE_S / 0.6 - 2, f"only {len(found)} clicks")
    check(on_grid(gaps, 600, slack=3), f"the beat faltered: {gaps}")

    for n, (name, _, want) in enumerate(phases):
        # The recording's clock starts a little after the recorder was asked to: keep clear
        # of the phase's edges.
        begin = starts[n] + (SETTLED_S + 0.2 if n else 1.0)
        end = starts[n] + PHASE_S - 0.6
        got = [p for t, p in heard if begin <= t <= end]
        ok = bool(got) and all((p == 0) if want == 0 else abs(p - want) < want * 0.05 for p in got)
        check(ok, f"{name}: heard {got} Hz, wanted {want or 'the built-in click'}")
        if n:
            first = next((t for t, p in heard if t > starts[n] and
                          ((p == 0) if want == 0 else abs(p - want) < want * 0.05)), None)
            print(f"{name}: heard {(first - starts[n]) * 1000:.0f} ms after the change")

    log.seek(0)
    lines = [line for line in log.read().splitlines() if "built-in click" in line]
    print("\n".join(lines))
    check(len(lines) == 3, f"expected one line each for removed, garbage, FIFO; got {len(lines)}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
