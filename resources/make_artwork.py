#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes the program's artwork: the window and menu icons, the title banner at 1x and 2x
and the built-in click.

Run from anywhere: python3 resources/make_artwork.py. Needs ImageMagick's `convert` and the
Liberation fonts for the banner's lettering; everything else is drawn here.
"""
import math
import random
import struct
import subprocess
import wave
import zlib
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


def render_layer(offset, scale):
    """Coverage (0..255) of the title drawn at `offset`, rendered by ImageMagick."""
    cmd = ["convert", "-size", f"{BANNER_W * scale}x{BANNER_H * scale}", "xc:black",
           "-font", "Liberation-Sans-Bold", "-pointsize", str(50 * scale), "-fill", "white",
           "-gravity", "center", "-annotate", f"+{offset[0] * scale}+{offset[1] * scale}",
           "Metronome", "-depth", "8", "gray:-"]
    return subprocess.run(cmd, check=True, capture_output=True).stdout


def make_banner(scale, name):
    """The banner drawn at `scale` times its size: banner@2x is lettered at 2x, not enlarged."""
    shadow = render_layer((1, 3), scale)
    text = render_layer((-2, 0), scale)
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
    write_gif(HERE / name, BANNER_W * scale, BANNER_H * scale, palette, indices, 255)


# --- The icon ------------------------------------------------------------------------------
# One drawing on a 48-unit grid: rasterised for the window icon and the menu's sizes, and
# written out as the scalable SVG, so that every size shows the same metronome.

APP_ID = "org.velkaro.Metronome"
ICON_SIZES = (16, 32, 48, 64, 128, 256)
WOOD, WOOD_EDGE = (120, 70, 20), (80, 45, 10)
ROD, WEIGHT, FACE = (230, 230, 230), (200, 160, 0), (255, 255, 192)


def icon_shapes():
    """Convex polygons in painting order, each with its colour."""
    def trapezoid(top, bottom, half_top, half_bottom):
        return [(24 - half_top, top), (24 + half_top, top),
                (24 + half_bottom, bottom), (24 - half_bottom, bottom)]
    lean = math.radians(18)
    ux, uy = math.sin(lean), -math.cos(lean)  # up the rod
    nx, ny = -uy, ux                           # across it
    px, py, length, half = 24.5, 40.5, 34, 1.0

    def rod():
        ex, ey = px + ux * length, py + uy * length
        return [(px - nx * half, py - ny * half), (px + nx * half, py + ny * half),
                (ex + nx * half, ey + ny * half), (ex - nx * half, ey - ny * half)]
    return [
        (trapezoid(4, 46, 6, 20), WOOD_EDGE),
        (trapezoid(5, 45, 5.1, 18.8), WOOD),
        (trapezoid(10, 36, 4.3, 10), FACE),
        (rod(), ROD),
        ([(27, 20), (33, 20), (33, 25), (27, 25)], WEIGHT),
    ]


def inside(poly, x, y):
    """Point in a convex polygon: on the same side of every edge."""
    sides = {(x2 - x1) * (y - y1) - (y2 - y1) * (x - x1) >= 0
             for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1])}
    return len(sides) == 1


def render_icon(size, samples=4):
    """RGBA rows, each pixel the average of samples × samples points of the drawing."""
    shapes = icon_shapes()
    scale = 48 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    for poly, color in reversed(shapes):
                        if inside(poly, x, y):
                            r, g, b, a = r + color[0], g + color[1], b + color[2], a + 1
                            break
            n = samples * samples
            # Colour averaged over the covered samples only, so edges do not darken.
            row.append((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def png_bytes(rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_entry(rows):
    """A 32-bit BGRA bitmap with its (unused, all opaque) AND mask, bottom row first."""
    size = len(rows)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask),
                         0, 0, 0, 0)
    return header + xor + and_mask


def make_icon():
    images = {size: render_icon(size) for size in ICON_SIZES}
    # The window icon carries every size, so that taskbars at any scale pick a sharp one.
    entries = [(size, ico_entry(images[size])) for size in ICON_SIZES]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    (HERE / "metronome.ico").write_bytes(out + b"".join(data for _, data in entries))

    for size in ICON_SIZES:
        folder = HERE / "icons" / "hicolor" / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"{APP_ID}.png").write_bytes(png_bytes(images[size]))
    folder = HERE / "icons" / "hicolor" / "scalable" / "apps"
    folder.mkdir(parents=True, exist_ok=True)
    shapes = "\n".join(
        '  <polygon fill="#%02x%02x%02x" points="%s"/>' %
        (*color, " ".join(f"{x:.3f},{y:.3f}" for x, y in poly))
        for poly, color in icon_shapes())
    (folder / f"{APP_ID}.svg").write_text(
        '<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">\n'
        f"{shapes}\n</svg>\n")


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
    make_banner(1, "banner.gif")
    make_banner(2, "banner@2x.gif")
    make_icon()
    make_click()
