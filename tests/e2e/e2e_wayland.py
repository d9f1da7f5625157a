#!/usr/bin/env python3
"""The real window on a Wayland compositor (weston, headless) at scale 1 and 2: as round
as on X11, its corners showing what lies behind the window, not its yellow."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import check

YELLOW = (255, 255, 192)
W, H = 423, 518
# The bevel's outermost ring of 2 pixels lies outside the yellow: the window's edge.
RING = 2


class Weston:
    """A headless weston of the test's own, with its own runtime directory."""

    def __init__(self, scale):
        self.dir = tempfile.mkdtemp(prefix="metronome-weston-")
        os.chmod(self.dir, 0o700)
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(XDG_RUNTIME_DIR=self.dir, WAYLAND_DISPLAY="metronome-test")
        # --debug opens the screenshooter to clients; pixman, since headless draws nothing
        # by default.
        self.proc = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", "--no-config",
             "--debug", "--idle-time=0", f"--socket={self.env['WAYLAND_DISPLAY']}",
             "--width=1024", "--height=768", f"--scale={scale}",
             f"--log={self.dir}/weston.log"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        socket = os.path.join(self.dir, self.env["WAYLAND_DISPLAY"])
        deadline = time.monotonic() + 20
        while not os.path.exists(socket) and time.monotonic() < deadline:
            check(self.proc.poll() is None, "weston did not start")
            time.sleep(0.1)
        check(os.path.exists(socket), "weston's socket never appeared")

    def screenshot(self):
        """The output as (width, height, rgb bytes), or None if the grab failed."""
        shots = os.path.join(self.dir, "shots")
        os.makedirs(shots, exist_ok=True)
        try:
            subprocess.run(["weston-screenshooter"], cwd=shots, env=self.env, timeout=15,
                           capture_output=True)
        except subprocess.TimeoutExpired:
            return None
        files = sorted(os.listdir(shots))
        if not files:
            return None
        path = os.path.join(shots, files[-1])
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True,
                              text=True).stdout.split()
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"],
                             capture_output=True).stdout
        keep = os.environ.get("METRONOME_SHOTS")
        if keep:
            shutil.copy(path, os.path.join(keep, f"wayland-{time.time():.0f}.png"))
        os.unlink(path)
        if len(size) != 2:
            return None
        return int(size[0]), int(size[1]), raw

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def yellow_box(width, height, raw):
    """Bounding box (x0, y0, x1, y1) of the window's yellow, None if there is none."""
    xs, ys = [], []
    row_bytes = width * 3
    yellow = bytes(YELLOW)
    for y in range(height):
        row = raw[y * row_bytes:(y + 1) * row_bytes]
        first = row.find(yellow)
        while first >= 0 and first % 3:
            first = row.find(yellow, first + 1)
        if first < 0:
            continue
        last = row.rfind(yellow)
        while last >= 0 and last % 3:
            last = row.rfind(yellow, 0, last + 2)
        xs += [first // 3, last // 3]
        ys.append(y)
    return (min(xs), min(ys), max(xs), max(ys)) if ys else None


def check_scale(binary, scale):
    weston = Weston(scale)
    app = None
    try:
        env = dict(weston.env, QT_QPA_PLATFORM="wayland")
        app = subprocess.Popen([binary], env=env)
        box, shot = None, None
        deadline = time.monotonic() + 40
        while time.monotonic() < deadline:
            check(app.poll() is None, f"the program ended with status {app.returncode}")
            shot = weston.screenshot()
            if shot:
                box = yellow_box(*shot)
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

        def pixel(x, y):
            i = (y * width + x) * 3
            return tuple(raw[i:i + 3])
        # A 5 × 5 square in each corner lies wholly outside the outline's 50-pixel ellipse.
        for name, (cx, dx), (cy, dy) in (("top left", (x0, 1), (y0, 1)),
                                           ("top right", (x1, -1), (y0, 1)),
                                           ("bottom left", (x0, 1), (y1, -1)),
                                           ("bottom right", (x1, -1), (y1, -1))):
            for i in range(5 * scale):
                for j in range(5 * scale - i):
                    x, y = cx + dx * i, cy + dy * j
                    if 0 <= x < width and 0 <= y < height:
                        check(pixel(x, y) != YELLOW,
                              f"scale {scale}: {name} corner is the window's yellow at {x},{y}")
        inside = pixel(x0 + 30 * scale, y0 + 30 * scale)
        check(inside == YELLOW, f"scale {scale}: background {inside}")
        print(f"scale {scale}: window at {x0},{y0}, {x1 - x0 + 1}x{y1 - y0 + 1}, round corners")
    finally:
        if app and app.poll() is None:
            app.terminate()
            try:
                app.wait(5)
            except subprocess.TimeoutExpired:
                app.kill()
                app.wait()
        weston.stop()


def main(binary):
    for scale in (1, 2):
        check_scale(binary, scale)
    print("2 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
