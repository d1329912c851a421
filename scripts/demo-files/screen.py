"""The demo's eyes and hand on the virtual display: screenshots of Wine's
desktop, which of the tray's icons the notification area shows, and the
pointer resting on that icon (so its tip shows) or away from it.

    screen.py wait DISPLAY STATE SECONDS [FILE]
                                            until the notification area shows STATE;
                                            FILE keeps the screen that did (or the last one)
    screen.py hover DISPLAY STATE FILE SECONDS
                                            pointer on the tray icon until one screen shows
                                            both STATE and the icon's tip; FILE keeps that screen
    screen.py away DISPLAY                  pointer on the empty desktop
    screen.py verify FILE STATE             a saved desktop shows STATE and is not blank

STATE: idle (the blue umbrella, still), busy (the orange band sweeping),
unreachable (the grey umbrella), balloon (idle, with a balloon above the icon),
quiet (idle, no balloon).
"""
import ctypes
import io
import re
import subprocess
import sys
import time

from PIL import Image

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from brand_icons import BLUE, GREY, ORANGE  # noqa: E402

TASKBAR = 20  # height of the desktop shell's taskbar
BALLOON = (255, 255, 255)  # a balloon's background, and a tip's
TIP = 1000  # at least this many more of them once the tip shows


def desktop_geometry(display):
    """(x, y, width, height) of the desktop shell's window on the X screen."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                          capture_output=True, text=True, check=True).stdout
    m = re.search(r'"[^"\n]*Wine desktop"[^\n]*?\s(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', tree)
    if not m:
        raise SystemExit("screen.py: no Wine desktop window on " + display)
    w, h, x, y = map(int, m.groups())
    return x, y, w, h


def capture(display):
    x, y, w, h = desktop_geometry(display)
    png = subprocess.run(["import", "-display", display, "-window", "root", "png:-"],
                         capture_output=True, check=True).stdout
    return Image.open(io.BytesIO(png)).convert("RGB").crop((x, y, x + w, y + h))


def tray_area(image):
    w, h = image.size
    return image.crop((w // 2, h - TASKBAR, w, h))


def count(image, colour):
    return sum(n for n, c in image.getcolors(1 << 20) if c == colour)


def icon_box(image):
    """Bounding box of the tray icon's pixels in the notification area, in desktop coordinates."""
    area = tray_area(image)
    w, h = image.size
    xs, ys = [], []
    px = area.load()
    for yy in range(area.size[1]):
        for xx in range(area.size[0]):
            if px[xx, yy] in (BLUE, ORANGE, GREY):
                xs.append(xx)
                ys.append(yy)
    if not xs:
        return None
    return (min(xs) + w // 2, min(ys) + h - TASKBAR, max(xs) + w // 2, max(ys) + h - TASKBAR)


def balloon_pixels(image):
    """Balloon (or tip) coloured pixels above the taskbar's right half."""
    w, h = image.size
    return count(image.crop((w // 2, h // 2, w, h - TASKBAR)), BALLOON)


def shows(image, state):
    area = tray_area(image)
    blue, orange, grey = count(area, BLUE), count(area, ORANGE), count(area, GREY)
    if state == "busy":
        return orange > 0
    if state == "unreachable":
        return grey > 0 and blue == 0 and orange == 0
    idle = blue > 0 and orange == 0 and grey == 0
    if state == "idle":
        return idle
    # A balloon is some 200 x 50 white pixels; the status window's frame has about 1200.
    if state == "balloon":
        return idle and balloon_pixels(image) > 6000
    if state == "quiet":
        return idle and balloon_pixels(image) < 3000
    raise SystemExit("screen.py: unknown state " + state)


def blank(image):
    return len(image.getcolors(1 << 20) or []) < 16


def wait(display, state, seconds, keep=None):
    # Still means still: the busy frames include the idle one, so idle must hold.
    # A balloon shows only after the icon is still again, and not for long.
    needed = 3 if state in ("idle", "quiet", "unreachable") else 1
    seen, end = 0, time.monotonic() + float(seconds)
    while True:
        image = capture(display)
        seen = seen + 1 if shows(image, state) else 0
        if seen >= needed or time.monotonic() > end:
            break
        time.sleep(0.3)
    if keep:
        image.save(keep)
    if seen >= needed:
        return 0
    print(f"screen.py: the notification area did not show '{state}' within {seconds} s"
          + (f" (the screen as it was: {keep})" if keep else ""), file=sys.stderr)
    return 1


def hover(display, state, keep, seconds):
    # The busy frames include the plain one, so the state is read off the very
    # screen that shows the tip: screens are taken until one shows both.
    x, y, w, h = desktop_geometry(display)
    end = time.monotonic() + float(seconds)
    image = capture(display)
    box = icon_box(image)
    if box is None:
        print("screen.py: no tray icon in the notification area", file=sys.stderr)
        return 1
    before = balloon_pixels(image)
    move_pointer(display, x + (box[0] + box[2]) // 2, y + (box[1] + box[3]) // 2)
    while True:
        time.sleep(0.2)
        image = capture(display)
        tipped = balloon_pixels(image) >= before + TIP
        if tipped and shows(image, state):
            image.save(keep)
            return 0
        if time.monotonic() > end:
            image.save(keep)
            print(f"screen.py: no screen showed '{state}' and the icon's tip together within {seconds} s"
                  f" (the screen as it was: {keep})", file=sys.stderr)
            return 1


def move_pointer(display, x, y):
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise SystemExit("screen.py: cannot open display " + display)
    xtst.XTestFakeMotionEvent(ctypes.c_void_p(dpy), -1, x, y, 0)
    x11.XFlush(ctypes.c_void_p(dpy))
    x11.XCloseDisplay(ctypes.c_void_p(dpy))


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "wait":
        return wait(*args)
    if command == "hover":
        return hover(*args)
    if command == "away":
        x, y, w, h = desktop_geometry(args[0])
        move_pointer(args[0], x + w // 3, y + h // 3)
        return 0
    if command == "verify":
        image = Image.open(args[0]).convert("RGB")
        if blank(image):
            print(f"{args[0]}: blank", file=sys.stderr)
            return 1
        if not shows(image, args[1]):
            print(f"{args[0]}: the notification area does not show '{args[1]}'", file=sys.stderr)
            return 1
        return 0
    raise SystemExit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
