#!/usr/bin/python3
# End to end under Wine on a 1024x768 Xvfb screen: the saver shows the same pixels as the
# headless capture, ends on a key or on pointer movement, refuses a second copy, ignores /p and
# shows the dialog for /c. Then on a 2048x768 screen split into two monitors: the saver covers
# both, the artwork on the primary; and with no active monitor it ends at once. Last, a lower
# resolution set under a running saver is followed and not taken for the user.
# Prints the start-up times of the Wine and (when given) X11 builds.
#   wine_e2e.py --scr Quietglass.scr --capture quietglass-capture \
#     --change-resolution change_resolution.exe [--x11 quietglass]
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SCREEN = (1024, 768)
FULL_HD = (1920, 1080)
TWO_MONITORS = (2048, 768)  # two of SCREEN side by side, the primary on the left
BAND = bytes([0x31, 0x00, 0x31])  # the saver's purple around the artwork
MAX_SCR_BYTES = 2 * 1024 * 1024
DIALOG_TITLE = "Quietglass v1.01"
DIALOG_CLIENT = (225, 289)  # 3375 x 4335 twips
# The OK button's centre in the dialog's client area: its box is 2160, 3840, 1095, 375 twips.
OK_BUTTON_CENTRE = (180, 268)
HEADLESS_DESKTOP = bytes([0, 0x80, 0x80])  # the headless screen around the windows
CAPTURE_TICKS = 40  # two and a half disk cycles: every picture the animation shows
SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Deadlines: generous, since Wine starts slowly on a busy machine; none is a measurement.
WINEBOOT_SECONDS = 180
FIRST_FRAME_SECONDS = 90
EXIT_SECONDS = 30


