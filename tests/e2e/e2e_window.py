#!/usr/bin/env python3
"""The real window: size, place, colours, Pause, CREDITS, EXIT; and a screen without DPI."""
import json
import os
import subprocess
import sys
import tempfile
import time

from harness import Metronome, Screen, check, sh

YELLOW, GREEN, RED, WHITE = (255, 255, 192), (0, 255, 0), (255, 0, 0), (255, 255, 255)


def beat_colour(m):
    """One pixel of the beat area, clear of any box over the window's middle."""
    x, y, _, _ = m.geometry()
    raw = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x + 24}+{y + 110}",
                          "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    return tuple(raw[:3])


def flashes(m, timeout=10):
    """Whether the beat area shows both colours within the timeout; slow under load."""
    colours, end = set(), time.monotonic() + timeout
    while colours != {GREEN, RED} and time.monotonic() < end:
        colours.add(beat_colour(m))
        time.sleep(0.05)
    return colours == {GREEN, RED}


def colours_over(m, seconds, samples=4):
    """The beat area's colours over at least `seconds` and `samples` grabs."""
    colours, count, end = set(), 0, time.monotonic() + seconds
    while time.monotonic() < end or count < samples:
        colours.add(beat_colour(m))
        count += 1
        time.sleep(0.1)
    return colours


def starts_without_dpi(binary):
    """A screen that reports no DPI: the window is still built and shown, nothing aborts."""
    with tempfile.TemporaryDirectory() as d:
        config = os.path.join(d, "screen.json")
        with open(config, "w") as f:
            json.dump({"screens": [{"name": "s", "width": 1024, "height": 768, "logicalDpi": 0}]}, f)
        env = dict(os.environ, QT_QPA_PLATFORM=f"offscreen:configfile={config}")
        proc = subprocess.Popen([binary], env=env, stderr=subprocess.PIPE, text=True)
        try:
            code = proc.wait(2)
        except subprocess.TimeoutExpired:
            code = None
        proc.kill()
        err = proc.communicate()[1]
        check(code is None, f"exited with {code} on a screen without DPI: {err}")


def main(binary):
    starts_without_dpi(binary)
    m = Metronome(binary)
    try:
        x, y, w, h = m.geometry()
        check((w, h) == (423, 518), f"window is {w}x{h}")
        screen = Screen()
        check(abs(x - (screen.width - w) // 2) <= 1 and abs(y - (screen.height - h) // 2) <= 1,
              f"window at {x},{y} is not centred")
        check(screen.pixel(x + 30, y + 30) == YELLOW, f"background {screen.pixel(x + 30, y + 30)}")
        beat = screen.pixel(x + 212, y + 300)
        check(beat in (GREEN, RED), f"beat area {beat}")
        cyan = screen.pixel(x + 44, y + 480)
        check(cyan == (192, 255, 255), f"CREDITS button {cyan}")

        # Rounded corners: the white root window shows just inside each outer corner.
        for cx, cy in ((1, 1), (w - 2, 1), (1, h - 2), (w - 2, h - 2)):
            check(screen.pixel(x + cx, y + cy) == WHITE,
                  f"corner pixel {cx},{cy} is {screen.pixel(x + cx, y + cy)}")
        # The bevel along the top edge's middle: two rings, the gap, two rings.
        top = [screen.pixel(x + w // 2, y + i) for i in range(6)]
        check(top[2] == YELLOW and top[5] == YELLOW, f"top edge rows {top}")
        check(all(p != YELLOW for p in top[:2] + top[3:5]), f"top edge rows {top}")

        # No window manager here: dragging the background moves the window all the same.
        sh("xdotool", "mousemove", "--sync", str(x + 30), str(y + 30), "mousedown", "1")
        sh("xdotool", "mousemove", "--sync", str(x + 60), str(y + 50))
        sh("xdotool", "mousemove", "--sync", str(x + 80), str(y + 70), "mouseup", "1")
        time.sleep(0.2)
        nx, ny, _, _ = m.geometry()
        check((nx - x, ny - y) == (50, 40), f"dragged by 50,40 the window moved {nx - x},{ny - y}")

        check(flashes(m), "the beat area does not flash")
        m.click(216 + 20, 416 + 16)  # "Pause"
        time.sleep(0.2)
        paused = colours_over(m, 2.0)  # more than three beats at 100 BPM
        check(len(paused) == 1, f"the beat area showed {paused} while paused")
        m.click(216 + 20, 416 + 16)
        check(flashes(m), "no flashing after Pause was unchecked")

        m.click(40 + 80, 456 + 24)  # "CREDITS"; the beat goes on behind its box
        time.sleep(0.3)
        check(flashes(m), "the beat stopped behind the credits box")
        sh("xdotool", "key", "Return")
        time.sleep(0.3)

        m.click(224 + 80, 456 + 24)  # the middle of "EXIT"
        start = time.monotonic()
        code = m.proc.wait(2)
        check(code == 0, f"exit status {code}")
        print(f"EXIT ended the program in {1000 * (time.monotonic() - start):.0f} ms")
    finally:
        m.stop()
    print("2 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
