#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What the real Orca says about the real metronome, used from the keyboard as a blind
musician would, read from Orca's debug log ("SPEECH OUTPUT" lines).

Runs on the X server of scripts/services.sh, with a session bus, the AT-SPI bus and Orca of
its own. Fails on a value spoken cut off, a rise of the tempo not spoken while the focus
stays on "Speed Practice", a "scroll bar" or a wrong percentage for the tempo, or anything
said while nobody touches the keyboard. Usage: screen_reader.py BINARY [--keep]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TITLE = "Metronome - By Velkaro"


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Session:
    """A session bus, the AT-SPI bus and registry, perhaps openbox, Orca, and the program."""

    def __init__(self, binary, wm=True):
        self.dir = tempfile.mkdtemp(prefix="metronome-orca-")
        self.procs = []
        home = os.path.join(self.dir, "home")
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local/share"))
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--nosyslog",
                              "--print-address=1", "--print-pid=1"], env=self.env,
                             capture_output=True, text=True, check=True).stdout.split("\n")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = out[0]
        self.bus_pid = int(out[1])
        self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        self.a11y_bus = self.wait_for(self.a11y_address, "the AT-SPI bus")
        if wm:
            self.spawn(["openbox", "--sm-disable"])
            time.sleep(0.5)
        self.log = os.path.join(self.dir, "orca.log")
        self.spawn([*self.orca_copy(), "--debug", "--debug-file", self.log])
        self.wait_for(lambda: "Orca is ready" in self.read_log() or
                      "SPEECH OUTPUT: 'Screen reader on.'" in self.read_log(), "Orca")
        self.events = open(os.path.join(self.dir, "events"), "w")
        # Every object event the program sends, counted while nothing is touched.
        self.spawn(["dbus-monitor", "--address", self.a11y_bus,
                    "type='signal',interface='org.a11y.atspi.Event.Object'"], stdout=self.events)
        self.spawn([binary], env=dict(self.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        self.wait_for(self.find_window, "the window")

    def spawn(self, args, env=None, stdout=subprocess.DEVNULL):
        p = subprocess.Popen(args, env=env or self.env, stdout=stdout,
                             stderr=open(os.path.join(self.dir, "stderr"), "a"))
        self.procs.append(p)
        return p

    def orca_copy(self):
        """Orca as installed, with its own Python, but writing its debug log line by line."""
        with open(shutil.which("orca")) as f:
            text = f.read()
        interpreter = text.split("\n", 1)[0].removeprefix("#!").split()
        opened = "debug.debugFile = open(args.debug_file, 'w')"
        check(opened in text, "this Orca opens its debug file another way")
        path = os.path.join(self.dir, "orca")
        with open(path, "w") as f:
            f.write(text.replace(opened, opened[:-1] + ", buffering=1)"))
        return [*interpreter, path]

    def a11y_address(self):
        r = subprocess.run(["dbus-send", "--session", "--print-reply=literal",
                            "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                           env=self.env, capture_output=True, text=True)
        return r.stdout.strip() if r.returncode == 0 else None

    def find_window(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                               capture_output=True, text=True).stdout.split()
        return found[0] if found else None

    @staticmethod
    def wait_for(what, name, timeout=30):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            value = what()
            if value:
                return value
            time.sleep(0.2)
        raise Failed(f"{name} never came")

    def read_log(self):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def spoken(self):
        """Every SPEECH OUTPUT line so far, as said."""
        return re.findall(r"SPEECH OUTPUT: '(.*?)'(?: ?\[?\{.*| None)?$", self.read_log(), re.M)

    def key(self, *keys, pause=1.2):
        subprocess.run(["xdotool", "key", "--delay", "150", *keys], check=True)
        time.sleep(pause)

    def heard(self, action, settle=1.5):
        """What Orca says from doing `action` until it has been quiet for `settle` s."""
        before = len(self.spoken())
        action()
        said, quiet_since = len(self.spoken()), time.monotonic()
        while time.monotonic() - quiet_since < settle:
            time.sleep(0.1)
            if len(self.spoken()) != said:
                said, quiet_since = len(self.spoken()), time.monotonic()
        return self.spoken()[before:]

    def event_count(self):
        self.events.flush()
        with open(self.events.name) as f:
            return sum(1 for line in f if line.startswith("signal"))

    def close(self, keep=False):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        os.kill(self.bus_pid, signal.SIGTERM)
        if keep:
            print(f"logs kept in {self.dir}")
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


def show(label, said):
    print(f"  {label}: " + " | ".join(said) if said else f"  {label}: (nothing)")


def numbers(said):
    return [int(n) for n in re.findall(r"\b\d+\b", " ".join(said))]


def tempo_control(s, failures):
    """The tempo control, spoken, where am I and flat review: no "scroll bar", and any
    percentage right for 20..400."""
    for label, keys in [("on start", ()), ("Right", ("Right",)), ("End", ("End",)),
                        ("Home", ("Home",)), ("Page Up x8", ("Prior",) * 8)]:
        said = s.heard(lambda: s.key(*keys)) if keys else s.spoken()[-3:]
        where = s.heard(lambda: s.key("KP_Enter"))  # where am I
        review = s.heard(lambda: s.key("KP_Up"))  # flat review: the current line
        show(f"tempo {label}", said + ["where am I:"] + where + ["flat review:"] + review)
        text = " ".join(said + where + review)
        if "scroll bar" in text:
            failures.append(f"tempo {label}: 'scroll bar' in {text!r}")
        value = (numbers(where) or [None])[0]
        for p in re.findall(r"(\d+) percent", text):
            if value is None or abs(int(p) - (value - 20) / 3.8) > 1:
                failures.append(f"tempo {label}: {p} percent at {value} BPM")
    s.key("Home", "Prior", "Prior", "Prior", "Prior", "Prior", "Prior", "Prior", "Prior")
    # Flat review from the tempo's line up to the top: the number, the beat area, the banner.
    lines = [s.heard(lambda: s.key("KP_Up"))]
    for _ in range(4):
        lines.append(s.heard(lambda: s.key("KP_Home")))  # the line above
    show("flat review, up", [" / ".join(line) for line in lines])


def number_whole(s, failures, tempos):
    """Practice on from the tempo, Shift+Tab to the number: is it spoken whole?"""
    whole = 0
    for tempo in tempos:
        # From the scroll bar: Home is 20, each Page Up 10 more, each Right 1 more.
        steps = tempo - 20
        s.key("Home", *(["Prior"] * (steps // 10)), *(["Right"] * (steps % 10)), pause=0.5)
        s.key("Tab", "space", pause=1.0)  # "Speed Practice" on
        said = s.heard(lambda: s.key("shift+Tab"))
        spoken = numbers(said)
        # A rise may come between; each value the number had is whole.
        ok = bool(spoken) and all(n in (tempo, min(tempo + 5, 400), 400) for n in spoken)
        whole += ok
        show(f"number at {tempo}", said)
        if not ok:
            failures.append(f"number at {tempo} spoken as {said}")
        s.key("Tab", "space", "shift+Tab", pause=1.0)  # practice off, back to the bar
    print(f"number spoken whole: {whole} of {len(tempos)}")


def rises(s, failures):
    """Practice on, the focus left on "Speed Practice": 22 s, two rises."""
    s.key("Home", *(["Prior"] * 8), pause=0.5)  # 100
    s.key("Tab", pause=1.0)
    said = s.heard(lambda: s.key("space"))
    show("practice on", said)
    if not any("practice" in line.lower() for line in said):
        failures.append(f"starting practice said {said}, nothing of practice")
    before = len(s.spoken())
    time.sleep(22)
    said = s.spoken()[before:]
    show("22 s on Speed Practice", said)
    heard = [n for n in numbers(said) if 100 < n <= 400]
    print(f"rises heard in 22 s: {len(heard)}")
    if len(heard) < 2:
        failures.append(f"in 22 s with the focus on Speed Practice, {len(heard)} rises said")
    s.key("space", "shift+Tab", pause=1.0)


def quiet(s, failures, seconds=20):
    """Nothing touched: nothing said, and how many events the program sends."""
    before, events = len(s.spoken()), s.event_count()
    time.sleep(seconds)
    said = s.spoken()[before:]
    count = s.event_count() - events
    print(f"untouched {seconds} s: {len(said)} lines said, {count} accessibility events")
    if said:
        failures.append(f"said while untouched: {said}")


def credits(s, failures):
    """CREDITS, its box closed with Return: Tab is heard again."""
    s.key("Tab", "Tab", "Tab", "Tab", "Tab", pause=1.0)
    show("credits box", s.heard(lambda: s.key("Return"), settle=2.5))
    show("box closed", s.heard(lambda: s.key("Return")))
    said = s.heard(lambda: s.key("Tab"))
    show("Tab after the box", said)
    if not said:
        failures.append("Tab after the credits box is silent")
    s.key("Tab", pause=0.5)  # back on the scroll bar


def session(binary, wm, scenarios, failures, keep):
    s = Session(binary, wm=wm)
    try:
        time.sleep(2)
        print(f"Orca {'with openbox' if wm else 'without a window manager'}")
        for scenario in scenarios:
            scenario(s)
    except Failed as e:
        failures.append(str(e))
    finally:
        s.close(keep)


def main():
    binary, keep = sys.argv[1], "--keep" in sys.argv
    if not shutil.which("orca"):
        print("Orca is not installed: nothing measured (apt-get install orca)")
        return 0
    others = subprocess.run(["pgrep", "-u", str(os.getuid()), "-x", "orca"],
                            capture_output=True, text=True).stdout.split()
    if others:
        print(f"another Orca runs as this user (pid {' '.join(others)}); Orca allows one")
        return 1
    failures = []
    tempos = [20, 29, 100, 115, 199, 208, 250, 333, 395, 400]
    session(binary, True, [lambda s: tempo_control(s, failures),
                           lambda s: number_whole(s, failures, tempos),
                           lambda s: rises(s, failures),
                           lambda s: quiet(s, failures),
                           lambda s: credits(s, failures)], failures, keep)
    # Without a window manager Orca hears nothing until the window is activated: the
    # credits box does, and its end must give the focus back.
    session(binary, False, [lambda s: credits(s, failures)], failures, keep)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
