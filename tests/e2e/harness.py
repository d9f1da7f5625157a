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

    def __init__(self, binary, env=None, stderr=None):
        self.proc = subprocess.Popen([binary], env=env, stderr=stderr)
        deadline = time.monotonic() + 30  # the sanitizer build starts slowly
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

    def __init__(self, env=None):
        self.file = tempfile.NamedTemporaryFile(suffix=".raw", delete=False)
        self.proc = subprocess.Popen(
            ["parec", "-d", SINK_MONITOR, "--rate", str(RATE), "--channels=1",
             "--format=s16le", "--raw"], stdout=self.file, env=env)
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


def on_grid(gaps, interval, slack=2.0, missing=1):
    """Whether clicks keep to one beat grid: each gap a whole number of beats, within
    `slack` ms, and no more than `missing` beats without a click (a tick the GUI thread
    reached too late loses its click, but never moves the others)."""
    beats = [round(g / interval) for g in gaps]
    return (all(b >= 1 and abs(g - b * interval) <= slack for g, b in zip(gaps, beats))
            and sum(b - 1 for b in beats) <= missing)


def onsets_ms(samples):
    return [i * 1000 / RATE for i in onsets(samples, RATE)]


class PrivatePulse:
    """A PulseAudio server of the test's own, with the null sink, to stop and start."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="metronome-pulse-")
        os.chmod(self.dir, 0o700)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.dir,
                        PULSE_SERVER=f"unix:{self.dir}/pulse/native")
        self.keeper = None

    def start(self):
        subprocess.run(["pulseaudio", "-D", "--exit-idle-time=-1", "--system=false", "-n",
                        "--disallow-exit", "--load=module-null-sink sink_name=metronome "
                        "rate=48000 channels=1", "--load=module-native-protocol-unix"],
                       env=self.env, check=True, capture_output=True)
        for _ in range(50):
            if subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        subprocess.run(["pactl", "set-default-sink", "metronome"], env=self.env, check=True)
        # Keep the null sink awake, as scripts/services.sh does.
        self.keeper = subprocess.Popen(
            ["pacat", "--raw", "--rate=48000", "--channels=1", "--format=s16le",
             "--latency-msec=30", "-d", "metronome", "/dev/zero"], env=self.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)
        subprocess.run(["pacat", "--raw", "--rate=48000", "--channels=1", "--format=s16le",
                        "--latency-msec=80", "-d", "metronome"], input=bytes(48000),
                       env=self.env, check=True)

    def pid(self):
        with open(os.path.join(self.dir, "pulse", "pid")) as f:
            return int(f.read().split()[0])

    def kill(self):
        pid = self.pid()
        os.kill(pid, signal.SIGKILL)
        if self.keeper:
            self.keeper.kill()
            self.keeper.wait()
        for _ in range(50):
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)
