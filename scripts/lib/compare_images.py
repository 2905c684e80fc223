#!/usr/bin/env python3
"""Compares the images two acquisitions saved (ostra-acquire's .png and .bmp files), pixel by pixel.

    compare_images.py EXPECTED_DIR ACTUAL_DIR

Prints one line per image: identical files, identical pixels, or the largest difference and how many
pixels differ. Exits 1 when an image is missing, has other dimensions, or its pixels differ by more
than $OSTRA_IMAGE_TOLERANCE (default 0: bit for bit). A series' composite may besides differ anywhere in
a share of its pixels up to $OSTRA_COMPOSITE_SHARE (default 0): it carries text drawn with the
system's fonts.
"""
import os
import struct
import sys
import zlib


def read_png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 0 or interlace != 0:
        raise ValueError("only 8-bit grey PNG files without interlacing are compared")
    raw = zlib.decompress(idat)
    rows, previous, stride = [], bytearray(width), width + 1
    for y in range(height):
        kind, line = raw[y * stride], bytearray(raw[y * stride + 1:(y + 1) * stride])
        for x in range(width):
            a = line[x - 1] if x else 0
            b = previous[x]
            c = previous[x - 1] if x else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, b"".join(rows)


def read_bmp(data):
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack("<I", data[10:14])[0]
    width, height, _, bits = struct.unpack("<iiHH", data[18:30])
    if bits != 8:
        raise ValueError("only 8-bit BMP files are compared")
    stride = (width + 3) & ~3
    rows = [data[offset + y * stride:offset + y * stride + width] for y in range(abs(height))]
    if height > 0:
        rows.reverse()
    return width, abs(height), b"".join(rows)


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    return data, (read_png if path.endswith(".png") else read_bmp)(data)


def main():
    expected_dir, actual_dir = sys.argv[1], sys.argv[2]
    tolerance = int(os.environ.get("OSTRA_IMAGE_TOLERANCE", "0"))
    composite_share = float(os.environ.get("OSTRA_COMPOSITE_SHARE", "0"))
    names = sorted(n for n in os.listdir(expected_dir) if n.endswith((".png", ".bmp")))
    if not names:
        print("no images in " + expected_dir)
        return 1
    failed = False
    for name in names:
        actual_path = os.path.join(actual_dir, name)
        if not os.path.exists(actual_path):
            print(f"{name}: missing")
            failed = True
            continue
        expected_bytes, (w1, h1, p1) = read(os.path.join(expected_dir, name))
        actual_bytes, (w2, h2, p2) = read(actual_path)
        if (w1, h1) != (w2, h2):
            print(f"{name}: {w2} x {h2} instead of {w1} x {h1}")
            failed = True
        elif expected_bytes == actual_bytes:
            print(f"{name}: identical files ({w1} x {h1})")
        elif p1 == p2:
            print(f"{name}: identical pixels ({w1} x {h1}; the files differ in their encoding)")
        else:
            differences = [abs(a - b) for a, b in zip(p1, p2) if a != b]
            print(f"{name}: {len(differences)} of {len(p1)} pixels differ, by at most {max(differences)}")
            if name.startswith("composite"):
                failed = failed or len(differences) > composite_share * len(p1)
            else:
                failed = failed or max(differences) > tolerance
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
