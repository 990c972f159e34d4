#!/usr/bin/python3
"""Draws the program's icon and writes it to tinselpair.ico beside this script.

The picture: two framed pictures side by side under a drooping string of coloured
lights, on a night-blue ground. Each size is drawn from the same proportions, so the
32x32 and 48x48 images match. Both are stored the classic way, as 256-colour
palettised bitmaps with an all-zero AND mask (fully opaque), not as PNG.

Run with: /usr/bin/python3 resources/make_icon.py  (standard library only)
"""

import struct
from pathlib import Path

SIZES = (32, 48)

COLOURS = {
    "night": (0x1B, 0x2A, 0x4A),
    "frame": (0xD4, 0xA0, 0x17),
    "sky": (0x7E, 0xC8, 0xE3),
    "dusk": (0x4A, 0x6F, 0xB5),
    "hill": (0x3C, 0x9A, 0x3C),
    "snow": (0xF2, 0xF4, 0xF8),
    "sun": (0xFF, 0xE0, 0x40),
    "wire": (0x2E, 0x7D, 0x32),
    "red": (0xE5, 0x39, 0x35),
    "yellow": (0xFF, 0xC1, 0x07),
    "green": (0x66, 0xDD, 0x55),
    "blue": (0x42, 0x8B, 0xFF),
    "pink": (0xEC, 0x40, 0xC0),
}
INDEX = {name: i for i, name in enumerate(COLOURS)}
BULB_COLOURS = ("red", "yellow", "green", "blue", "pink")


def draw(size):
    """Returns the picture as rows of palette indices, top row first."""
    pixels = [[INDEX["night"]] * size for _ in range(size)]

    def fill(name, left, top, right, bottom):
        # Corners are fractions of the side; the right and bottom edges are exclusive.
        for y in range(round(top * size), round(bottom * size)):
            for x in range(round(left * size), round(right * size)):
                pixels[y][x] = INDEX[name]

    def framed_picture(left, right, sky, ground, sun):
        top, bottom, border = 0.40, 0.91, 1 / 16
        fill("frame", left, top, right, bottom)
        fill(sky, left + border, top + border, right - border, bottom - border)
        fill(ground, left + border, 0.70, right - border, bottom - border)
        if sun:
            x, y = left + border + 0.05, top + border + 0.04
            fill("sun", x, y, x + 0.09, y + 0.09)

    # A summer picture and a winter one: the pair the tool puts in one file.
    framed_picture(0.06, 0.47, "sky", "hill", sun=True)
    framed_picture(0.53, 0.94, "dusk", "snow", sun=False)

    def wire_y(x):
        # A sagging parabola from the top corners down to the middle.
        t = 2 * (x + 0.5) / size - 1
        return round((0.10 + 0.16 * (1 - t * t)) * size)

    for x in range(size):
        pixels[wire_y(x)][x] = INDEX["wire"]

    bulb_width = max(2, size // 16)
    for n, name in enumerate(BULB_COLOURS):
        left = round((0.12 + 0.19 * n) * size) - bulb_width // 2
        columns = range(left, left + bulb_width)
        hang = max(wire_y(x) for x in columns) + 1
        for y in range(hang, hang + bulb_width + 1):
            for x in columns:
                pixels[y][x] = INDEX[name]
    return pixels


def icon_image(pixels):
    """BITMAPINFOHEADER, 256-entry palette, XOR bitmap and AND mask, rows bottom-up."""
    size = len(pixels)
    xor_row = (size + 3) // 4 * 4
    and_row = (size + 31) // 32 * 4
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        2 * size,  # biHeight counts the XOR bitmap and the AND mask together
        1,  # biPlanes
        8,  # biBitCount
        0,  # biCompression: BI_RGB
        size * (xor_row + and_row),  # biSizeImage
        0,  # biXPelsPerMeter
        0,  # biYPelsPerMeter
        0,  # biClrUsed: 0 means all 256
        0,  # biClrImportant
    )
    palette = bytearray(256 * 4)
    for i, (r, g, b) in enumerate(COLOURS.values()):
        palette[4 * i : 4 * i + 4] = bytes((b, g, r, 0))
    xor = b"".join(bytes(row).ljust(xor_row, b"\0") for row in reversed(pixels))
    mask = bytes(size * and_row)  # all clear: every pixel shows its palette colour
    return header + bytes(palette) + xor + mask


def icon_file(images):
    """The .ico directory followed by the images; bColorCount 0 stands for 256 colours."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    images = [(size, icon_image(draw(size))) for size in SIZES]
    Path(__file__).with_name("tinselpair.ico").write_bytes(icon_file(images))


if __name__ == "__main__":
    main()
