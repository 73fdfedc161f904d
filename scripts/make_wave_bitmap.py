#!/usr/bin/env python3
"""Writes dialogs/BmpWave.bmp, the wave chooser's default picture "BMP_WAVE":
a 32x32 bitmap of 16 colours (4 bits per pixel, the standard VGA palette).

The picture: a small oscilloscope screen, a black rounded panel with a grey
frame, a dark grey zero line and two periods of a bright green sine wave
across it. Everything around the panel is magenta, the bitmap's transparent
colour: the panel draws it with the colour of the bottom-left pixel left out.

Run from anywhere: python3 scripts/make_wave_bitmap.py
"""
import math
import os
import struct

SIZE = 32
PALETTE = [  # (r, g, b) of the 16 VGA colours, in palette order
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, SILVER, GREY, LIME, MAGENTA, WHITE = 0, 2, 7, 8, 10, 13, 15


def draw():
    grid = [[MAGENTA] * SIZE for _ in range(SIZE)]
    left, top, right, bottom = 1, 4, 30, 27
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if (x in (left, right)) and (y in (top, bottom)):
                continue  # cut corners: a rounded panel
            edge = x in (left, right) or y in (top, bottom)
            grid[y][x] = SILVER if edge else BLACK
    # highlight on the top edge, shadow on the bottom one: a slight bevel
    for x in range(left + 1, right):
        grid[top][x] = WHITE
        grid[bottom][x] = GREY
    mid = (top + bottom) // 2
    for x in range(left + 2, right - 1):
        grid[mid][x] = GREY
    # two periods of a sine over the inner width, drawn as a connected line
    inner_left, inner_right = left + 2, right - 2
    amplitude = (bottom - top) / 2 - 3
    previous = None
    for x in range(inner_left, inner_right + 1):
        phase = (x - inner_left) / (inner_right - inner_left) * 4 * math.pi
        y = int(round(mid - amplitude * math.sin(phase)))
        span = [y] if previous is None else range(min(previous, y), max(previous, y) + 1)
        for yy in span:
            grid[yy][x] = LIME
        if grid[y + 1][x] in (BLACK, GREY):  # a darker shade under the line gives it body
            grid[y + 1][x] = GREEN
        previous = y
    return grid


def bmp_bytes(grid):
    row_bytes = SIZE // 2  # 4 bits per pixel; 16 bytes is already a multiple of 4
    pixels = bytearray()
    for row in reversed(grid):  # bottom-up rows
        for x in range(0, SIZE, 2):
            pixels.append((row[x] << 4) | row[x + 1])
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 4, 0, row_bytes * SIZE, 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.path.join(repo, "dialogs", "BmpWave.bmp")
    with open(path, "wb") as f:
        f.write(bmp_bytes(draw()))
    print("wrote", path)


if __name__ == "__main__":
    main()
