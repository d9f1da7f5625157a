#!/usr/bin/env python3
"""The real window: size, place, colours, and EXIT ending the program."""
import sys
import time

from harness import Metronome, Screen, check

YELLOW, GREEN, RED = (255, 255, 192), (0, 255, 0), (255, 0, 0)


def main(binary):
    m = Metronome(binary)
    try:
        x, y, w, h = m.geometry()
        check((w, h) == (423, 518), f"window is {w}x{h}")
        screen = Screen()
        check(abs(x - (screen.width - w) // 2) <= 1 and abs(y - (screen.height - h) // 2) <= 1,
              f"window at {x},{y} is not centred")
        check(screen.pixel(x + 30, y + 30) == YELLOW, f"background {screen.pixel(x + 30, y + 30)}")
        beat = screen.pixel(x + 212, y + 300)
        check(beat in (GREEN, RED), f"beat area {beat}")
        cyan = screen.pixel(x + 44, y + 480)
        check(cyan == (192, 255, 255), f"CREDITS button {cyan}")

        m.click(224 + 80, 456 + 24)  # the middle of "EXIT"
        start = time.monotonic()
        code = m.proc.wait(2)
        check(code == 0, f"exit status {code}")
        print(f"EXIT ended the program in {1000 * (time.monotonic() - start):.0f} ms")
    finally:
        m.stop()
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main(sys.argv[1])
