#!/usr/bin/env python3
"""End-to-end tests of the real quietglass executable on a headless compositor of its own per test.

Each Sway test starts sway with two outputs side by side (HEADLESS-1 1024x768, then HEADLESS-2
800x600) in a private XDG_RUNTIME_DIR, runs quietglass on it, looks with grim and swaymsg, types
with wtype, and points and types through wayvnc (whose virtual pointer and keyboard a few bytes
of the VNC protocol drive). sway refuses root, so when run as root every process of the test runs
as nobody. What the saver and the dialog show is compared with quietglass-capture's picture of
the same moment on the headless host. Each Weston test starts a headless weston, one output,
and looks with weston-screenshooter.

    wayland_e2e.py --program build/quietglass --capture build/tools/quietglass-capture [TEST...]
    wayland_e2e.py --list      # the tests' names (Class.test), for CMake
"""

import argparse
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from pictures import (DISK_LEFT, DISK_RIGHT, PURPLE, Picture, first_difference,
                      headless_capture, read_png, read_ppm)
from processes import stop_processes, wait_for

PROGRAM = CAPTURE = None

PRIMARY, SECOND = ("HEADLESS-1", 1024, 768), ("HEADLESS-2", 800, 600)
# The dialog's OK button in its client area, from its layout in twips (15 to a pixel).
OK_CENTRE = (2160 // 15 + 73 // 2, 3840 // 15 + 25 // 2)
KEYSYM_ALT_L, KEYSYM_O, KEYSYM_RETURN = 0xFFE9, 0x6F, 0xFF0D
# The title bar the dialog draws itself where the compositor draws none.
TITLE_BAR, TITLE_BAR_COLOUR = 22, bytes([0, 0, 0x80])


def headless_dialog_client():
    """The dialog's client area as the headless host shows it (only that, on a teal desktop)."""
    capture = headless_capture(CAPTURE, "800x600", ["/c"])
    desktop = capture.at(0, 0)
    rows = [y for y in range(capture.height) if capture.row(y) != desktop * capture.width]
    columns = [x for x in range(capture.width) if any(capture.at(x, y) != desktop for y in rows)]
    return capture.crop(columns[0], rows[0], columns[-1] - columns[0] + 1, rows[-1] - rows[0] + 1)


def enlarged(picture, scale):
    """Each pixel of `picture` a square of `scale` x `scale`."""
    rows = []
    for y in range(picture.height):
        row = b"".join(picture.at(x, y) * scale for x in range(picture.width))
        rows.extend([row] * scale)
    return Picture(picture.width * scale, picture.height * scale, b"".join(rows))


def artwork_place(picture):
    """(left, top, right) of what is not band colour: the artwork's (the disk moves below)."""
    rows = [y for y in range(picture.height) if picture.row(y) != PURPLE * picture.width]
    columns = [x for y in rows[::8] for x in range(picture.width) if picture.at(x, y) != PURPLE]
    return (min(columns), rows[0], max(columns) + 1) if rows else None


class Vnc:
    """A VNC client of wayvnc's UNIX socket: only the handshake, pointer and key events."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(10)
        self.socket.connect(path)
        assert self.receive(12).startswith(b"RFB 003.")
        self.socket.sendall(b"RFB 003.008\n")
        types = self.receive(self.receive(1)[0])
        assert 1 in types, f"wayvnc asks for security types {list(types)}"
        self.socket.sendall(bytes([1]))  # None
        assert struct.unpack(">I", self.receive(4))[0] == 0
        self.socket.sendall(bytes([1]))  # shared
        self.receive(20)  # size and pixel format
        self.receive(struct.unpack(">I", self.receive(4))[0])  # name

    def receive(self, count):
        data = b""
        while len(data) < count:
            chunk = self.socket.recv(count - len(data))
            if not chunk:
                raise EOFError("wayvnc closed the connection")
            data += chunk
        return data

    def move(self, x, y, buttons=0):
        self.socket.sendall(struct.pack(">BBHH", 5, buttons, x, y))

    def click(self, x, y):
        self.move(x, y)
        time.sleep(0.05)
        self.move(x, y, 1)
        time.sleep(0.05)
        self.move(x, y, 0)

    def keys(self, *keysyms):
        for keysym in keysyms:
            self.socket.sendall(struct.pack(">BBHI", 4, 1, 0, keysym))
        for keysym in reversed(keysyms):
            self.socket.sendall(struct.pack(">BBHI", 4, 0, 0, keysym))

    def close(self):
        self.socket.close()


class Compositor(unittest.TestCase):
    """What every compositor's rig shares: a private directory and XDG_RUNTIME_DIR (nobody's when
    run as root), a copy of the program nobody can run, and every process stopped by its PID."""

    def prepare(self, tools, packages):
        for tool in tools:
            self.assertTrue(shutil.which(tool), f"{tool} is missing (apt-get install {packages})")
        self.processes = []
        self.vnc = None
        self.directory = tempfile.mkdtemp(prefix="quietglass-wayland-")
        self.addCleanup(self.stop_everything)
        self.runtime = os.path.join(self.directory, "runtime")
        os.mkdir(self.runtime, 0o700)
        # A copy of the program the user nobody can reach wherever the build directory lies.
        self.program = os.path.join(self.directory, "quietglass")
        shutil.copy(PROGRAM, self.program)
        os.chmod(self.program, 0o755)
        os.chmod(self.directory, 0o755)
        if os.getuid() == 0:
            shutil.chown(self.runtime, "nobody", "nogroup")
        self.environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.runtime,
            "XDG_RUNTIME_DIR": self.runtime,
        }

    def wait_for_display(self, compositor, ready=lambda: True):
        """The compositor's socket name once it is listening (and `ready`); None if it is not."""
        def display():
            names = [n for n in os.listdir(self.runtime) if n.startswith("wayland-")]
            sockets = [n for n in names if not n.endswith(".lock")]
            return sockets[0] if sockets and ready() else None

        found = wait_for(lambda: compositor.poll() is None and display(), 20)
        if found:
            self.environment["WAYLAND_DISPLAY"] = found
        return found

    def uid(self):
        return 65534 if os.getuid() == 0 else os.getuid()

    def stop_everything(self):
        if self.vnc:
            self.vnc.close()
        stop_processes(self.processes)
        shutil.rmtree(self.directory, ignore_errors=True)

    def command(self, argv):
        """`argv` as the user the compositor runs as."""
        if os.getuid() != 0:
            return list(argv)
        return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", *argv]

    def start(self, argv, extra=None, quiet=False, output=False, errors=None):
        """`argv` started; its stderr piped unless `quiet` or `errors` (a file) says otherwise."""
        environment = dict(self.environment, **(extra or {}))
        process = subprocess.Popen(self.command(argv), env=environment, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE if output else subprocess.DEVNULL,
                                   stderr=errors or (subprocess.DEVNULL if quiet else
                                                     subprocess.PIPE))
        self.processes.append(process)
        return process

    def run_tool(self, argv, **options):
        return subprocess.run(self.command(argv), env=self.environment, stdin=subprocess.DEVNULL,
                              capture_output=True, check=True, timeout=20, **options).stdout

    def launch(self, *args, extra=None, errors=None):
        return self.start([self.program, *args], extra, errors=errors)

    def ended_with_status_0(self, process, seconds=5):
        try:
            status = process.wait(seconds)
        except subprocess.TimeoutExpired:
            self.fail(f"still running {seconds} s later")
        self.assertEqual(status, 0, process.stderr.read().decode(errors="replace"))


