#!/usr/bin/python3
"""Finds the countdown's number in pictures of the screen.

dark_disc.py shot        (a PPM picture on stdin, as `grim -t ppm -` gives)
    prints "COUNT X Y W H": the pixels of the number's dark disc and the box
    around them ("0 0 0 0 0" when there are none)
dark_disc.py light       (a PPM picture on stdin)
    prints the count of light grey pixels (a window's face, not the white
    digit) in runs of eight: none where the translucent disc covers it
dark_disc.py frames W H  (raw rgb24 frames of W x H on stdin)
    prints one line per frame: the count of the disc's pixels in it
The disc is painted near (24, 24, 24); nothing else in the session is that
dark over a patch (the background is #402010, the colour client #2080c0, the
program's window light grey with thin dark text).
"""
import re
import sys


# Eight dark pixels in a row, as bytes: every channel below 48. The
# program's thin text has no such runs; matching bytes keeps it fast.
RUN = re.compile(rb"[\x00-\x2f]{24,}")
LIGHT = re.compile(rb"[\xc8-\xf9]{24,}")


def dark_pixels(data, width, height):
    """The dark pixels' count and box."""
    count, box, stride = 0, None, width * 3
    for match in RUN.finditer(data[:stride * height]):
        start, end = match.start(), match.end()
        count += (end - start) // 3
        for at in (start, end - 1):
            x, y = at % stride // 3, at // stride
            box = [x, y, x, y] if box is None else [min(box[0], x), min(box[1], y),
                                                    max(box[2], x), max(box[3], y)]
    return count, box


def read_ppm(stream):
    data = stream.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    return int(fields[1]), int(fields[2]), data[at + 1:]


if sys.argv[1] == "light":
    width, height, pixels = read_ppm(sys.stdin.buffer)
    print(sum((m.end() - m.start()) // 3 for m in LIGHT.finditer(pixels[:width * height * 3])))
elif sys.argv[1] == "shot":
    width, height, pixels = read_ppm(sys.stdin.buffer)
    count, box = dark_pixels(pixels, width, height)
    if box is None:
        print("0 0 0 0 0")
    else:
        print(count, box[0], box[1], box[2] - box[0] + 1, box[3] - box[1] + 1)
else:
    width, height = int(sys.argv[2]), int(sys.argv[3])
    size = width * height * 3
    while True:
        frame = sys.stdin.buffer.read(size)
        if len(frame) < size:
            break
        print(dark_pixels(frame, width, height)[0])
