#!/usr/bin/python3
"""Prints the colours Pillow reads at a few points of every frame of many files, for the C++ tests.

Usage: pil_samples.py POINTS FILE... POINTS is "fx,fy;fx,fy;...": fractions of the width and the
height, from the top left corner. Output: one line per frame, files in order and each file's
frames in order: "r g b" for each point, all on the line. A file Pillow cannot read ends the
output with "error: FILE: reason" and exit status 1.
"""
import sys

from PIL import Image


def main():
    points = [tuple(float(v) for v in p.split(",")) for p in sys.argv[1].split(";")]
    for path in sys.argv[2:]:
        try:
            with Image.open(path) as im:
                for frame in range(getattr(im, "n_frames", 1)):
                    im.seek(frame)
                    rgb = im.convert("RGB")
                    values = []
                    for fx, fy in points:
                        x = min(int(fx * rgb.width), rgb.width - 1)
                        y = min(int(fy * rgb.height), rgb.height - 1)
                        values.extend(rgb.getpixel((x, y)))
                    print(" ".join(str(v) for v in values))
        except Exception as error:  # pylint: disable=broad-except
            print(f"error: {path}: {error}")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
