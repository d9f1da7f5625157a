#!/usr/bin/env python3
"""Without a display to open, the program says which one in one line and exits with 1."""
import os
import subprocess
import sys
import tempfile

from harness import check


def dead_display():
    for n in range(400, 500):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    raise AssertionError("no free display number")


def main(binary):
    base = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR")}
    runtime = tempfile.mkdtemp(prefix="metronome-nodisplay-")
    os.chmod(runtime, 0o700)
    dead = dead_display()
    cases = [
        ({}, "DISPLAY and WAYLAND_DISPLAY are not set"),
        ({"DISPLAY": dead}, f"DISPLAY={dead} does not answer, WAYLAND_DISPLAY is not set"),
        # Without a runtime directory the Wayland library has its own complaint: held back too.
        ({"QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": "wayland-none"},
         "WAYLAND_DISPLAY=wayland-none does not answer"),
        ({"QT_QPA_PLATFORM": "wayland;xcb", "WAYLAND_DISPLAY": "wayland-none",
          "XDG_RUNTIME_DIR": runtime, "DISPLAY": dead},
         f"DISPLAY={dead} does not answer, WAYLAND_DISPLAY=wayland-none does not answer"),
    ]
    failed = 0
    for extra, why in cases:
        run = subprocess.run([binary], env=dict(base, **extra), capture_output=True, text=True,
                             timeout=30)
        expected = f"metronome: cannot open a display ({why})\n"
        try:
            check(run.returncode == 1, f"{extra}: exit status {run.returncode}")
            check(run.stderr == expected, f"{extra}: stderr {run.stderr!r}")
        except AssertionError as e:
            print(f"FAIL: {e}")
            failed += 1
    os.rmdir(runtime)
    print(f"{len(cases) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv[1])
