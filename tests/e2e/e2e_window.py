#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real window: with no display at all; on X11 its size, place, shape, dragging, CREDITS
and EXIT; on a headless Wayland compositor (weston) at scale 2, as round."""
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import Metronome, Program, check, run, sh

YELLOW = bytes((255, 255, 192))
W, H = 423, 518
RING = 2  # the bevel's outer rings lie outside the yellow: the window's edge


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


def round_window(screenshot, scale, where, app):
    """Waits for the whole window in the screenshots that `screenshot()` writes and returns
    where it is; checks its size, and that inside its corners what lies behind it shows."""
    deadline, box = time.monotonic() + 40, None
    while not (box and box[2] - box[0] >= (W - 2 * RING - 2) * scale):  # not half drawn
        check(app.poll() is None, f"{where}: the program ended with status {app.returncode}")
        check(time.monotonic() < deadline, f"{where}: the window never appeared")
        time.sleep(0.3)
        png = screenshot()
        if not png:
            continue
        found = sh("convert", png, "-fill", "black", "+opaque", "#FFFFC0", "-format", "%@", "info:")
        w, h, x, y = (int(v) for v in re.split(r"[x+]", found))
        box = (x, y, x + w - 1, y + h - 1) if w > 1 else None
        ppm = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], capture_output=True).stdout
        os.unlink(png)
    _, size, _, raw = ppm.split(b"\n", 3)
    width = int(size.split()[0])
    pixel = lambda px, py: raw[(py * width + px) * 3:(py * width + px) * 3 + 3]  # noqa: E731
    x0, y0, x1, y1 = (v + RING * scale * d for v, d in zip(box, (-1, -1, 1, 1)))
    check(abs((x1 - x0 + 1) - W * scale) <= scale and abs((y1 - y0 + 1) - H * scale) <= scale,
          f"{where}: window {x1 - x0 + 1}x{y1 - y0 + 1}, not {W * scale}x{H * scale}")
    # Cut away inside the corners' 50-pixel ellipses, which lie more than 5 pixels in along
    # each diagonal: there what lies behind the window shows, not its yellow.
    for (cx, dx), (cy, dy) in itertools.product(((x0, 1), (x1, -1)), ((y0, 1), (y1, -1))):
        check(all(pixel(cx + dx * i, cy + dy * i) != YELLOW for i in range(5 * scale)),
              f"{where}: the corner at {cx},{cy} is the window's yellow")
    print(f"{where}: window at {x0},{y0}, {x1 - x0 + 1}x{y1 - y0 + 1}, round corners")
    return x0, y0


def on_x11(binary, folder):
    def screenshot():
        sh("import", "-window", "root", os.path.join(folder, "x11.png"))
        return os.path.join(folder, "x11.png")

    m = Metronome(binary)
    x, y, _, _ = m.geometry()
    check(round_window(screenshot, 1, "X11", m.proc) == (x, y), f"X11 puts it at {x},{y}")
    screen_w, screen_h = (int(v) for v in sh("xdotool", "getdisplaygeometry").split())
    check(abs(x - (screen_w - W) // 2) <= 1 and abs(y - (screen_h - H) // 2) <= 1,
          f"window at {x},{y} is not centred")

    # No window manager here: dragging the background moves the window all the same.
    sh("xdotool", *f"mousemove --sync {x + 30} {y + 30} mousedown 1 mousemove --sync {x + 60} "
       f"{y + 50} mousemove --sync {x + 80} {y + 70} mouseup 1".split())
    time.sleep(0.2)
    nx, ny, _, _ = m.geometry()
    check((nx - x, ny - y) == (50, 40), f"dragged by 50,40 the window moved {nx - x},{ny - y}")

    # From the scroll bar, which has the focus, five tabs to "CREDITS": Return presses it,
    # and the beat goes on behind its box. Back to "EXIT", and keypad Enter presses it.
    sh("xdotool", "key", "--delay", "50", *["Tab"] * 5, "Return")
    time.sleep(0.3)
    check(m.flashes(), "the beat stopped behind the credits box")
    # Closed, it leaves the focus on the window, where nothing gives it back but the
    # program (else a screen reader hears nothing more); "EXIT" is one Shift+Tab back.
    sh("xdotool", "key", "Return")
    time.sleep(0.3)
    focus = sh("xdotool", "getwindowfocus").strip()
    check(focus == m.window, f"after the credits box the focus is on {focus}, not {m.window}")
    sh("xdotool", "key", "--delay", "50", "shift+Tab", "KP_Enter")
    check(m.proc.wait(2) == 0, f"exit status {m.proc.returncode}")


def on_wayland(binary, folder, scale):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(XDG_RUNTIME_DIR=folder, WAYLAND_DISPLAY="metronome-test", QT_QPA_PLATFORM="wayland")
    # --debug opens the screenshooter to clients; pixman, as headless draws nothing by default.
    weston = subprocess.Popen(
        ["weston", "--backend=headless-backend.so", "--use-pixman", "--no-config", "--debug",
         "--idle-time=0", "--socket=metronome-test", "--width=1024", "--height=768",
         f"--scale={scale}", f"--log={folder}/weston.log"], env=env, start_new_session=True,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def screenshot():
        try:
            subprocess.run(["weston-screenshooter"], cwd=folder, env=env, timeout=15,
                           capture_output=True)
        except subprocess.TimeoutExpired:
            return None
        return next((os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".png")),
                    None)

    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(f"{folder}/metronome-test") and time.monotonic() < deadline:
            time.sleep(0.1)
        app = Program([binary], env)
        round_window(screenshot, scale, f"Wayland at scale {scale}", app.proc)
        app.stop()  # before its compositor
    finally:
        os.killpg(weston.pid, signal.SIGKILL)
        weston.wait()


def main(binary):
    says_there_is_no_display(binary)
    # Scale 2 on Wayland: the shape in device pixels, where the mask only takes input.
    for part in (lambda f: on_x11(binary, f), lambda f: on_wayland(binary, f, 2)):
        folder = tempfile.mkdtemp(prefix="metronome-window-")
        os.chmod(folder, 0o700)
        try:
            part(folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    print("3 passed, 0 failed")


if __name__ == "__main__":
    run(main, sys.argv[1])
