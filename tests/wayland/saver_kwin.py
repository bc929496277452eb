#!/usr/bin/python3
"""The saver (quietglass /s) on KDE's compositor: a kwin_wayland --virtual of its own per test, in
a session bus of its own.

Pictures come from KWin's ScreenShot2 interface on that bus, keys from its fake-input protocol,
which the test speaks itself in the Wayland wire protocol (the requests' numbers read from the
protocol file plasma-wayland-protocols installs). Both are for trusted clients only, so this kwin
is told to check no permissions. kwin_wayland carries a file capability that a container may
refuse to run (EPERM); a copy carries none and runs the same. Where neither runs, or it is not
installed, each test is skipped, saying why. Run as nobody when started as root. Needs
kwin-wayland, dbus, plasma-wayland-protocols and Debian's python3-gi.

    saver_kwin.py --program build/quietglass --capture build/tools/quietglass-capture [TEST...]
    saver_kwin.py --list      # the tests' names (Class.test), for CMake
"""

import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from pictures import DISK_LEFT, DISK_RIGHT, Picture, first_difference, headless_capture
from processes import wait_for
from session import SessionRig, main

PROGRAM = CAPTURE = None
FAKE_INPUT = "/usr/share/plasma-wayland-protocols/fake-input.xml"
KEY_SPACE = 57  # evdev's code


class FakeInput:
    """A Wayland client of its own with KWin's org_kde_kwin_fake_input: only what typing needs."""

    def __init__(self, path):
        requests = ElementTree.parse(FAKE_INPUT).find("interface").findall("request")
        self.opcode = {request.get("name"): number for number, request in enumerate(requests)}
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(10)
        self.socket.connect(path)
        self.next_id = 2
        registry = self.new_id()
        self.request(1, 1, registry)  # wl_display.get_registry
        found = {}
        for target, opcode, body in self.roundtrip():
            if target == registry and opcode == 0:  # global(name, interface, version)
                number, length = struct.unpack_from("=II", body)
                interface = body[8:8 + length - 1].decode()
                version = struct.unpack_from("=I", body, 8 + (length + 3) // 4 * 4)[0]
                found[interface] = (number, version)
        number, version = found["org_kde_kwin_fake_input"]
        assert version >= 4, f"fake input {version} types no keys"
        self.input = self.new_id()
        self.request(registry, 0, number, "org_kde_kwin_fake_input", 4, self.input)  # bind
        self.request(self.input, self.opcode["authenticate"], "quietglass tests", "typing")
        self.roundtrip()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def request(self, target, opcode, *args):
        body = b""
        for arg in args:
            if isinstance(arg, str):
                data = arg.encode() + b"\0"
                body += struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)
            else:
                body += struct.pack("=I", arg)
        self.socket.sendall(struct.pack("=II", target, (8 + len(body)) << 16 | opcode) + body)

    def roundtrip(self):
        """The events until the compositor has handled every request so far."""
        callback = self.new_id()
        self.request(1, 0, callback)  # wl_display.sync
        events, data = [], b""
        while True:
            while len(data) < 8 or len(data) < struct.unpack_from("=II", data)[1] >> 16:
                chunk = self.socket.recv(65536)
                if not chunk:
                    raise EOFError("the compositor closed the connection")
                data += chunk
            target, word = struct.unpack_from("=II", data)
            events.append((target, word & 0xFFFF, data[8:word >> 16]))
            data = data[word >> 16:]
            assert target != 1 or events[-1][1] != 0, "the compositor reported an error"
            if target == callback:
                return events

    def key(self, code):
        for state in (1, 0):
            self.request(self.input, self.opcode["keyboard_key"], code, state)
        self.roundtrip()

    def close(self):
        self.socket.close()