class Sway(Compositor):
    """A headless sway of its own per test, two outputs side by side."""

    def setUp(self):
        self.prepare(("sway", "swaymsg", "grim", "wtype", "wayvnc"), "sway grim wtype wayvnc")
        self.config = config = os.path.join(self.directory, "config")
        with open(config, "w") as f:
            f.write("xwayland disable\n"
                    "workspace one output HEADLESS-1\n"
                    "workspace two output HEADLESS-2\n"
                    "bindsym Mod4+2 workspace away\n"  # a shortcut that would hide the saver
                    "output HEADLESS-1 mode 1024x768 position 0 0\n"
                    "output HEADLESS-2 mode 800x600 position 1024 0\n")
        os.chmod(config, 0o644)
        self.sway = self.start(["sway", "-c", config], {
            "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman", "WLR_HEADLESS_OUTPUTS": "2"}, quiet=True)
        self.ipc = os.path.join(self.runtime, f"sway-ipc.{self.uid()}.{self.sway.pid}.sock")
        self.display = self.wait_for_display(self.sway, lambda: os.path.exists(self.ipc))
        self.assertTrue(self.display, "sway did not start")
        self.environment["SWAYSOCK"] = self.ipc
        outputs = wait_for(lambda: len(self.outputs()) == 2 and self.outputs(), 10)
        self.assertEqual(outputs, {PRIMARY[0]: (0, 0, 1024, 768), SECOND[0]: (1024, 0, 800, 600)})

    def outputs(self):
        found = json.loads(self.run_tool(["swaymsg", "-r", "-t", "get_outputs"]))
        return {o["name"]: tuple(o["rect"][k] for k in ("x", "y", "width", "height"))
                for o in found if o.get("active")}

    def screenshot(self, output):
        return read_ppm(self.run_tool(["grim", "-t", "ppm", "-o", output, "-"]))


    def launch_saver(self):
        """The saver, once the primary shows it."""
        saver = self.launch("/s")
        shown = wait_for(lambda: saver.poll() is not None or
                         self.screenshot(PRIMARY[0]).at(0, 0) == PURPLE, 20)
        self.assertTrue(shown and saver.poll() is None, "the saver did not appear")
        return saver

    def start_vnc(self, layout="us"):
        """wayvnc on the primary: a virtual pointer and a keyboard of `layout` (wayvnc's
        layout-variant) we drive over its socket; it types each keysym with that layout's key."""
        path = os.path.join(self.runtime, "vnc")
        self.start(["wayvnc", "--unix-socket", "--output", PRIMARY[0], "--keyboard", layout, path],
                   quiet=True)

        def connected():
            # Its socket's file appears a moment before it listens there.
            try:
                self.vnc = Vnc(path)
                return True
            except (FileNotFoundError, ConnectionRefusedError):
                return False

        self.assertTrue(wait_for(connected, 20), "wayvnc did not start")

    # ---- The saver ---------------------------------------------------------------------------

    def test_outputs_show_the_headless_picture_and_the_band(self):
        want = headless_capture(CAPTURE, "1024x768")
        saver = self.launch_saver()
        # The artwork centred on the primary; the disk's column moves, the rest is painted once.
        skip = lambda x: DISK_LEFT <= x < DISK_RIGHT
        wait_for(lambda: first_difference(self.screenshot(PRIMARY[0]), want, skip) is None, 10)
        self.assertIsNone(first_difference(self.screenshot(PRIMARY[0]), want, skip))
        second = self.screenshot(SECOND[0])
        self.assertEqual((second.width, second.height), SECOND[1:])
        self.assertEqual(second.rgb, PURPLE * (800 * 600), "the second output is not all band")
        self.assertIsNone(saver.poll())

    def test_the_disk_moves_and_the_saver_sleeps_between_ticks(self):
        saver = self.launch_saver()
        column = lambda: self.screenshot(PRIMARY[0]).crop(DISK_LEFT, 0, DISK_RIGHT - DISK_LEFT,
                                                          768).rgb
        first = column()
        self.assertTrue(wait_for(lambda: column() != first, 5), "the disk's column never changed")
        # Between ticks it waits on the compositor's socket: sleeping in nearly every sample.
        states = []
        for _ in range(40):
            with open(f"/proc/{saver.pid}/stat") as f:
                states.append(f.read().rsplit(")", 1)[1].split()[0])
            time.sleep(0.025)
        self.assertGreaterEqual(states.count("S"), 30, f"states: {''.join(states)}")

    def test_a_key_ends_it_also_from_a_keyboard_that_appears_with_it(self):
        # wtype's keyboard joins the seat for the key, as a keyboard plugged in or a remote
        # desktop's does; without a pause its key may be down before the saver has the keyboard.
        for delay in ("100", None, None):
            with self.subTest(delay=delay):
                saver = self.launch_saver()
                self.run_tool(["wtype", "-s", delay, "x"] if delay else ["wtype", "x"])
                self.ended_with_status_0(saver)
        # Always so when the saver hears of the keyboard only once its key is down.
        saver = self.launch_saver()
        os.kill(saver.pid, signal.SIGSTOP)
        try:
            self.start(["wtype", "-P", "x", "-s", "1500", "-p", "x"])
            time.sleep(0.5)
        finally:
            os.kill(saver.pid, signal.SIGCONT)
        self.ended_with_status_0(saver)

    def test_a_key_held_from_before_the_saver_is_no_key_its_next_is(self):
        self.start_vnc()  # a keyboard that is there before the saver
        self.vnc.socket.sendall(struct.pack(">BBHI", 4, 1, 0, KEYSYM_RETURN))  # down: the Enter
        time.sleep(0.2)  # that started it from a terminal
        saver = self.launch_saver()
        self.vnc.socket.sendall(struct.pack(">BBHI", 4, 0, 0, KEYSYM_RETURN))
        time.sleep(0.5)
        self.assertIsNone(saver.poll(), "the release of a key held before it ended it")
        self.vnc.keys(KEYSYM_O)
        self.ended_with_status_0(saver)

    def focused_workspace(self):
        found = json.loads(self.run_tool(["swaymsg", "-r", "-t", "get_workspaces"]))
        return [w["name"] for w in found if w["focused"]]

    def test_a_compositor_shortcut_is_a_key_to_the_saver(self):
        self.start_vnc()  # the seat's keyboard, there before the saver
        saver = self.launch_saver()
        before = self.focused_workspace()
        self.run_tool(["wtype", "-M", "logo", "-s", "100", "2", "-m", "logo"])
        self.ended_with_status_0(saver)
        self.assertEqual(self.focused_workspace(), before, "sway ran its binding of Super+2")

    def test_losing_the_keyboard_or_full_screen_ends_the_saver(self):
        self.start_vnc()  # the seat's keyboard
        for name, command in (("another workspace", "workspace away"),
                              ("windowed", "[app_id=quietglass] fullscreen disable")):
            with self.subTest(name):
                saver = self.launch_saver()
                try:
                    self.run_tool(["swaymsg", command])
                    self.ended_with_status_0(saver)
                finally:
                    if saver.poll() is None:  # so that the next case is no second copy
                        saver.kill()
                        saver.wait()

    def test_two_pointer_reports_in_the_grace_do_not_end_it_a_third_does(self):
        self.start_vnc()
        self.vnc.move(300, 200)  # where the pointer is when the saver appears
        time.sleep(0.2)
        saver = self.launch_saver()  # its window appears under the pointer: the first report
        self.vnc.move(310, 210)
        time.sleep(0.4)
        self.assertIsNone(saver.poll(), "the second pointer report ended it")
        self.vnc.move(320, 220)
        self.ended_with_status_0(saver)

    def test_a_second_copy_and_a_preview_end_at_once_without_a_surface(self):
        # libwayland traces every request on stderr: none may make a surface.
        trace = {"WAYLAND_DEBUG": "client"}
        preview = self.launch("/p", "1234", extra=trace)
        self.assertEqual(preview.wait(10), 0)
        # With no descriptor left for the check, it must assume that another copy runs.
        starved = self.start(["prlimit", "--nofile=4", self.program, "/s"], trace)
        self.assertEqual(starved.wait(10), 0)
        saver = self.launch_saver()
        # The same compositor by its full path is still the same one.
        second = self.launch("/s", extra=dict(trace, WAYLAND_DISPLAY=os.path.join(self.runtime,
                                                                                  self.display)))
        self.assertEqual(second.wait(10), 0)
        for process in (preview, starved, second):
            requests = process.stderr.read().decode(errors="replace")
            self.assertIn("get_registry", requests)  # it did reach the compositor
            self.assertNotIn("create_surface", requests)
        self.assertIsNone(saver.poll(), "the first saver ended")

    def test_outputs_that_come_while_it_runs_are_covered(self):
        want = headless_capture(CAPTURE, "1024x768")
        saver = self.launch_saver()
        self.run_tool(["swaymsg", "create_output"])
        added = wait_for(lambda: [n for n in self.outputs()
                                  if n not in (PRIMARY[0], SECOND[0])], 10)
        self.assertTrue(added, "sway made no third output")

        def covered():
            shot = self.screenshot(added[0])
            return shot.rgb == PURPLE * (shot.width * shot.height)

        self.assertTrue(wait_for(covered, 10), "the new output is not covered by the band")
        skip = lambda x: DISK_LEFT <= x < DISK_RIGHT
        self.assertTrue(wait_for(lambda: first_difference(self.screenshot(PRIMARY[0]), want, skip)
                                 is None, 10), "the primary no longer shows the artwork")
        self.assertIsNone(saver.poll())

    def test_at_a_fractional_scale_the_artwork_stays_centred_when_sway_reloads(self):
        saver = self.launch_saver()
        with open(self.config, "a") as f:
            f.write(f"output {PRIMARY[0]} scale 1.25\n")  # 819 x 614 desktop pixels
        box = lambda: artwork_place(self.screenshot(PRIMARY[0]))
        # The artwork's place at 1.25 is where the headless host puts it, scaled by 1.25.
        headless = headless_capture(CAPTURE, "819x614")
        want = tuple(round(v * 1.25) for v in artwork_place(headless))
        near = lambda: all(abs(a - b) <= 2 for a, b in zip(box(), want))
        self.run_tool(["swaymsg", "reload"])
        self.assertTrue(wait_for(near, 10), f"at 1.25 the artwork lies at {box()}, not {want}")
        # A reload that changes nothing describes the output again all the same.
        self.run_tool(["swaymsg", "reload"])
        wait_for(lambda: not near(), 2)
        self.assertTrue(near(), f"after a second reload the artwork lies at {box()}, not {want}")
        self.assertIsNone(saver.poll())

    def test_a_start_without_the_compositor_fails_in_one_line_naming_it(self):
        # A socket that takes connections and never answers, as a hung compositor's does.
        mute = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(mute.close)
        mute.bind(os.path.join(self.runtime, "wayland-mute"))
        os.chmod(os.path.join(self.runtime, "wayland-mute"), 0o777)
        mute.listen(8)
        # A wayland-0 left by a compositor that is gone, found without WAYLAND_DISPLAY: only a
        # guess, so X is tried (and here fails for want of a server, saying so).
        stale = os.path.join(self.directory, "stale")
        os.mkdir(stale, 0o777)
        os.chmod(stale, 0o777)
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as gone:
            gone.bind(os.path.join(stale, "wayland-0"))
        cases = {"WAYLAND_DISPLAY=wayland-none": ({"WAYLAND_DISPLAY": "wayland-none"},
                                                  "compositor 'wayland-none'"),
                 "WAYLAND_SOCKET=99": ({"WAYLAND_SOCKET": "99"}, "WAYLAND_SOCKET=99"),
                 "no answer": ({"WAYLAND_DISPLAY": "wayland-mute"}, "does not answer"),
                 "a stale wayland-0": ({"WAYLAND_DISPLAY": "", "XDG_RUNTIME_DIR": stale,
                                        "DISPLAY": ":97"}, "display ':97'")}
        for name, (extra, named) in cases.items():
            with self.subTest(name):
                process = self.launch("/s", extra=extra)
                try:
                    status = process.wait(15)
                except subprocess.TimeoutExpired:
                    self.fail("still waiting 15 s later")
                lines = process.stderr.read().decode(errors="replace").splitlines()
                self.assertEqual(status, 1)
                self.assertEqual(len(lines), 1, lines)
                self.assertIn(named, lines[0])

    def test_a_compositor_stopped_for_a_moment_at_the_start_is_waited_for(self):
        os.kill(self.sway.pid, signal.SIGSTOP)
        try:
            saver = self.launch("/s")
            time.sleep(2)
            self.assertIsNone(saver.poll(), "it gave up on a compositor stopped for 2 s")
        finally:
            os.kill(self.sway.pid, signal.SIGCONT)
        self.assertTrue(wait_for(lambda: saver.poll() is not None or
                                 self.screenshot(PRIMARY[0]).at(0, 0) == PURPLE, 20),
                        "the saver did not appear")
        self.assertIsNone(saver.poll())

    # ---- The dialog --------------------------------------------------------------------------

    def dialog_client(self):
        """The client area (x, y, width, height) of the window named 'Quietglass v1.01'."""

        def find(node):
            if node.get("name") == "Quietglass v1.01" and node.get("visible"):
                return node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                if found := find(child):
                    return found
            return None

        node = find(json.loads(self.run_tool(["swaymsg", "-r", "-t", "get_tree"])))
        if not node:
            return None
        rect, inner = node["rect"], node["window_rect"]
        return (rect["x"] + inner["x"], rect["y"] + inner["y"], inner["width"], inner["height"])

    def launch_dialog(self, extra=None, errors=None):
        """The dialog, and its client area once sway has placed it (the same twice running)."""
        dialog = self.launch("/c", extra=extra, errors=errors)
        seen = []

        def placed():
            seen.append(self.dialog_client())
            return dialog.poll() is None and seen[-1] and seen[-2:] == [seen[-1]] * 2

        self.assertTrue(wait_for(placed, 20), "no window named 'Quietglass v1.01' appeared")
        return dialog, seen[-1]

    def test_the_dialog_shows_the_headless_client_area(self):
        want = headless_dialog_client()
        dialog, (_, _, width, height) = self.launch_dialog()
        self.assertEqual((width, height), (want.width, want.height))
        client = lambda: self.screenshot(PRIMARY[0]).crop(*self.dialog_client())
        wait_for(lambda: first_difference(client(), want) is None, 10)
        self.assertIsNone(first_difference(client(), want))
        self.assertIsNone(dialog.poll())

    def test_the_dialog_draws_its_own_title_bar_where_the_compositor_draws_none(self):
        want = headless_dialog_client()
        self.start_vnc()
        dialog, _ = self.launch_dialog()
        self.run_tool(["swaymsg", "[app_id=quietglass] border csd"])  # sway's frame goes

        def surface():
            place = self.dialog_client()
            return place and place[3] == want.height + TITLE_BAR and place

        place = wait_for(surface, 10)
        self.assertTrue(place, "the dialog did not grow by its own title bar")
        x, y, width, height = place
        shown = lambda: self.screenshot(PRIMARY[0]).crop(x, y, width, height)
        client = lambda: shown().crop(0, TITLE_BAR, width, want.height)
        wait_for(lambda: first_difference(client(), want) is None, 10)
        self.assertIsNone(first_difference(client(), want))
        self.assertEqual(shown().at(0, 0), TITLE_BAR_COLOUR)
        # The pointer's place in the client area leaves the title bar out.
        self.vnc.click(x + OK_CENTRE[0], y + TITLE_BAR + OK_CENTRE[1])
        self.ended_with_status_0(dialog)

    def test_the_pointer_over_the_dialog_is_the_arrow_of_the_users_cursor_theme(self):
        # Some compositors (mutter, weston) show no pointer at all over a window that sets none.
        self.start_vnc()
        for theme, size in (("Adwaita", 48), ("no-such-theme", None)):
            with self.subTest(theme=theme), tempfile.TemporaryFile() as trace:
                extra = {"WAYLAND_DEBUG": "client", "XCURSOR_THEME": theme, "XCURSOR_SIZE": "48"}
                dialog, (x, y, _, _) = self.launch_dialog(extra, errors=trace)
                self.vnc.move(x + 20, y + 20)
                time.sleep(0.3)
                self.vnc.click(x + OK_CENTRE[0], y + OK_CENTRE[1])
                self.assertEqual(dialog.wait(5), 0)
                trace.seek(0)
                requests = trace.read().decode(errors="replace")
                cursor = re.search(r"-> wl_pointer@\d+\.set_cursor\(\d+, wl_surface@(\d+),", requests)
                self.assertTrue(cursor, "no pointer image was set over the dialog")
                attached = re.search(rf"-> wl_surface@{cursor[1]}\.attach\(wl_buffer@(\d+),",
                                     requests)
                self.assertTrue(attached, "the pointer's surface shows nothing")
                made = re.search(rf"create_buffer\(new id wl_buffer@{attached[1]}, \d+, (\d+), "
                                 r"(\d+),", requests)
                self.assertTrue(made and int(made[1]) > 0 and int(made[2]) > 0)
                if size:
                    self.assertEqual((int(made[1]), int(made[2])), (size, size),
                                     "not the theme's arrow at XCURSOR_SIZE")

    def test_alt_o_presses_ok_on_a_dvorak_keyboard(self):
        # Dvorak's O is US's S key: the key is named by what the user's layout types with it.
        self.start_vnc("us-dvorak")
        dialog, _ = self.launch_dialog()
        self.vnc.keys(KEYSYM_ALT_L, KEYSYM_O)
        self.ended_with_status_0(dialog)

    def test_ok_ends_the_dialog_by_click_and_by_alt_o(self):
        self.start_vnc()
        for press in ("click", "alt+o"):
            with self.subTest(press):
                dialog, (x, y, _, _) = self.launch_dialog()
                if press == "click":
                    self.vnc.click(x + OK_CENTRE[0], y + OK_CENTRE[1])
                else:
                    self.vnc.keys(KEYSYM_ALT_L, KEYSYM_O)
                self.ended_with_status_0(dialog)


