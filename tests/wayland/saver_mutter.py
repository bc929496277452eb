#!/usr/bin/python3
"""The saver (quietglass /s) on GNOME's compositor: a mutter of its own per test, in a session bus
of its own (dbus-run-session).

Mutter alone has no screenshot interface, so the picture test runs it nested in an Xvfb and looks
at that with xwd; the input tests run it headless and type and point through its RemoteDesktop
interface. A RemoteDesktop session's keyboard and pointer appear at their first event, and an
event sent before they were there reaches no window: each test lets them appear (the user's
keyboard and mouse are there before the saver) and acts once the saver's window has them, which
the saver's own trace of its protocol says (WAYLAND_DEBUG). mutter refuses root, so when run as
root the whole test runs again as nobody. Needs mutter, dbus, Xvfb, xwd and Debian's python3-gi.

    saver_mutter.py --program build/quietglass --capture build/tools/quietglass-capture [TEST...]
    saver_mutter.py --list      # the tests' names (Class.test), for CMake
"""

import re
import subprocess
import sys
import time

from pictures import DISK_LEFT, DISK_RIGHT, first_difference, headless_capture
from processes import wait_for
from session import MutterRig, main

PROGRAM = CAPTURE = None


class MutterSaver(MutterRig):
    """What both rigs do with the saver."""

    def launch_saver(self, device=None):
        """The saver, with its protocol traced where `device` (keyboard or pointer) is given, and
        then once that has entered its window."""
        saver = self.start([PROGRAM, "/s"], {"WAYLAND_DEBUG": "client"} if device else None)
        if device:
            found = re.compile(rf"wl_{device}@\d+\.enter\(\d+, wl_surface@")
            self.assertTrue(wait_for(lambda: saver.poll() is not None or
                                     found.search(self.errors(saver)), 20),
                            f"the {device} never entered the saver's window")
            self.assertIsNone(saver.poll(), "the saver ended by itself")
        return saver

    def xdotool(self, *args):
        """Input into the Xvfb a nested mutter's window fills."""
        subprocess.run(["xdotool", *args], env=self.environment, check=True, timeout=10)

    def pointer_into_the_disks_column(self):
        """The pointer where keys from Xvfb reach mutter's window, even once it has shrunk to one
        monitor, and where mutter's own arrow (shown until the pointer enters the saver's
        window and the saver hides it) spoils no picture: the disk's column is not compared."""
        self.xdotool("mousemove", str(DISK_LEFT + 10), "10")

    def ended_with_status_0(self, process, seconds=5):
        wait_for(lambda: process.poll() is not None, seconds)
        self.assertIsNotNone(process.poll(), f"still running {seconds} s later")
        self.assertEqual(process.returncode, 0, self.errors(process)[-2000:])


class Mutter(MutterSaver):
    """A headless mutter, input through RemoteDesktop."""

    def places(self, saver):
        """The pointer's places the saver has heard of, each differing from the one before."""
        heard = re.findall(r"wl_pointer@\d+\.(?:enter\(\d+, wl_surface@\d+|motion\(\d+), "
                           r"([-\d.]+), ([-\d.]+)\)", self.errors(saver))
        return [place for i, place in enumerate(heard) if i == 0 or heard[i - 1] != place]

    def point_until(self, saver, count):
        """Moves the pointer a step each half second until the saver has heard of `count` places:
        mutter does not always tell a window of a pointer standing still where it appears, nor of
        a pointer's first move over it. How many it has heard of."""
        for _ in range(20):
            if len(self.places(saver)) >= count:
                break
            self.remote_desktop("NotifyPointerMotionRelative", ("(dd)", (10, 10)))
            wait_for(lambda: len(self.places(saver)) >= count, 0.5)
        return len(self.places(saver))

    def test_one_key_ends_it(self):
        self.press_key()  # the keyboard, there before the saver
        saver = self.launch_saver("keyboard")
        self.press_key()
        self.ended_with_status_0(saver)

    def test_a_keyboard_that_joins_while_it_runs_ends_it_with_its_first_key(self):
        # RemoteDesktop's keyboard joins the seat with its first key, which no window receives.
        saver = self.start([PROGRAM, "/s"], {"WAYLAND_DEBUG": "client"})
        shown = re.compile(r"xdg_toplevel@\d+\.configure\(1024, 768,")
        self.assertTrue(wait_for(lambda: saver.poll() is not None or
                                 shown.search(self.errors(saver)), 20), "the saver never showed")
        self.press_key()
        self.ended_with_status_0(saver)

    def test_two_pointer_reports_in_the_grace_do_not_end_it_a_third_does(self):
        self.press_key()
        saver = self.launch_saver("keyboard")  # shown, and mutter's window to give input to
        self.assertEqual(self.point_until(saver, 2), 2)
        time.sleep(0.4)
        self.assertIsNone(saver.poll(), "the second pointer report ended it")
        self.assertEqual(self.point_until(saver, 3), 3)
        self.ended_with_status_0(saver)


class MutterInXvfb(MutterSaver):
    """A mutter nested in an Xvfb, whose screen is what mutter shows."""

    nested = True

    def test_the_screen_shows_the_headless_picture(self):
        want = headless_capture(CAPTURE, "1024x768")
        self.pointer_into_the_disks_column()
        saver = self.launch_saver()
        # The artwork centred; the disk's column moves, the rest is painted once.
        skip = lambda x: DISK_LEFT <= x < DISK_RIGHT
        wait_for(lambda: saver.poll() is not None or
                 first_difference(self.screenshot(), want, skip) is None, 20)
        shot = self.screenshot()
        self.assertEqual((shot.width, shot.height), (1024, 768))
        self.assertIsNone(first_difference(shot, want, skip))
        self.assertIsNone(saver.poll(), "the saver ended by itself")


class MutterInXvfbOnTwoMonitors(MutterSaver):
    """A nested mutter with two monitors, the first of which is turned off while the saver runs."""

    nested = True
    monitors = 2

    def test_the_artwork_follows_to_the_monitor_left_and_a_key_still_ends_it(self):
        want = headless_capture(CAPTURE, "1024x768")
        skip = lambda x: DISK_LEFT <= x < DISK_RIGHT
        first, second = (lambda x=x: self.screenshot().crop(x, 0, 1024, 768) for x in (0, 1024))
        self.pointer_into_the_disks_column()
        saver = self.launch_saver()
        wait_for(lambda: saver.poll() is not None or first_difference(first(), want, skip) is None,
                 20)
        self.assertIsNone(first_difference(first(), want, skip))
        config = ("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                  "org.gnome.Mutter.DisplayConfig")
        serial = self.call(*config, "GetCurrentState")[0]
        # The second monitor alone, where the first was: its wl_output stays, the first's goes.
        self.call(*config, "ApplyMonitorsConfig", (
            "(uua(iiduba(ssa{sv}))a{sv})",
            (serial, 1, [(0, 0, 1.0, 0, True, [("LVDS2", "1024x768@60.000", {})])], {})))
        self.assertTrue(wait_for(lambda: second().rgb == bytes(1024 * 768 * 3), 10),
                        "mutter kept both monitors")
        wait_for(lambda: saver.poll() is not None or first_difference(first(), want, skip) is None,
                 10)
        self.assertIsNone(saver.poll(), "the saver ended as its monitor went")
        self.assertIsNone(first_difference(first(), want, skip))
        self.xdotool("key", "space")
        self.ended_with_status_0(saver)


if __name__ == "__main__":
    main(sys.modules[__name__], ["program", "capture"])
