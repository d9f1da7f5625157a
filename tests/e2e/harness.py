# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the real metronome under the X server and PulseAudio server of scripts/test."""
import os
import signal
import subprocess
import sys
import threading
import time
import traceback

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)  # for the tests' imports

TITLE = "Metronome - By Velkaro"
GREEN, RED = (0, 255, 0), (255, 0, 0)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def sh(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


class Program:
    """A program started with its output kept, each line timed from its start beside what
    the test saw of it, so that a test that fails can show both."""

    started_all = []

    def __init__(self, args, env=None):
        self.started = time.monotonic()
        self.proc = subprocess.Popen(args, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, errors="replace")
        self.lines, self.events = [], []  # (seconds after start, text)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        Program.started_all.append(self)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic() - self.started, line.rstrip("\n")))

    def saw(self, what):
        self.events.append((time.monotonic() - self.started, what))

    def output(self):
        return [line for _, line in self.lines]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.reader.join(5)

    def report(self):
        status = self.proc.poll()
        print(f"--- {self.proc.args[0]} (pid {self.proc.pid}): "
              f"{'still running' if status is None else f'exit status {status}'}, "
              f"{time.monotonic() - self.started:.2f} s after its start", file=sys.stderr)
        for t, what in sorted(self.events + [(t, f"said: {line}") for t, line in self.lines]):
            print(f"{t:8.2f} s  {what}", file=sys.stderr)
        # A program that hangs: which of its threads waits, and on what in the kernel.
        tasks = f"/proc/{self.proc.pid}/task"
        for tid in sorted(os.listdir(tasks)) if status is None and os.path.isdir(tasks) else []:
            try:
                read = lambda name: open(f"{tasks}/{tid}/{name}").read().strip()  # noqa: E731
                state = read("stat").rsplit(")", 1)[1].split()[0]
                print(f"  thread {tid} {read('comm')}: {state} in {read('wchan') or '-'}",
                      file=sys.stderr)
            except OSError:
                pass


def run(main, *args):
    """Runs a test's main and stops every program it started; when it fails, shows each of
    them first, before the failure."""
    try:
        main(*args)
    except BaseException:
        for program in Program.started_all:
            program.report()
        traceback.print_exc()
        sys.exit(1)
    finally:
        for program in Program.started_all:
            program.stop()


class Metronome(Program):
    """The program, started and found by its window."""

    def __init__(self, binary, env=None):
        super().__init__([binary], env)
        self.first_flash, self.window = None, None
        deadline = time.monotonic() + 30  # the sanitizer build starts slowly
        while not self.window:
            check(time.monotonic() < deadline, "the window never appeared")
            time.sleep(0.05)
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                                   capture_output=True, text=True).stdout.split()
            self.window = found[0] if found else None
        self.saw(f"window {self.window} shown")

    def geometry(self):
        values = dict(line.split("=") for line in
                      sh("xdotool", "getwindowgeometry", "--shell", self.window).split())
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def flashes(self, timeout=10):
        """Whether the beat area (clear of any box over the window's middle) turns from one
        colour to the other between two grabs in a row within the timeout. Not both colours
        within a stretch of grabs: one about a beat long keeps missing a flip between two."""
        x, y, _, _ = self.geometry()
        end, last = time.monotonic() + timeout, None
        while time.monotonic() < end:
            colour = tuple(subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x + 24}+"
                                          f"{y + 110}", "-depth", "8", "rgb:-"],
                                         check=True, capture_output=True).stdout)
            if {last, colour} == {GREEN, RED}:
                if self.first_flash is None:
                    self.first_flash = time.monotonic() - self.started
                self.saw(f"flashing: {last} then {colour}")
                return True
            last = colour
            time.sleep(0.1)
        self.saw(f"no flash for {timeout} s; the beat area showed {last} last")
        return False

    def report(self):
        first = "none" if self.first_flash is None else f"{self.first_flash:.2f} s after its start"
        print(f"--- the first flash the test saw of {self.proc.args[0]}: {first}", file=sys.stderr)
        super().report()