class Weston(Compositor):
    """A headless weston (pixman) of its own per test, one output, pictures by
    weston-screenshooter (which weston allows only when started with --debug)."""

    def setUp(self):
        self.prepare(("weston", "weston-screenshooter"), "weston")

    def start_weston(self, scale=1):
        """Weston with one output of 1024 x 768 desktop pixels, each `scale` x `scale` pixels."""
        self.weston = self.start(["weston", "--backend=headless-backend.so", "--use-pixman",
                                  "--width=1024", "--height=768", f"--scale={scale}",
                                  "--debug", "--idle-time=0", "--socket=wayland-qg"], quiet=True)
        self.assertTrue(self.wait_for_display(self.weston), "weston did not start")

    def screenshot(self):
        """The first output, from the PNG weston-screenshooter leaves in its working directory."""
        shots = os.path.join(self.directory, "shots")
        shutil.rmtree(shots, ignore_errors=True)
        os.mkdir(shots, 0o777)
        os.chmod(shots, 0o777)
        self.run_tool(["weston-screenshooter"], cwd=shots)
        return read_png(os.path.join(shots, os.listdir(shots)[0]))

    def test_the_output_shows_the_headless_picture_also_at_scale_2(self):
        want = headless_capture(CAPTURE, "1024x768")
        for scale in (1, 2):
            with self.subTest(scale=scale):
                self.start_weston(scale)
                # Weston filters what it enlarges: only pixels of the output's scale stay sharp.
                wanted = enlarged(want, scale)
                saver = self.launch("/s")
                skip = lambda x: DISK_LEFT * scale <= x < DISK_RIGHT * scale
                wait_for(lambda: saver.poll() is not None or
                         first_difference(self.screenshot(), wanted, skip) is None, 20)
                shot = self.screenshot()
                self.assertEqual((shot.width, shot.height), (1024 * scale, 768 * scale))
                self.assertIsNone(first_difference(shot, wanted, skip))
                self.assertIsNone(saver.poll(), "the saver ended by itself")
                stop_processes(self.processes)
                self.processes.clear()

    def test_the_dialog_at_scale_2_is_the_headless_client_area_enlarged(self):
        want = enlarged(headless_dialog_client(), 2)
        self.start_weston(2)
        dialog = self.launch("/c")

        def client():
            # Weston draws no frame: the dialog's own title bar's top left corner finds it.
            shot = self.screenshot()
            for y in range(shot.height):
                if TITLE_BAR_COLOUR in shot.row(y):
                    for x in range(shot.width):
                        if shot.at(x, y) == TITLE_BAR_COLOUR:
                            return shot.crop(x, y + 2 * TITLE_BAR, want.width, want.height)
            return None

        wait_for(lambda: (shown := client()) and first_difference(shown, want) is None, 20)
        shown = client()
        self.assertTrue(shown, "no dialog appeared")
        self.assertIsNone(first_difference(shown, want))
        self.assertIsNone(dialog.poll())


def main():
    global PROGRAM, CAPTURE
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the tests' names, one a line")
    parser.add_argument("--program")
    parser.add_argument("--capture")
    options, rest = parser.parse_known_args()
    if options.list:  # what CMake makes one CTest test each of: every test of every class here
        loader = unittest.defaultTestLoader
        for case in loader.loadTestsFromModule(sys.modules[__name__]):
            for test in case:
                print(test.id().split(".", 1)[1])
        return
    if not (options.program and options.capture):
        parser.error("--program and --capture are needed to run tests")
    PROGRAM, CAPTURE = os.path.abspath(options.program), os.path.abspath(options.capture)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # a timed-out run still cleans up
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
