"""Screenshots of an Xvfb screen, read from the frame buffer file Xvfb keeps with -fbdir, and
its pointer's cursor."""
import ctypes
import os
import struct
import subprocess
import sys
import time
import zlib

WIDTH, HEIGHT = 800, 700


WITH_DISPLAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "with_display.py")


def xvfb_command(fbdir, command, screen=None):
    """`command` under its own Xvfb, whose screen 0 is mirrored as an XWD file in `fbdir` when
    given."""
    server = ["--screen", screen or f"{WIDTH}x{HEIGHT}x24"] if fbdir or screen else []
    return ([sys.executable, WITH_DISPLAY] + server + (["--fbdir", fbdir] if fbdir else [])
            + ["--"] + command)


class Image:
    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows  # rows: RGB bytes per line

    def crop(self, left, top, width, height):
        return Image(width, height, [row[left * 3:(left + width) * 3]
                                     for row in self.rows[top:top + height]])

    def colours(self):
        return len({row[i:i + 3] for row in self.rows for i in range(0, len(row), 3)})

    def save_png(self, path):
        def chunk(kind, data):
            return (struct.pack(">I", len(data)) + kind + data +
                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        pixels = zlib.compress(b"".join(b"\0" + row for row in self.rows))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) +
                      chunk(b"IEND", b""))


def grab(fbdir):
    """The screen as it is now (a 24-bit TrueColor XWD frame buffer), or None while Xvfb has not
    yet written its frame buffer file whole."""
    try:
        with open(os.path.join(fbdir, "Xvfb_screen0"), "rb") as frame:
            data = frame.read()
    except FileNotFoundError:
        return None
    if len(data) < 100:
        return None
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    colours = fields[19]
    if header_size == 0 or bits_per_pixel == 0:
        return None  # the file is made before its header is written
    assert bits_per_pixel == 32, "the frame buffer is not 32 bits per pixel"
    start = header_size + colours * 12
    if len(data) < start + height * bytes_per_line:
        return None
    red, green, blue = (2, 1, 0) if byte_order == 0 else (1, 2, 3)
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * 4]
        row = bytearray(width * 3)
        row[0::3], row[1::3], row[2::3] = line[red::4], line[green::4], line[blue::4]
        rows.append(bytes(row))
    return Image(width, height, rows)


def display_of(pid):
    """The environment of this process with the X display (and its authority) of process `pid`."""
    with open(f"/proc/{pid}/environ", "rb") as environ:
        settings = dict(item.decode().split("=", 1) for item in environ.read().split(b"\0")
                        if b"=" in item)
    return dict(os.environ, **{k: settings[k] for k in ("DISPLAY", "XAUTHORITY") if k in settings})


def window_geometry(environment=None, *search):
    """x, y, width and height of the visible window named "Muvra" (narrowed by xdotool `search`
    options such as "--pid", "123"), once it shows."""
    command = ["xdotool", "search", "--onlyvisible", *search, "--name", "^Muvra$"]
    deadline = time.monotonic() + 30
    while not (found := subprocess.run(command, env=environment, capture_output=True,
                                       text=True).stdout.split()):
        assert time.monotonic() < deadline, "the window never showed"
        time.sleep(0.05)
    values = dict(line.split("=") for line in subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", found[0]], env=environment,
        capture_output=True, text=True, check=True).stdout.split())
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def settled(fbdir, region, differs_from=None, deadline=60):
    """The region once it has stopped changing (and differs from `differs_from` when given)."""
    limit = time.monotonic() + deadline
    previous, unchanged = None, 0
    while True:
        assert time.monotonic() < limit, "the screen never settled"
        frame = grab(fbdir)
        if frame is not None:
            image = frame.crop(*region)
            if differs_from is not None and image.rows == differs_from.rows:
                unchanged = 0
            elif previous is not None and image.rows == previous.rows:
                unchanged += 1
                if unchanged == 5:
                    return image
            else:
                unchanged = 0
            previous = image
        time.sleep(0.1)


def cursor_name(environment):
    """The name of the pointer's cursor on the display of `environment` (XFixes), "" for a
    cursor made without one, as the X server's own."""
    x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")

    class CursorImage(ctypes.Structure):
        _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                    ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                    ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                    ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.c_void_p),
                    ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]

    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    if "XAUTHORITY" in environment:
        os.environ["XAUTHORITY"] = environment["XAUTHORITY"]
    display = x11.XOpenDisplay(environment["DISPLAY"].encode())
    assert display, "the display could not be opened"
    try:
        image = xfixes.XFixesGetCursorImage(display)
        name = (image.contents.name or b"").decode()
        x11.XFree(image)
        return name
    finally:
        x11.XCloseDisplay(display)