class Results:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def check(self, what, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print(f"{'ok  ' if ok else 'FAIL'} {what}{': ' + detail if detail else ''}", flush=True)
        return ok

    def skip(self, what, why):
        self.skipped += 1
        print(f"SKIP {what}: {why}", flush=True)


# ---- Pictures ---------------------------------------------------------------------------------


def read_png_rgb(path):
    """(width, height, RGB bytes) of an 8-bit RGB or RGBA PNG whose rows use filter 0."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8 : at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack_from(">IIBB", body)
            if depth != 8 or colour not in (2, 6):
                raise ValueError(f"{path}: only 8-bit RGB or RGBA is read here")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + width * channels
    rows = []
    for y in range(height):
        row = raw[y * stride : (y + 1) * stride]
        if row[0] != 0:
            raise ValueError(f"{path}: row filter {row[0]} is not read here")
        rows.append(row[1:] if channels == 3 else drop_alpha(row[1:]))
    return width, height, b"".join(rows)


def drop_alpha(rgba):
    rgb = bytearray(len(rgba) // 4 * 3)
    for c in range(3):
        rgb[c::3] = rgba[c::4]
    return bytes(rgb)


def parse_xwd_rgb(data):
    """(width, height, RGB bytes) of a 32-bit TrueColor XWD dump, as xwd writes Xvfb's screen."""
    fields = struct.unpack_from(">25I", data)
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red, green, blue, colours = fields[14], fields[15], fields[16], fields[19]
    # Packed 24-bit pixels show up too once Wine has run (on rows as long as 32-bit ones).
    step = bits_per_pixel // 8
    if step not in (3, 4) or bytes_per_line < width * step or \
            (red, green, blue) != (0xFF0000, 0xFF00, 0xFF):
        raise ValueError(f"unexpected XWD pixel format: {bits_per_pixel} bits, "
                         f"{bytes_per_line} bytes a row, masks {red:x} {green:x} {blue:x}")
    pixels = data[header_size + 12 * colours :]
    # Least significant byte first puts blue first in memory.
    offsets = (2, 1, 0) if byte_order == 0 else (step - 3, step - 2, step - 1)
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = pixels[y * bytes_per_line : y * bytes_per_line + width * step]
        out = memoryview(rgb)[y * width * 3 : (y + 1) * width * 3]
        for c, offset in enumerate(offsets):
            out[c::3] = row[offset::step]
    return width, height, bytes(rgb)


class Box:
    def __init__(self, x0, y0, x1, y1):
        self.x0, self.y0, self.x1, self.y1 = x0, y0, x1, y1  # x1, y1 one past the last

    def __str__(self):
        return f"x {self.x0}..{self.x1 - 1}, y {self.y0}..{self.y1 - 1}"


def moving_box(frames, width, height):
    """The smallest box holding every pixel that differs between the frames."""
    first = frames[0]
    x0, y0, x1, y1 = width, height, 0, 0
    row_bytes = width * 3
    for frame in frames[1:]:
        for y in range(height):
            a = first[y * row_bytes : (y + 1) * row_bytes]
            b = frame[y * row_bytes : (y + 1) * row_bytes]
            if a == b:
                continue
            left = next(i for i in range(0, row_bytes, 3) if a[i : i + 3] != b[i : i + 3]) // 3
            right = next(i for i in range(row_bytes - 3, -1, -3) if a[i : i + 3] != b[i : i + 3])
            x0, x1 = min(x0, left), max(x1, right // 3 + 1)
            y0, y1 = min(y0, y), max(y1, y + 1)
    return Box(x0, y0, x1, y1) if x1 > x0 else None


def outside_matches(shot, expected, width, height, box):
    """True when every pixel outside `box` is the same in both pictures."""
    row_bytes = width * 3
    for y in range(height):
        a = shot[y * row_bytes : (y + 1) * row_bytes]
        b = expected[y * row_bytes : (y + 1) * row_bytes]
        if box.y0 <= y < box.y1:
            if a[: box.x0 * 3] != b[: box.x0 * 3] or a[box.x1 * 3 :] != b[box.x1 * 3 :]:
                return False
        elif a != b:
            return False
    return True


def inside(picture, width, box):
    return b"".join(picture[(y * width + box.x0) * 3 : (y * width + box.x1) * 3]
                    for y in range(box.y0, box.y1))


# ---- The X server, Wine and the program -------------------------------------------------------


class Session:
    """An Xvfb screen and a Wine prefix of our own, and every process started on them."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.processes = []
        self.xvfb = None
        self.env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=os.path.join(workdir, "prefix"),
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.log = open(os.path.join(workdir, "wine.log"), "w")
        self.new_screen(SCREEN)

    def new_screen(self, size):
        """Ends everything on the current screen, Wine's server included (its desktop process
        knows the monitors it started with), and starts a fresh Xvfb of `size`."""
        self.end_processes()
        with open(os.path.join(self.workdir, "xvfb.log"), "a") as log:
            self.xvfb = subprocess.Popen(
                [os.path.join(SOURCE_ROOT, "scripts", "xvfb"), f"{size[0]}x{size[1]}"],
                stdout=subprocess.PIPE, stderr=log, text=True)
        display = self.xvfb.stdout.readline().strip()
        self.xvfb.stdout.close()
        if not display:
            raise RuntimeError("Xvfb did not start (see xvfb.log)")
        self.env["DISPLAY"] = f":{display}"

    def run(self, command, timeout):
        return subprocess.run(command, env=self.env, stdout=self.log, stderr=self.log,
                              timeout=timeout).returncode

    def start(self, command):
        process = subprocess.Popen(command, env=self.env, stdout=self.log, stderr=self.log)
        self.processes.append(process)
        return process

    def output(self, command):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=30)
        return " ".join(result.stdout.split()) if result.returncode == 0 else ""

    def screenshot(self, whole=False):
        data = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              timeout=30, check=True).stdout
        picture = parse_xwd_rgb(data)
        return picture if whole else picture[2]

    def visible_windows(self, *search):
        ids = self.output(["xdotool", "search", "--onlyvisible", *search])
        return ids.split() if ids else []

    def end_processes(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.processes = []
        if os.path.isdir(self.env["WINEPREFIX"]) and self.xvfb:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=self.log, stderr=self.log)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
            self.xvfb = None

    def close(self):
        self.end_processes()
        self.log.close()


def wait_until(condition, seconds, interval=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


def ended(process, seconds):
    try:
        process.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def wait_first_frame(session, process, started, expected, box):
    """Seconds from `started` to the first screenshot whose pixels outside the box are right;
    None when the program ended or the deadline passed first."""
    deadline = started + FIRST_FRAME_SECONDS
    while time.monotonic() < deadline and process.poll() is None:
        if outside_matches(session.screenshot(), expected, SCREEN[0], SCREEN[1], box):
            return time.monotonic() - started
        time.sleep(0.02)
    return None


def start_saver(session, command, expected, box):
    started = time.monotonic()
    process = session.start(command)
    return process, wait_first_frame(session, process, started, expected, box)


# ---- The checks -------------------------------------------------------------------------------


def capture_frames(capture, workdir):
    frames = []
    for ticks in range(CAPTURE_TICKS + 1):
        out = os.path.join(workdir, f"expected-{ticks}.png")
        subprocess.run([capture, "--screen", f"{SCREEN[0]}x{SCREEN[1]}", "--ticks", str(ticks),
                        "--out", out], check=True, timeout=60)
        width, height, rgb = read_png_rgb(out)
        if (width, height) != SCREEN:
            raise ValueError(f"{out} is {width}x{height}")
        frames.append(rgb)
    return frames


def capture_dialog(capture, workdir):
    """The dialog's client pixels as the headless host draws them: everything on its screen that
    is not the desktop's colour."""
    out = os.path.join(workdir, "expected-dialog.png")
    subprocess.run([capture, "--screen", f"{SCREEN[0]}x{SCREEN[1]}", "--ticks", "0", "--out", out,
                    "--", "/c"], check=True, timeout=60)
    width, height, rgb = read_png_rgb(out)
    x0, y0, x1, y1 = width, height, 0, 0
    for y in range(height):
        row = rgb[y * width * 3 : (y + 1) * width * 3]
        columns = [x for x in range(width) if row[x * 3 : x * 3 + 3] != HEADLESS_DESKTOP]
        if columns:
            x0, x1 = min(x0, columns[0]), max(x1, columns[-1] + 1)
            y0, y1 = min(y0, y), max(y1, y + 1)
    return (x1 - x0, y1 - y0), crop(rgb, width, Box(x0, y0, x1, y1))


def crop(picture, width, box):
    return inside(picture, width, box)


def check_saver(session, results, scr, frames, box, times):
    # From a folder with a blank in its name, as Windows starts an installed saver: the quoted
    # path must not leak into the switch.
    folder = os.path.join(session.env["WINEPREFIX"], "drive_c", "Quiet glass")
    os.makedirs(folder, exist_ok=True)
    spaced = os.path.join(folder, "Quietglass.scr")
    shutil.copy(scr, spaced)

    saver, seconds = start_saver(session, ["wine", spaced, "/s"], frames[0], box)
    if not results.check("/s from a path with a blank shows the artwork centred, same pixels as "
                         "the headless capture outside the disk's box", seconds is not None,
                         f"first full frame after {seconds:.2f} s" if seconds else "never"):
        return
    times.append(("Wine, first start after wineboot", seconds))
    inside_frames = {inside(frame, SCREEN[0], box) for frame in frames}
    matched = wait_until(lambda: inside(session.screenshot(), SCREEN[0], box) in inside_frames,
                         5, 0.07)
    results.check("the disk's box shows one of the animation's pictures", matched)
    windows = session.visible_windows("--classname", "quietglass.scr")
    geometry = [session.output(["xdotool", "getwindowgeometry", w]) for w in windows]
    results.check("one visible window covering the screen", len(windows) == 1 and
                  f"Geometry: {SCREEN[0]}x{SCREEN[1]}" in geometry[0], "; ".join(geometry))

    # The report of the pointer when the window appeared only starts the grace period.
    time.sleep(1.5)
    results.check("still running 1.5 s after the first frame without input", saver.poll() is None)

    second = session.start(["wine", scr, "/s"])
    results.check("a second copy ends at once while the first runs",
                  ended(second, EXIT_SECONDS) and saver.poll() is None,
                  f"second exit status {second.poll()}, first running: {saver.poll() is None}")
    results.check("the first copy's screen is untouched by the second",
                  outside_matches(session.screenshot(), frames[0], SCREEN[0], SCREEN[1], box))

    session.run(["xdotool", "key", "space"], 30)
    results.check("a key ends the saver", ended(saver, EXIT_SECONDS),
                  f"exit status {saver.poll()}")


def check_pointer(session, results, scr, frames, box, times):
    saver, seconds = start_saver(session, ["wine", scr, "/s"], frames[0], box)
    if not results.check("/s shows the saver again", seconds is not None):
        return
    times.append(("Wine, warm start", seconds))
    # The window's own pointer report starts the grace period, the next one clears it and the
    # third ends the saver; moved at once, three moves make at least three reports.
    gone_after = None
    for move, (x, y) in enumerate([(200, 200), (400, 300), (600, 400)], start=1):
        session.run(["xdotool", "mousemove", str(x), str(y)], 30)
        time.sleep(0.15)
        if gone_after is None and saver.poll() is not None:
            gone_after = move
    results.check("moving the pointer three times ends the saver", ended(saver, EXIT_SECONDS),
                  f"gone {'after move ' + str(gone_after) if gone_after else 'later'}")


def check_preview(session, results, scr):
    process = session.start(["wine", scr, "/p", "1234"])
    seen = []

    def done():
        seen.extend(session.visible_windows("--classname", "quietglass.scr"))
        return process.poll() is not None

    results.check("/p 1234 ends without showing a window",
                  wait_until(done, EXIT_SECONDS, 0.02) and not seen,
                  f"exit status {process.poll()}, windows seen: {sorted(set(seen)) or 'none'}")


def check_dialog(session, results, scr, expected_dialog):
    dialog = session.start(["wine", scr, "/c"])
    windows = []

    def shown():
        windows[:] = session.visible_windows("--name", DIALOG_TITLE)
        return bool(windows) or dialog.poll() is not None

    wait_until(shown, FIRST_FRAME_SECONDS)
    if not results.check(f'/c shows the window "{DIALOG_TITLE}"', bool(windows)):
        return
    window = windows[0]
    geometry = session.output(["xdotool", "getwindowgeometry", window])
    # Without a window manager, the X window is the client area; Wine draws no frame.
    results.check("its client area is 225 x 289 pixels",
                  f"Geometry: {DIALOG_CLIENT[0]}x{DIALOG_CLIENT[1]}" in geometry, geometry)
    expected_size, expected_pixels = expected_dialog
    position = geometry.split("Position: ")[-1].split()[0].split(",")
    x, y = int(position[0]), int(position[1])
    client = Box(x, y, x + DIALOG_CLIENT[0], y + DIALOG_CLIENT[1])
    same = expected_size == DIALOG_CLIENT and wait_until(
        lambda: crop(session.screenshot(), SCREEN[0], client) == expected_pixels, 10, 0.1)
    results.check("its client area has the same pixels as the headless capture", same,
                  f"headless client {expected_size[0]} x {expected_size[1]}")
    setup_source = open(os.path.join(SOURCE_ROOT, "setup", "frm_setup.cpp")).read()
    if '"&OK"' not in setup_source:
        results.skip("clicking OK ends the program",
                     'the dialog has no OK button yet (no "&OK" caption in setup/frm_setup.cpp)')
        dialog.kill()
        dialog.wait()
        return
    session.run(["xdotool", "mousemove", "--window", window, str(OK_BUTTON_CENTRE[0]),
                 str(OK_BUTTON_CENTRE[1]), "click", "1"], 30)
    results.check("clicking OK ends the program", ended(dialog, EXIT_SECONDS),
                  f"exit status {dialog.poll()}")

    dialog = session.start(["wine", scr, "/c"])
    wait_until(shown, FIRST_FRAME_SECONDS)
    if not results.check("/c shows the dialog again", bool(windows)):
        return
    session.run(["xdotool", "key", "alt+o"], 30)
    results.check("Alt+O, OK's access key, ends the program", ended(dialog, EXIT_SECONDS),
                  f"exit status {dialog.poll()}")


def use_xrandr(session, yes_or_no):
    """Sets whether Wine's X11 driver reads RandR, and waits until Wine's server has ended: the
    desktop process that `reg` brings up read the setting before it was changed."""
    session.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseXRandR", "/t",
                 "REG_SZ", "/d", yes_or_no, "/f"], 60)
    session.run(["wineserver", "-w"], 60)


