#!/usr/bin/python3
"""The idle watcher (quietglass --idle TIME) on GNOME's compositor: a headless mutter of its own
per test, in a session bus of its own (dbus-run-session).

Input comes through mutter's RemoteDesktop interface on that bus. GNOME's session manager is not
run: the test stands in for it on the bus (org.gnome.SessionManager.IsInhibited), so that it can
say a video is playing. mutter refuses root, so when run as root the whole test runs again as
nobody. Needs mutter, dbus, and Debian's python3-gi (the system's python3).

    idle_mutter.py --program build/quietglass [TEST...]
    idle_mutter.py --list      # the tests' names, for CMake
"""

import os
import signal
import sys
import time

from processes import alive, children, holds_claim, wait_for
from session import MutterRig, main

PROGRAM = None
IDLE = 1  # the watcher's TIME in these tests, in seconds
SESSION_MANAGER = """<node><interface name="org.gnome.SessionManager">
  <method name="IsInhibited"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>"""


class MutterIdle(MutterRig):
    """The watcher on a headless mutter; the test may stand in for GNOME's session manager."""

    inhibited = False

    def stand_in_for_the_session_manager(self):
        """Answers IsInhibited(flags) with self.inhibited for the idle flag (8)."""
        info = self.Gio.DBusNodeInfo.new_for_xml(SESSION_MANAGER).interfaces[0]

        def method(connection, sender, path, interface, name, parameters, invocation):
            flags = parameters.unpack()[0]
            invocation.return_value(self.GLib.Variant("(b)", (bool(flags & 8) and self.inhibited,)))

        self.bus.register_object("/org/gnome/SessionManager", info, method, None, None)
        self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "RequestName", ("(su)", ("org.gnome.SessionManager", 4)), "(u)")

    def ends_on_keys(self, saver):
        """Presses a key every half second (the saver's window shows a moment after its process
        starts) until the saver ends; false if it did not within 5 seconds."""
        return wait_for(lambda: self.press_key() or wait_for(lambda: not alive(saver), 0.5), 5)

    def watcher(self):
        return self.start([PROGRAM, "--idle", str(IDLE)])

    def saver_of(self, watcher, seconds):
        """The watcher's saver once it runs, or None."""
        found = wait_for(lambda: children(watcher.pid), seconds)
        return found[0] if found else None

    def test_starts_after_the_idle_time_input_ends_it_not_the_watcher_and_it_comes_back(self):
        started = time.monotonic()
        watcher = self.watcher()
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver, "no saver after the idle time")
        self.assertGreaterEqual(time.monotonic() - started, IDLE - 0.2)

        self.assertTrue(self.ends_on_keys(saver), "a key did not end the saver")
        self.assertIsNone(watcher.poll())
        ended = time.monotonic()
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver, "no saver after the next idle spell")
        self.assertGreaterEqual(time.monotonic() - ended, IDLE - 0.5)
        self.assertTrue(self.ends_on_keys(saver))

        # Steady input: the pointer moves three times per TIME.
        end, step = time.monotonic() + 3 * IDLE, 1
        while time.monotonic() < end:
            step = -step
            self.remote_desktop("NotifyPointerMotionRelative", ("(dd)", (step, 0)))
            self.assertFalse(wait_for(lambda: children(watcher.pid), IDLE / 3),
                             "the saver started while the user was busy")

        # SIGTERM while the saver runs ends both.
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver)
        watcher.terminate()
        self.assertEqual(watcher.wait(5), -signal.SIGTERM)
        self.assertTrue(wait_for(lambda: not alive(saver), 5), "the saver outlived the watcher")

    def test_an_inhibitor_keeps_it_away_a_second_watcher_ends_and_so_does_the_compositor(self):
        self.stand_in_for_the_session_manager()
        self.inhibited = True
        watcher = self.watcher()
        self.assertTrue(wait_for(lambda: holds_claim(watcher.pid), 10), "the watcher claims nothing")
        second = self.watcher()
        self.assertEqual(second.wait(10), 0, self.errors(second))
        self.assertIsNone(self.saver_of(watcher, 3 * IDLE), "the saver started though inhibited")

        self.inhibited = False
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver, "no saver once the inhibitor went")

        os.kill(self.session["mutter"], signal.SIGTERM)
        self.assertEqual(watcher.wait(10), 1)
        self.assertTrue(wait_for(lambda: not alive(saver), 5), "the saver outlived the compositor")


if __name__ == "__main__":
    main(sys.modules[__name__], ["program"])
