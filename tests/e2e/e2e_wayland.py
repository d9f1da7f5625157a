#!/usr/bin/env python3
"""The real window on a Wayland compositor (weston, headless) at scale 1 and 2: as round
as on X11, its corners showing what lies behind the window, not its yellow."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import check

YELLOW = bytes((255, 255, 192))
W, H = 423, 518
RING = 2  # the bevel's outer rings lie outside the yellow: the window's edge


def screenshot(env, folder):
    """The compositor's output as (width, height, rgb bytes), or None."""
    try:
        subprocess.run(["weston-screenshooter"], cwd=folder, env=env, timeout=15,
                       capture_output=True)
    except subprocess.TimeoutExpired:
        return None
    for name in (n for n in os.listdir(folder) if n.endswith(".png")):
        path = os.path.join(folder, name)
        ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True).stdout
        os.unlink(path)
        _, size, _, data = ppm.split(b"\n", 3)
        width, height = (int(v) for v in size.split())
        return width, height, data
    return None


def yellow_box(width, height, raw):
    """Bounding box (x0, y0, x1, y1) of the window's yellow, None if there is none."""
    xs, ys = [], []
    for y in range(height):
        row = raw[y * width * 3:(y + 1) * width * 3]
        hits = [m.start() // 3 for m in re.finditer(re.escape(YELLOW), row) if m.start() % 3 == 0]
        if hits:
            xs += [hits[0], hits[-1]]
            ys.append(y)
    return (min(xs), min(ys), max(xs), max(ys)) if ys else None


def check_scale(binary, scale):
    run = tempfile.mkdtemp(prefix="metronome-weston-")
    os.chmod(run, 0o700)
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(XDG_RUNTIME_DIR=run, WAYLAND_DISPLAY="metronome-test", QT_QPA_PLATFORM="wayland")
    # --debug opens the screenshooter to clients; pixman, as headless draws nothing by default.
    weston = subprocess.Popen(
        ["weston", "--backend=headless-backend.so", "--use-pixman", "--no-config", "--debug",
         "--idle-time=0", "--socket=metronome-test", "--width=1024", "--height=768",
         f"--scale={scale}", f"--log={run}/weston.log"], env=env, start_new_session=True,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = None
    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(f"{run}/metronome-test") and time.monotonic() < deadline:
            time.sleep(0.1)
        app = subprocess.Popen([binary], env=env)
        box, shot = None, None
        deadline = time.monotonic() + 40
        while time.monotonic() < deadline:
            check(app.poll() is None, f"the program ended with status {app.returncode}")
            shot = screenshot(env, run)
            box = shot and yellow_box(*shot)
            # The whole window, not a frame half drawn.
            if box and box[2] - box[0] >= (W - 2 * RING - 2) * scale:
                break
            time.sleep(0.3)
        check(box, f"scale {scale}: the window never appeared")
        width, height, raw = shot
        x0, y0 = box[0] - RING * scale, box[1] - RING * scale
        x1, y1 = box[2] + RING * scale, box[3] + RING * scale
        check(abs((x1 - x0 + 1) - W * scale) <= scale and abs((y1 - y0 + 1) - H * scale) <= scale,
              f"scale {scale}: window {x1 - x0 + 1}x{y1 - y0 + 1}, not {W * scale}x{H * scale}")
        # Cut away inside the corners' 50-pixel ellipses, which lie more than 5 pixels in along
        # each diagonal: there what lies behind the window shows, not its yellow.
        for cx, dx in ((x0, 1), (x1, -1)):
            for cy, dy in ((y0, 1), (y1, -1)):
                diagonal = [((cy + dy * i) * width + cx + dx * i) * 3 for i in range(5 * scale)]
                check(all(raw[at:at + 3] != YELLOW for at in diagonal),
                      f"scale {scale}: the corner at {cx},{cy} is the window's yellow")
        print(f"scale {scale}: window at {x0},{y0}, {x1 - x0 + 1}x{y1 - y0 + 1}, round corners")
    finally:
        if app:
            app.kill()
            app.wait()
        os.killpg(weston.pid, signal.SIGKILL)
        weston.wait()
        shutil.rmtree(run, ignore_errors=True)


def main(binary):
    for scale in (1, 2):
        check_scale(binary, scale)
    print("2 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
