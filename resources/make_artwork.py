#!/usr/bin/env python3
"""Makes the program's artwork: the window icon, the title banner and the built-in click.

Run from anywhere: python3 resources/make_artwork.py. Needs ImageMagick's `convert` and the
Liberation fonts for the banner's lettering; everything else is drawn here.
"""
import math
import random
import struct
import subprocess
import wave
from pathlib import Path

HERE = Path(__file__).resolve().parent


# --- GIF writing -------------------------------------------------------------------------

def lzw_uncompressed(indices, min_code_size=8):
    """LZW data that never grows its dictionary: a clear code every 254 literals keeps every
    code 9 bits wide. Larger than real LZW, but any GIF reader takes it."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    codes = []
    for i, px in enumerate(indices):
        if i % 254 == 0:
            codes.append(clear)
        codes.append(px)
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += 9
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def write_gif(path, width, height, palette, indices, transparent):
    assert len(palette) == 256 and len(indices) == width * height
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0xF7, 0, 0)  # global table, 256 entries
    for r, g, b in palette:
        out += bytes((r, g, b))
    out += bytes((0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0))  # transparency
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(8)
    data = lzw_uncompressed(indices)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    Path(path).write_bytes(bytes(out))


# --- The banner ----------------------------------------------------------------------------

BANNER_W, BANNER_H = 285, 92
TEXT = (0, 170, 0)        # green lettering
SHADOW = (0, 70, 0)       # its darker drop shadow


def render_layer(offset, color):
    """Coverage (0..255) of the title drawn at `offset`, rendered by ImageMagick."""
    cmd = ["convert", "-size", f"{BANNER_W}x{BANNER_H}", "xc:black",
           "-font", "Liberation-Sans-Bold", "-pointsize", "50", "-fill", "white",
           "-gravity", "center", "-annotate", f"+{offset[0]}+{offset[1]}", "Metronome",
           "-depth", "8", "gray:-"]
    return subprocess.run(cmd, check=True, capture_output=True).stdout


def make_banner():
    shadow = render_layer((1, 3), SHADOW)
    text = render_layer((-2, 0), TEXT)
    # Palette: mixtures of text and shadow colours with full coverage, plus a ramp of
    # each over nothing; index 255 is transparent.
    steps = 16
    palette = []
    for i in range(steps):
        t = i / (steps - 1)
        palette.append(tuple(round(SHADOW[c] * (1 - t) + TEXT[c] * t) for c in range(3)))
    while len(palette) < 255:
        palette.append((255, 255, 192))
    palette.append((255, 255, 192))  # transparent
    indices = []
    for s, t in zip(shadow, text):
        if max(s, t) < 96:
            indices.append(255)
            continue
        mix = t / 255 if t >= 96 else 0.0
        indices.append(round(mix * (steps - 1)))
    write_gif(HERE / "banner.gif", BANNER_W, BANNER_H, palette, indices, 255)


# --- The icon ------------------------------------------------------------------------------

def make_icon():
    size = 48
    palette = [(0, 0, 0)] * 256
    palette[1] = (120, 70, 20)     # wooden body
    palette[2] = (80, 45, 10)      # its outline
    palette[3] = (230, 230, 230)   # pendulum rod
    palette[4] = (200, 160, 0)     # weight
    palette[5] = (255, 255, 192)   # face
    pixels = [[0] * size for _ in range(size)]
    mask = [[1] * size for _ in range(size)]  # 1: transparent

    def put(x, y, idx):
        if 0 <= x < size and 0 <= y < size:
            pixels[y][x] = idx
            mask[y][x] = 0

    # A trapezoid body, narrow at the top.
    for y in range(4, 46):
        half = 6 + (y - 4) * 14 // 41
        for x in range(24 - half, 24 + half):
            edge = x in (24 - half, 24 + half - 1) or y in (4, 45)
            put(x, y, 2 if edge else 1)
    for y in range(10, 36):  # the face the pendulum swings over
        half = 3 + (y - 4) * 9 // 41
        for x in range(24 - half, 24 + half):
            put(x, y, 5)
    # Pendulum leaning right from the pivot near the bottom.
    for t in range(0, 34):
        x = round(24 + t * math.sin(math.radians(18)))
        y = round(40 - t * math.cos(math.radians(18)))
        put(x, y, 3)
        put(x + 1, y, 3)
    for dy in range(-2, 3):
        for dx in range(-3, 3):
            put(30 + dx, 22 + dy, 4)

    header = struct.pack("<HHH", 0, 1, 1)
    xor = bytearray()
    for y in reversed(range(size)):
        xor += bytes(pixels[y])
    and_mask = bytearray()
    for y in reversed(range(size)):
        row = 0
        for x in range(size):
            row = (row << 1) | mask[y][x]
        and_mask += row.to_bytes(6, "big") + b"\x00\x00"  # rows pad to 32 bits
    bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(and_mask),
                      0, 0, 256, 0)
    bmp += b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + xor + and_mask
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(bmp), 6 + 16)
    (HERE / "metronome.ico").write_bytes(header + entry + bmp)


# --- The click -----------------------------------------------------------------------------

def make_click():
    """About 15 ms of decaying noise with a sharp attack: dry and unpitched."""
    rate, length = 48000, 0.015
    rng = random.Random(1)
    frames = bytearray()
    n = int(rate * length)
    for i in range(n):
        env = math.exp(-i / (rate * 0.0025))
        fade = min(1.0, (n - i) / (rate * 0.002))
        value = rng.uniform(-1, 1) * env * fade * 0.8
        frames += struct.pack("<h", int(value * 32767))
    with wave.open(str(HERE / "click.wav"), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    make_banner()
    make_icon()
    make_click()