def check_two_monitors(session, results, scr, frames, box):
    """Two monitors side by side. Wine's X11 driver reads RandR's outputs, not its monitors; told
    not to use RandR, it takes the monitors from Xinerama, which the server fills from them."""
    if not results.check("xrandr is there to set monitors", shutil.which("xrandr") is not None,
                         "install x11-xserver-utils"):
        return
    session.new_screen(TWO_MONITORS)
    for monitor in ("*LEFT 1024/271x768/203+0+0 screen", "RIGHT 1024/271x768/203+1024+0 none"):
        session.run(["xrandr", "--setmonitor", *monitor.split()], 30)
    use_xrandr(session, "N")
    saver = session.start(["wine", scr, "/s"])

    def covered():
        width, height, rgb = session.screenshot(whole=True)
        row = width * 3
        left = b"".join(rgb[y * row : y * row + SCREEN[0] * 3] for y in range(height))
        right = b"".join(rgb[y * row + SCREEN[0] * 3 : (y + 1) * row] for y in range(height))
        return (width, height) == TWO_MONITORS and right == BAND * (len(right) // 3) and \
            outside_matches(left, frames[0], SCREEN[0], SCREEN[1], box)

    shown = wait_until(lambda: covered() or saver.poll() is not None, FIRST_FRAME_SECONDS, 0.1)
    results.check("two monitors: the artwork on the primary as on a screen of its own, the other "
                  "all band colour", shown and saver.poll() is None,
                  f"exit status {saver.poll()}" if saver.poll() is not None else "")
    session.run(["xdotool", "key", "space"], 30)
    results.check("two monitors: a key ends the saver", ended(saver, EXIT_SECONDS),
                  f"exit status {saver.poll()}")

    # With RandR in use again and the only output switched off, Wine has no monitor to offer:
    # a saver that could not be seen, nor ended, must not run.
    session.new_screen(TWO_MONITORS)
    use_xrandr(session, "Y")
    session.run(["xrandr", "--output", "screen", "--off", "--fb",
                 f"{TWO_MONITORS[0]}x{TWO_MONITORS[1]}"], 30)
    saver = session.start(["wine", scr, "/s"])
    seen = []

    def done():
        seen.extend(session.visible_windows("--classname", "quietglass.scr"))
        return saver.poll() is not None

    results.check("no active monitor: /s ends at once with status 1, without a window",
                  wait_until(done, EXIT_SECONDS, 0.05) and saver.poll() == 1 and not seen,
                  f"exit status {saver.poll()}, windows seen: {sorted(set(seen)) or 'none'}")


def check_resolution_change(session, results, scr, tool):
    """The resolution lowered under a running saver, in a virtual desktop, where Wine changes
    modes: the pointer it pulls onto the smaller screen is not the user, a key still is."""
    session.new_screen(FULL_HD)
    session.run(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/t",
                 "REG_SZ", "/d", "Default", "/f"], 60)
    session.run(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                 "/t", "REG_SZ", "/d", f"{FULL_HD[0]}x{FULL_HD[1]}", "/f"], 60)
    session.run(["wineserver", "-w"], 60)  # the desktop process comes back with the setting
    # Where the saver parks it, so that Wine's cursor and the server's pointer agree.
    session.run(["xdotool", "mousemove", str(FULL_HD[0] - 1), str(FULL_HD[1] - 1)], 30)
    saver = session.start(["wine", scr, "/s"])

    def shown():
        width, height, rgb = session.screenshot(whole=True)
        return rgb[:3] == BAND and rgb[-3:] == BAND or saver.poll() is not None

    if not results.check("a 1920x1080 virtual desktop shows the saver",
                         wait_until(shown, FIRST_FRAME_SECONDS, 0.1) and saver.poll() is None):
        return
    time.sleep(1.5)  # past the grace period
    status = session.run(["wine", tool, str(SCREEN[0]), str(SCREEN[1])], 60)
    time.sleep(2)
    results.check("lowered to 1024x768, the saver goes on",
                  status == 0 and saver.poll() is None,
                  f"ChangeDisplaySettings status {status}, saver exit status {saver.poll()}")
    session.run(["xdotool", "key", "space"], 30)
    results.check("after the change a key ends it", ended(saver, EXIT_SECONDS),
                  f"exit status {saver.poll()}")


