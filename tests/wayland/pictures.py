"""What the Wayland scripts share about pictures: the band's colour, the disk's column, reading
screenshots (PPM, PNG, XWD) and the headless host's picture to compare them with."""
import os
import struct
import subprocess
import tempfile
import zlib

PURPLE = bytes([0x31, 0x00, 0x31])
# The disk's column on a 1024x768 screen: the artwork's x 570 to 703, from x = 112.
DISK_LEFT, DISK_RIGHT = 112 + 570, 112 + 704


class Picture:
    """RGB pixels, 3 bytes each, rows top-down."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def row(self, y, left=0, right=None):
        right = self.width if right is None else right
        start = (y * self.width) * 3
        return self.rgb[start + left * 3:start + right * 3]

    def at(self, x, y):
        return self.row(y, x, x + 1)

    def crop(self, left, top, width, height):
        return Picture(width, height, b"".join(self.row(y, left, left + width)
                                                for y in range(top, top + height)))


def read_ppm(data):
    """grim's binary PPM (P6, maxval 255)."""
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    pixels = data[at + 1:at + 1 + width * height * 3]
    return Picture(width, height, pixels)


def read_png(path):
    """An 8-bit RGB or RGBA PNG without interlacing, as quietglass-capture writes them."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    channels = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride if kind else 0):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                nearest = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + nearest) & 255
        rows.append(bytes(line) if channels == 3 else
                    bytes(b for i, b in enumerate(line) if i % 4 != 3))
        previous = line
    return Picture(width, height, b"".join(rows))


def read_xwd(data):
    """xwd's dump of a 24-bit TrueColor window, as Xvfb's root is."""
    header = struct.unpack(">25I", data[:100])
    size, width, height, order, stride, colours = (header[0], header[4], header[5], header[7],
                                                   header[12], header[19])
    step = header[11] // 8  # bits per pixel: 32, or 24 where X packs the pixels
    assert header[14:17] == (0xFF0000, 0xFF00, 0xFF) and step in (3, 4), header
    at = size + colours * 12
    # A pixel's bytes are blue, green, red (and one unused) where the least significant is first.
    red, green, blue = (2, 1, 0) if order == 0 else (step - 3, step - 2, step - 1)
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = data[at + y * stride:at + y * stride + width * step]
        start = y * width * 3
        rgb[start:start + width * 3:3] = row[red::step]
        rgb[start + 1:start + width * 3:3] = row[green::step]
        rgb[start + 2:start + width * 3:3] = row[blue::step]
    return Picture(width, height, bytes(rgb))


def headless_capture(capture, screen, args=()):
    """quietglass-capture's picture of the first frame on a headless screen of `screen`."""
    with tempfile.TemporaryDirectory() as directory:
        out = os.path.join(directory, "capture.png")
        command = [capture, "--screen", screen, "--ticks", "0", "--out", out]
        subprocess.run(command + (["--", *args] if args else []), check=True)
        return read_png(out)


def first_difference(shot, want, skip=lambda x: False):
    """Where `shot` differs from `want` (columns for which `skip` holds aside); None if nowhere."""
    for y in range(want.height):
        if shot.row(y) == want.row(y):
            continue
        for x in range(want.width):
            if not skip(x) and shot.at(x, y) != want.at(x, y):
                return f"({x}, {y}) is {shot.at(x, y).hex()}, not {want.at(x, y).hex()}"
    return None