class Kwin(SessionRig):
    """A headless kwin_wayland of 1024x768 per test, checking no permissions."""

    def setUp(self):
        if not os.path.exists(FAKE_INPUT):
            self.skipTest(f"{FAKE_INPUT} is missing (scripts/install-deps installs it)")
        installed = shutil.which("kwin_wayland")
        if not installed:
            self.skipTest("kwin_wayland is not installed (apt-get install kwin-wayland)")
        self.prepare(())
        kwin = self.runnable(installed)
        self.environment.update(XDG_CURRENT_DESKTOP="KDE", KWIN_WAYLAND_NO_PERMISSION_CHECKS="1",
                                KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1")
        self.start_session(f"{kwin} --virtual --width 1024 --height 768 --no-lockscreen",
                           "org.kde.KWin")
        self.fake_input = FakeInput(os.path.join(self.runtime, "wayland-0"))
        self.addCleanup(self.fake_input.close)

    def runnable(self, installed):
        """kwin_wayland, or where that cannot run here a copy without its file capability."""
        copy = os.path.join(self.runtime, "kwin_wayland")
        shutil.copy(installed, copy)
        why = None
        for kwin in (installed, copy):
            try:
                subprocess.run([kwin, "--version"], stdin=subprocess.DEVNULL,
                               capture_output=True, check=True, timeout=20)
                return kwin
            except (OSError, subprocess.SubprocessError) as error:
                why = why or error
        self.skipTest(f"kwin_wayland cannot run here, nor a copy of it: {why}")

    def screenshot(self):
        """The screen, from KWin's ScreenShot2, which writes the pixels into a pipe."""
        Gio, GLib = self.Gio, self.GLib
        read, write = os.pipe()
        try:
            fds = Gio.UnixFDList.new_from_array([write])  # takes the descriptor
            reply, _ = self.bus.call_with_unix_fd_list_sync(
                "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                "CaptureArea", GLib.Variant("(iiuua{sv}h)", (0, 0, 1024, 768, {}, 0)),
                GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 10000, fds, None)
            for fd in fds.steal_fds():  # our copy of the writing end: EOF once kwin's is closed
                os.close(fd)
            results = reply.unpack()[0]
            width, height, stride = results["width"], results["height"], results["stride"]
            data = b""
            while select.select([read], [], [], 10)[0]:
                chunk = os.read(read, 1 << 20)
                if not chunk:
                    break
                data += chunk
        finally:
            os.close(read)
        # QImage's 32-bit formats (RGB32, ARGB32 and premultiplied): blue, green, red, alpha.
        self.assertIn(results["format"], (4, 5, 6), results)
        rgb = bytearray(width * height * 3)
        for y in range(height):
            row = data[y * stride:y * stride + width * 4]
            rgb[y * width * 3:(y + 1) * width * 3:3] = row[2::4]
            rgb[y * width * 3 + 1:(y + 1) * width * 3:3] = row[1::4]
            rgb[y * width * 3 + 2:(y + 1) * width * 3:3] = row[0::4]
        return Picture(width, height, bytes(rgb))

    def launch_saver(self):
        """The saver, once the keyboard has entered its window (its protocol trace says so)."""
        saver = self.start([PROGRAM, "/s"], {"WAYLAND_DEBUG": "client"})
        entered = re.compile(r"wl_keyboard@\d+\.enter\(\d+, wl_surface@")
        self.assertTrue(wait_for(lambda: saver.poll() is not None or
                                 entered.search(self.errors(saver)), 20),
                        "the keyboard never entered the saver's window")
        self.assertIsNone(saver.poll(), "the saver ended by itself")
        return saver

    def test_the_screen_shows_the_headless_picture_and_one_key_ends_it(self):
        want = headless_capture(CAPTURE, "1024x768")
        saver = self.launch_saver()
        skip = lambda x: DISK_LEFT <= x < DISK_RIGHT
        wait_for(lambda: first_difference(self.screenshot(), want, skip) is None, 20)
        shot = self.screenshot()
        self.assertEqual((shot.width, shot.height), (1024, 768))
        self.assertIsNone(first_difference(shot, want, skip))
        self.assertIsNone(saver.poll(), "the saver ended by itself")
        self.fake_input.key(KEY_SPACE)
        wait_for(lambda: saver.poll() is not None, 5)
        self.assertEqual(saver.poll(), 0, self.errors(saver)[-2000:])


if __name__ == "__main__":
    main(sys.modules[__name__], ["program", "capture"])
