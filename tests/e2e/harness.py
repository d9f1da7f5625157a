# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the real metronome under the X server and PulseAudio server of scripts/test."""
import array
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)
from onsets import onsets  # noqa: E402,F401 (for the tests)

TITLE = "Metronome - By Velkaro"
RATE = 48000
GREEN, RED = (0, 255, 0), (255, 0, 0)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def sh(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


class Program:
    """The program started with its output kept, each line with the time it came, so that a
    test that fails can show what the program said and when."""

    started_all = []

    def __init__(self, binary, env=None):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, errors="replace")
        self.lines = []  # (seconds after start, line)
        self.events = []  # what the test saw, on the same clock
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        Program.started_all.append(self)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic() - self.started, line.rstrip("\n")))

    def saw(self, what):
        self.events.append((time.monotonic() - self.started, what))

    def output(self):
        """What the program wrote so far, stdout and stderr together."""
        return [line for _, line in self.lines]

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
    """Runs a test's main; when it fails, shows every program it started, with its output
    and what the test saw of it, before the failure itself."""
    try:
        main(*args)
    except BaseException:
        for program in Program.started_all:
            program.report()
        traceback.print_exc()
        sys.exit(1)


class Metronome(Program):
    """The program, started and found by its window."""

    def __init__(self, binary, env=None):
        super().__init__(binary, env)
        deadline = time.monotonic() + 30  # the sanitizer build starts slowly
        self.window = None
        self.first_flash = None
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

    def click(self, x, y):
        """Clicks at window coordinates. Without --sync, which waits for a move that never
        comes when the pointer is there already; the server keeps the events in order."""
        wx, wy, _, _ = self.geometry()
        sh("xdotool", "mousemove", str(wx + x), str(wy + y), "click", "1")

    def beat_colour(self, x, y):
        """The colour of a pixel of the beat area, clear of any box over the window's middle,
        for the window at x, y."""
        return tuple(subprocess.run(["import", "-window", "root", "-crop",
                                     f"1x1+{x + 24}+{y + 110}", "-depth", "8", "rgb:-"],
                                    check=True, capture_output=True).stdout)

    def beat_colours(self, seconds, samples=4):
        """The colours of the beat area over at least `seconds` and `samples` grabs."""
        x, y, _, _ = self.geometry()
        colours, count, end = set(), 0, time.monotonic() + seconds
        while time.monotonic() < end or count < samples:
            colours.add(self.beat_colour(x, y))
            count += 1
            time.sleep(0.1)
        return colours

    def flashes(self, timeout=10):
        """Whether the beat area turns from one colour to the other between two grabs in a
        row within the timeout; slow under load. Not both colours within one stretch of
        grabs: stretches about a beat long keep missing a flip that falls between two of
        them, at 100 BPM for many seconds."""
        x, y, _, _ = self.geometry()
        end, last = time.monotonic() + timeout, None
        while time.monotonic() < end:
            colour = self.beat_colour(x, y)
            if {last, colour} == {GREEN, RED}:
                if self.first_flash is None:
                    self.first_flash = time.monotonic() - self.started
                self.saw(f"flashing: {last} then {colour}")
                return True
            last = colour
            time.sleep(0.1)
        self.saw(f"no flash for {timeout} s; the beat area showed {last} last")
        return False

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
        first = "none" if self.first_flash is None else f"{self.first_flash:.2f} s after its start"
        print(f"--- the first flash the test saw of {self.proc.args[0]}: {first}", file=sys.stderr)
        super().report()


class Recorder:
    """Records the null sink's monitor, mono 16-bit at 48 kHz."""

    def __init__(self, env=None):
        self.file = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            ["parec", "-d", "metronome.monitor", f"--rate={RATE}", "--channels=1",
             "--format=s16le", "--raw"], stdout=self.file, env=env)
        self.started = time.monotonic()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(5)
        self.file.seek(0)
        samples = array.array("h")
        samples.frombytes(self.file.read())
        return samples


def on_grid(gaps, interval, slack=2.0, missing=1):
    """Whether clicks keep to one beat grid: each gap a whole number of beats, within
    `slack` ms, and no more than `missing` beats without a click (a tick the GUI thread
    reached too late loses its click, but never moves the others)."""
    beats = [round(g / interval) for g in gaps]
    return (all(b >= 1 and abs(g - b * interval) <= slack for g, b in zip(gaps, beats))
            and sum(b - 1 for b in beats) <= missing)


class PrivatePulse:
    """A PulseAudio server of the test's own with the null sink, started as scripts/test
    starts its own, to kill and start again."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="metronome-pulse-")
        runtime = os.path.join(self.dir, "runtime")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime,
                        PULSE_SERVER=f"unix:{runtime}/pulse/native")
        self.pid_file = os.path.join(runtime, "pulse", "pid")

    def start(self):
        subprocess.run(["bash", "-c", 'source "$0/services.sh"; trap - EXIT; rmdir "$services_dir"'
                        '; services_dir=$1; start_pulse', SCRIPTS, self.dir], check=True)

    def kill(self):
        """Kills the server; the stream that keeps its sink awake ends with it. Its pid file
        goes too: while nothing reaps the dead server, a new one would take it for running."""
        subprocess.run(["pkill", "-KILL", "-F", self.pid_file], capture_output=True)
        subprocess.run(["pidwait", "-F", self.pid_file], capture_output=True, timeout=10)
        if os.path.exists(self.pid_file):
            os.unlink(self.pid_file)
