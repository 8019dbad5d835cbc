#!/usr/bin/env python3
"""Tells the main window's connection state from a screenshot (binary PPM): the connection status
field is the one wide field painted in the window's on or off colour (the indicators in those colours
are 36 px wide). Prints "connected X Y", "not-connected X Y" (the field's first pixel found) or
"unknown"."""
import sys

ON = (175, 216, 135)
OFF = (253, 124, 102)
LONGEST = 300  # the field is 349 px wide; text and borders leave rows of at least this much free


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SystemExit("not an 8-bit binary PPM")
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def first_run(width, height, pixels, colour):
    needle = bytes(colour) * LONGEST
    stride = width * 3
    for y in range(height):
        row = pixels[y * stride:(y + 1) * stride]
        at = row.find(needle)
        while at >= 0 and at % 3:
            at = row.find(needle, at + 1)
        if at >= 0:
            return at // 3, y
    return None


def main():
    width, height, pixels = read_ppm(sys.argv[1])
    for name, colour in (("connected", ON), ("not-connected", OFF)):
        found = first_run(width, height, pixels, colour)
        if found:
            print(name, found[0], found[1])
            return
    print("unknown")


main()
