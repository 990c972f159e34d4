#!/usr/bin/python3
"""Writes the seed corpus of copy_fuzzer into corpus/ next to this script.

Each seed is in the fuzzer's input layout: a flags byte, a little-endian 16-bit
split point, then the file bytes (see copy_fuzzer.cpp).
"""
import pathlib
import struct

TWO_INPUTS = 1
OUTPUT_IS_FIRST = 2
OUTPUT_IS_LAST = 4
STALE_OUTPUT = 8


def bmp(width, height, seed):
    """A real 24-bit BMP whose bfSize equals its length."""
    row = (3 * width + 3) // 4 * 4
    pixels = bytes((seed * 37 + i * 11) & 0xFF for i in range(row * height))
    length = 54 + len(pixels)
    header = b"BM" + struct.pack("<IHHI", length, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def with_size(picture, size):
    return picture[:2] + struct.pack("<I", size) + picture[6:]


def seed(flags, data, split=0):
    return bytes([flags]) + struct.pack("<H", split) + data


A = bmp(1, 1, 1)
B = bmp(2, 2, 2)
SMALLEST = b"BM\x06\x00\x00\x00"

SEEDS = {
    "bmp": seed(0, A),
    "two_bmps": seed(TWO_INPUTS, A + B, len(A)),
    "two_bmps_output_is_second": seed(TWO_INPUTS | OUTPUT_IS_LAST, A + B, len(A)),
    "combined": seed(0, A + B),
    "combined_stale_output": seed(STALE_OUTPUT, A + B),
    "combined_output_is_input": seed(OUTPUT_IS_FIRST, A + B),
    "smallest_pair": seed(0, SMALLEST + SMALLEST),
    "empty": seed(0, b""),
    "b": seed(0, b"B"),
    "bm": seed(0, b"BM"),
    "bm00": seed(0, b"BM\x00\x00"),
    "size_0": seed(0, with_size(A, 0)),
    "size_1": seed(0, with_size(A, 1)),
    "size_ffffffff": seed(0, with_size(A, 0xFFFFFFFF)),
    "size_past_end": seed(0, with_size(A, len(A) + 1)),
    "bm_appended": seed(0, A + b"BM"),
    "second_size_cut_short": seed(0, A + b"BM\x46\x00"),
    "second_size_negative": seed(0, A + with_size(B, 0x80000000)),
    "second_size_past_end": seed(0, A + with_size(B, len(B) + 1)),
}

folder = pathlib.Path(__file__).resolve().parent / "corpus"
folder.mkdir(exist_ok=True)
for name, data in SEEDS.items():
    (folder / name).write_bytes(data)
