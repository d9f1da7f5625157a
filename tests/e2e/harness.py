"""Drives the real metronome under the X server and PulseAudio server of scripts/test."""
import array
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from onsets import onsets  # noqa: E402

TITLE = "Metronome - By Velkaro"
RATE = 48000
SINK_MONITOR = "metronome.monitor"


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def sh(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


class Metronome:
    """The program, started and found by its window."""

    def __init__(self, binary, env=None):
        self.proc = subprocess.Popen([binary], env=env)
        deadline = time.monotonic() + 10
        self.window = None
        while time.monotonic() < deadline and not self.window:
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                                 capture_output=True, text=True).stdout.split()
            self.window = out[0] if out else None
            if not self.window:
                time.sleep(0.05)
        check(self.window, "the window never appeared")
        self.started = time.monotonic()

    def geometry(self):
        values = {}
        for line in sh("xdotool", "getwindowgeometry", "--shell", self.window).split():
            key, _, value = line.partition("=")
            values[key] = int(value)
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def click(self, x, y):
        """Clicks at window coordinates."""
        wx, wy, _, _ = self.geometry()
        sh("xdotool", "mousemove", "--sync", str(wx + x), str(wy + y), "click", "1")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Screen:
    """A grab of the whole X screen."""

    def __init__(self):
        raw = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"],
                             check=True, capture_output=True).stdout
        size = sh("xdpyinfo").split("dimensions:")[1].split()[0]
        self.width, self.height = (int(v) for v in size.split("x"))
        self.data = raw
        check(len(raw) == self.width * self.height * 3, "unexpected grab size")

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


class Recorder:
    """Records the null sink's monitor, mono 16-bit at 48 kHz."""

    def __init__(self):
        self.file = tempfile.NamedTemporaryFile(suffix=".raw", delete=False)
        self.proc = subprocess.Popen(
            ["parec", "-d", SINK_MONITOR, "--rate", str(RATE), "--channels=1",
             "--format=s16le", "--raw"], stdout=self.file)
        self.started = time.monotonic()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(5)
        self.file.close()
        samples = array.array("h")
        with open(self.file.name, "rb") as f:
            samples.frombytes(f.read())
        os.unlink(self.file.name)
        return samples


def onsets_ms(samples):
    return [i * 1000 / RATE for i in onsets(samples, RATE)]
