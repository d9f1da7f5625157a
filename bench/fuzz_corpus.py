#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the fuzzer's seed corpus: small WAV files in the formats a click may come in.

Usage: fuzz_corpus.py DIR
"""
import math
import struct
import sys
from pathlib import Path


def wav(fmt_tag, channels, rate, bits, frames):
    """A WAV file of a short decaying tone; fmt_tag 1 is PCM, 3 is IEEE float."""
    data = bytearray()
    for i in range(frames):
        v = math.sin(i * 0.3) * math.exp(-i / (frames / 4 + 1)) * 0.8
        if fmt_tag == 3:
            sample = struct.pack("<f", v)
        elif bits == 8:
            sample = bytes([int(v * 127) + 128])
        else:
            sample = int(v * (2 ** (bits - 1) - 1)).to_bytes(bits // 8, "little", signed=True)
        data += sample * channels
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", fmt_tag, channels, rate, rate * block, block, bits)
    body = b"WAVEfmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + bytes(data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, args in {"u8_mono_8k": (1, 1, 8000, 8, 64), "s16_mono_48k": (1, 1, 48000, 16, 96),
                       "s16_stereo_44k": (1, 2, 44100, 16, 80),
                       "s24_stereo_96k": (1, 2, 96000, 24, 120),
                       "s32_mono_22k": (1, 1, 22050, 32, 50),
                       "f32_stereo_32k": (3, 2, 32000, 32, 70)}.items():
        (out / f"{name}.wav").write_bytes(wav(*args))
    # A header that promises more data than there is.
    broken = bytearray(wav(1, 1, 48000, 16, 32))
    broken[40:44] = struct.pack("<I", 0x7FFFFFF0)
    (out / "s16_data_overrun.wav").write_bytes(bytes(broken))


if __name__ == "__main__":
    main()
