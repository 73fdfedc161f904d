#!/usr/bin/env python3
"""Writes the media library's 31 cursors (resources 2001..2031) as 32x32
monochrome .cur files into media/playback/cursors/, and media/playback/MMCursors.rc naming them.

The family: the usual arrow pointer (hot spot at its tip) with a badge in the
lower right that carries the cursor's number within the set, 01 to 31, so each
one is told apart at a glance and all of them read as one set.

Run from anywhere: python3 scripts/make_cursors.py
"""
import os
import struct

SIZE = 32
FIRST_ID = 2001
COUNT = 31

# 0 = transparent, 1 = black, 2 = white.
ARROW = [
    "1",
    "11",
    "121",
    "1221",
    "12221",
    "122221",
    "1222221",
    "12222221",
    "122222221",
    "1222222221",
    "12222211111",
    "1221221",
    "121 1221",
    "11  1221",
    "1    1221",
    "     1221",
    "      11",
]

# 3x5 digits, rows top to bottom.
DIGITS = {
    "0": ["111", "101", "101", "101", "111"],
    "1": ["010", "110", "010", "010", "111"],
    "2": ["111", "001", "111", "100", "111"],
    "3": ["111", "001", "111", "001", "111"],
    "4": ["101", "101", "111", "001", "001"],
    "5": ["111", "100", "111", "001", "111"],
    "6": ["111", "100", "111", "101", "111"],
    "7": ["111", "001", "010", "010", "010"],
    "8": ["111", "101", "111", "101", "111"],
    "9": ["111", "101", "111", "001", "111"],
}


def draw(number):
    grid = [[0] * SIZE for _ in range(SIZE)]
    for y, row in enumerate(ARROW):
        for x, c in enumerate(row):
            if c in "12":
                grid[y][x] = int(c)
    # Badge: a white box with a black frame at x 17..29, y 19..29, the two
    # digits inside.
    left, top, right, bottom = 17, 19, 29, 29
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            frame = y in (top, bottom) or x in (left, right)
            grid[y][x] = 1 if frame else 2
    text = "%02d" % number
    for i, ch in enumerate(text):
        for dy, row in enumerate(DIGITS[ch]):
            for dx, c in enumerate(row):
                if c == "1":
                    grid[top + 3 + dy][left + 3 + i * 4 + dx] = 1
    return grid


def cur_bytes(grid, hot_x=0, hot_y=0):
    xor_rows, and_rows = [], []
    for row in reversed(grid):  # bitmaps are stored bottom-up
        xor_bits = and_bits = 0
        for x, c in enumerate(row):
            bit = 1 << (31 - x)
            if c == 0:
                and_bits |= bit
            elif c == 2:
                xor_bits |= bit
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = os.path.join(root, "media", "playback", "cursors")
    os.makedirs(folder, exist_ok=True)
    lines = ["// The media library's cursors; written by scripts/make_cursors.py.", ""]
    for n in range(1, COUNT + 1):
        name = "MMCursor%02d.cur" % n
        with open(os.path.join(folder, name), "wb") as f:
            f.write(cur_bytes(draw(n)))
        lines.append('%d CURSOR "media/playback/cursors/%s"' % (FIRST_ID + n - 1, name))
    with open(os.path.join(root, "media", "playback", "MMCursors.rc"), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
