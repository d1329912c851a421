"""The demo installation's notification-area icons, brand/images/Runner1..6.ico:
an umbrella, blue when idle (1), grey when the agent is not reachable (2), and
four busy frames (3-6) in which an orange band sweeps across the blue canopy.
Each state has colours of its own, so a screenshot tells which one the tray shows.

    brand_icons.py FOLDER      writes the six icon files into FOLDER
"""
import struct
import sys

BLUE = (30, 111, 217)
GREY = (150, 150, 150)
ORANGE = (242, 140, 30)
HANDLE = (64, 64, 64)
SIZE = 16


def umbrella(canopy, band=None):
    """16 x 16 RGBA pixels, rows top to bottom; band (0..3) is the orange quarter."""
    px = [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]
    for y in range(1, 9):
        for x in range(SIZE):
            dx, dy = x - 7.5, y - 8.5
            if dx * dx + dy * dy <= 7.5 * 7.5:
                colour = ORANGE if band is not None and band * 4 <= x < band * 4 + 4 else canopy
                px[y][x] = colour + (255,)
    for y in range(9, 14):
        px[y][8] = HANDLE + (255,)
    for x, y in ((7, 14), (6, 13)):
        px[y][x] = HANDLE + (255,)
    return px


def ico(px):
    """An icon file of one 32-bit image with its AND mask (set where transparent)."""
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    mask = b""
    for row in reversed(px):
        bits = 0
        for x, p in enumerate(row):
            if p[3] == 0:
                bits |= 1 << (SIZE - 1 - x)
        mask += struct.pack(">H", bits) + b"\0\0"  # rows padded to 32 bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22) + image


def main(folder):
    frames = [umbrella(BLUE), umbrella(GREY)] + [umbrella(BLUE, band) for band in range(4)]
    for n, px in enumerate(frames, 1):
        with open(f"{folder}/Runner{n}.ico", "wb") as f:
            f.write(ico(px))


if __name__ == "__main__":
    main(sys.argv[1])
