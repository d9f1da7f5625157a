#!/usr/bin/env python3
"""The real window: size, place, shape, dragging, CREDITS, EXIT; and no display at all."""
import os
import subprocess
import sys
import time

from harness import Metronome, check, grab, sh

YELLOW, WHITE = (255, 255, 192), (255, 255, 255)


def says_there_is_no_display(binary):
    """One line naming what was tried, and exit status 1."""
    base = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    dead = next(f":{n}" for n in range(400, 500) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    for extra, why in [
            ({}, "DISPLAY and WAYLAND_DISPLAY are not set"),
            ({"QT_QPA_PLATFORM": "wayland;xcb", "WAYLAND_DISPLAY": "wayland-none",
              "DISPLAY": dead},
             f"DISPLAY={dead} does not answer, WAYLAND_DISPLAY=wayland-none does not answer")]:
        run = subprocess.run([binary], env=dict(base, **extra), capture_output=True, text=True,
                             timeout=30)
        check((run.returncode, run.stderr) == (1, f"metronome: cannot open a display ({why})\n"),
              f"{extra}: exit status {run.returncode}, stderr {run.stderr!r}")


def main(binary):
    says_there_is_no_display(binary)
    m = Metronome(binary)
    try:
        x, y, w, h = m.geometry()
        check((w, h) == (423, 518), f"window is {w}x{h}")
        size = sh("xdpyinfo").split("dimensions:")[1].split()[0]
        screen_w, screen_h = (int(v) for v in size.split("x"))
        check(abs(x - (screen_w - w) // 2) <= 1 and abs(y - (screen_h - h) // 2) <= 1,
              f"window at {x},{y} is not centred")
        pixel = grab(x, y, w, h)
        check(pixel(30, 30) == YELLOW, f"background {pixel(30, 30)}")
        # Rounded corners: the white root window shows just inside each outer corner.
        for cx, cy in ((1, 1), (w - 2, 1), (1, h - 2), (w - 2, h - 2)):
            check(pixel(cx, cy) == WHITE, f"corner pixel {cx},{cy} is {pixel(cx, cy)}")
        # The bevel along the top edge's middle: two rings, the gap, two rings.
        top = [pixel(w // 2, i) for i in range(6)]
        check(top[2] == YELLOW and top[5] == YELLOW, f"top edge rows {top}")
        check(all(p != YELLOW for p in top[:2] + top[3:5]), f"top edge rows {top}")

        # No window manager here: dragging the background moves the window all the same.
        sh("xdotool", "mousemove", "--sync", str(x + 30), str(y + 30), "mousedown", "1")
        sh("xdotool", "mousemove", "--sync", str(x + 60), str(y + 50))
        sh("xdotool", "mousemove", "--sync", str(x + 80), str(y + 70), "mouseup", "1")
        time.sleep(0.2)
        nx, ny, _, _ = m.geometry()
        check((nx - x, ny - y) == (50, 40), f"dragged by 50,40 the window moved {nx - x},{ny - y}")

        m.click(40 + 80, 456 + 24)  # "CREDITS"; the beat goes on behind its box
        time.sleep(0.3)
        check(m.flashes(), "the beat stopped behind the credits box")
        sh("xdotool", "key", "Return")
        time.sleep(0.3)
        m.click(224 + 80, 456 + 24)  # the middle of "EXIT"
        check(m.proc.wait(2) == 0, f"exit status {m.proc.returncode}")
    finally:
        m.stop()
    print("2 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
