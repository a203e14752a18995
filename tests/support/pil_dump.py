#!/usr/bin/python3
"""Decodes an image file with Pillow and prints what Pillow saw, for the C++ tests.

Usage: pil_dump.py FILE [FRAME]. Output: "key=value" lines (format, mode, width, height, frames,
channels, palette as space-separated numbers, one "info.KEY=JSON" line per entry of Pillow's
info and, for TIFF, one "tag.NUMBER=JSON" line per tag of the frame's directory), a line "--",
then the pixels of the frame as raw bytes: RGBA when the frame has transparency or alpha,
otherwise RGB, rows from the top of the picture.
Exits with 1 and the error on stderr when Pillow cannot read the file.
"""
import json
import sys

from PIL import Image


def plain(value):
    """A TIFF tag value as something json can write: rationals become floats."""
    if isinstance(value, (tuple, list)):
        return [plain(v) for v in value]
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    if isinstance(value, (int, str)):
        return value
    try:
        return float(value)
    except (TypeError, ValueError):
        return str(value)


def main():
    path = sys.argv[1]
    frame = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    out = sys.stdout.buffer
    with Image.open(path) as im:
        frames = getattr(im, "n_frames", 1)
        im.seek(frame)
        if im.format == "TIFF" and im.mode not in ("P", "PA"):
            # Pillow 9.4 keeps the palette of an earlier palette page when it seeks straight
            # to a later page of another mode, and then fails to load that page.
            im.palette = None
        im.load()
        has_alpha = im.mode in ("RGBA", "LA", "PA") or "transparency" in im.info
        pixels = im.convert("RGBA" if has_alpha else "RGB")
        lines = [
            f"format={im.format}",
            f"mode={im.mode}",
            f"width={im.width}",
            f"height={im.height}",
            f"frames={frames}",
            f"channels={4 if has_alpha else 3}",
        ]
        if im.mode == "P":
            lines.append("palette=" + " ".join(str(v) for v in im.getpalette()))
        for key, value in im.info.items():
            if isinstance(value, (bytes, bytearray)):
                value = value.hex()
            try:
                text = json.dumps(value)
            except TypeError:
                text = json.dumps(str(value))
            lines.append(f"info.{key}={text}")
        if im.format == "TIFF":
            for tag, value in sorted(im.tag_v2.items()):
                lines.append(f"tag.{tag}={json.dumps(plain(value))}")
        out.write(("\n".join(lines) + "\n--\n").encode())
        out.write(pixels.tobytes())


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # the caller reports what went wrong
        print(f"{type(error).__name__}: {error}", file=sys.stderr)
        sys.exit(1)