def measure_x11(session, x11, frames, box, times):
    linked = subprocess.run(["ldd", x11], capture_output=True, text=True).stdout
    if "libX11" not in linked:
        print(f"note: {x11} is not an X11 build; its start-up time is not measured")
        return
    saver, seconds = start_saver(session, [x11, "/s"], frames[0], box)
    if seconds is not None:
        times.append(("X11 host", seconds))
    else:
        print("note: the X11 build showed no matching frame; its start-up time is not measured")
    session.run(["xdotool", "key", "space"], 30)
    if not ended(saver, EXIT_SECONDS):
        saver.kill()
        saver.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scr", required=True, help="the cross-built Quietglass.scr")
    parser.add_argument("--capture", required=True, help="a native quietglass-capture")
    parser.add_argument("--change-resolution", required=True,
                        help="the cross-built change_resolution.exe test tool")
    parser.add_argument("--x11", help="a native quietglass on the X11 host, to time it too")
    args = parser.parse_args()

    results = Results()
    size = os.path.getsize(args.scr)
    results.check("Quietglass.scr is under 2 MB", size < MAX_SCR_BYTES, f"{size} bytes")

    workdir = tempfile.mkdtemp(prefix="qg-wine-")
    session = None
    times = []
    try:
        frames = capture_frames(args.capture, workdir)
        expected_dialog = capture_dialog(args.capture, workdir)
        box = moving_box(frames, *SCREEN)
        if not results.check("the headless captures show the disk moving", box is not None,
                             f"moving box {box}"):
            return 1
        session = Session(workdir)
        booted = time.monotonic()
        status = session.run(["wineboot", "-i"], WINEBOOT_SECONDS)
        results.check("a fresh Wine prefix boots", status == 0,
                      f"{time.monotonic() - booted:.1f} s, exit status {status}")
        session.run(["wineserver", "-p"], 30)  # keeps Wine up between the runs below
        for check in (lambda: check_saver(session, results, args.scr, frames, box, times),
                      lambda: check_pointer(session, results, args.scr, frames, box, times),
                      lambda: check_preview(session, results, args.scr),
                      lambda: check_dialog(session, results, args.scr, expected_dialog)):
            check()
        if args.x11:
            measure_x11(session, args.x11, frames, box, times)
        check_two_monitors(session, results, args.scr, frames, box)
        check_resolution_change(session, results, args.scr, args.change_resolution)
    finally:
        if session:
            session.close()
        shutil.rmtree(workdir, ignore_errors=True)

    print(f"Quietglass.scr size: {size} bytes ({size / 1024 / 1024:.2f} MB)")
    for what, seconds in times:
        print(f"start to first full frame, {what}: {seconds:.2f} s")
    if not any(what == "X11 host" for what, _ in times):
        print("start to first full frame, X11 host: not measured")
    print(f"{results.passed} passed, {results.failed} failed, {results.skipped} skipped")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
