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

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from processes import alive, children, holds_claim, stop_processes, wait_for

PROGRAM = None
IDLE = 1  # the watcher's TIME in these tests, in seconds
SESSION_MANAGER = """<node><interface name="org.gnome.SessionManager">
  <method name="IsInhibited"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>"""
KEYSYM_SPACE = 0x20


def name(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


class MutterIdle(unittest.TestCase):
    """A mutter and its session bus of its own per test; stopped by their PIDs."""

    def setUp(self):
        for tool in ("mutter", "dbus-run-session"):
            self.assertTrue(shutil.which(tool), f"{tool} is missing (scripts/test installs it)")
        from gi.repository import Gio, GLib
        self.Gio, self.GLib = Gio, GLib
        self.processes = []
        self.session = {}
        self.runtime = tempfile.mkdtemp(prefix="quietglass-mutter-")
        self.addCleanup(self.stop_everything)
        bus_file = os.path.join(self.runtime, "bus")
        self.environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                            "HOME": self.runtime, "XDG_RUNTIME_DIR": self.runtime,
                            "XDG_CURRENT_DESKTOP": "GNOME"}
        self.mutter = self.start(
            ["dbus-run-session", "--", "sh", "-c",
             f'echo "$DBUS_SESSION_BUS_ADDRESS" >{bus_file}.new && mv {bus_file}.new {bus_file}'
             " && exec mutter --headless --wayland --no-x11 --virtual-monitor 1024x768"])
        ready = wait_for(lambda: os.path.exists(bus_file) and
                         os.path.exists(os.path.join(self.runtime, "wayland-0")), 30)
        self.assertTrue(ready and self.mutter.poll() is None, "mutter did not start")
        # dbus-run-session's children: the bus and mutter, each stopped by its own PID.
        self.session = {name(pid): pid for pid in children(self.mutter.pid)}
        with open(bus_file) as f:
            address = f.read().strip()
        self.environment.update(DBUS_SESSION_BUS_ADDRESS=address, WAYLAND_DISPLAY="wayland-0")
        flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
                 Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        self.bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        # What mutter answers on the bus is handled by a loop of its own.
        self.loop = GLib.MainLoop()
        threading.Thread(target=self.loop.run, daemon=True).start()
        self.assertTrue(wait_for(lambda: self.has_owner("org.gnome.Mutter.IdleMonitor"), 20))
        self.inhibited = False
        self.remote = None

    def stop_everything(self):
        if hasattr(self, "loop"):
            self.loop.quit()
        # mutter first, and dbus-run-session then ends the bus.
        for pid in (self.session.get("mutter"), self.session.get("dbus-daemon")):
            if pid and alive(pid):
                os.kill(pid, signal.SIGTERM)
                wait_for(lambda: not alive(pid), 5)
        stop_processes(self.processes)
        for process in self.processes:
            process.stderr.close()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def start(self, argv):
        process = subprocess.Popen(argv, env=self.environment, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.processes.append(process)
        return process

    def call(self, name, path, interface, method, arguments=None, reply=None):
        variant = self.GLib.Variant(*arguments) if arguments else None
        result = self.bus.call_sync(name, path, interface, method, variant,
                                    self.GLib.VariantType(reply) if reply else None,
                                    self.Gio.DBusCallFlags.NONE, 10000, None)
        return result.unpack() if result else None

    def has_owner(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", ("(s)", (name,)), "(b)")[0]

    def stand_in_for_the_session_manager(self):
        """Answers IsInhibited(flags) with self.inhibited for the idle flag (8)."""
        info = self.Gio.DBusNodeInfo.new_for_xml(SESSION_MANAGER).interfaces[0]

        def method(connection, sender, path, interface, name, parameters, invocation):
            flags = parameters.unpack()[0]
            invocation.return_value(self.GLib.Variant("(b)", (bool(flags & 8) and self.inhibited,)))

        self.bus.register_object("/org/gnome/SessionManager", info, method, None, None)
        self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "RequestName", ("(su)", ("org.gnome.SessionManager", 4)), "(u)")

    def remote_desktop(self, method, arguments):
        """Input as the user's: a session of mutter's RemoteDesktop, made at the first use."""
        if self.remote is None:
            self.remote = self.call("org.gnome.Mutter.RemoteDesktop",
                                    "/org/gnome/Mutter/RemoteDesktop",
                                    "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                                    "(o)")[0]
            self.call("org.gnome.Mutter.RemoteDesktop", self.remote,
                      "org.gnome.Mutter.RemoteDesktop.Session", "Start")
        self.call("org.gnome.Mutter.RemoteDesktop", self.remote,
                  "org.gnome.Mutter.RemoteDesktop.Session", method, arguments)

    def press_key(self):
        for pressed in (True, False):
            self.remote_desktop("NotifyKeyboardKeysym", ("(ub)", (KEYSYM_SPACE, pressed)))

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
        self.assertEqual(second.wait(10), 0, second.stderr.read().decode(errors="replace"))
        self.assertIsNone(self.saver_of(watcher, 3 * IDLE), "the saver started though inhibited")

        self.inhibited = False
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver, "no saver once the inhibitor went")

        os.kill(self.session["mutter"], signal.SIGTERM)
        self.assertEqual(watcher.wait(10), 1)
        self.assertTrue(wait_for(lambda: not alive(saver), 5), "the saver outlived the compositor")


def as_nobody(options, rest):
    """Runs this script again as nobody, with a copy of the program that nobody can reach."""
    directory = tempfile.mkdtemp(prefix="quietglass-mutter-")
    program = os.path.join(directory, "quietglass")
    shutil.copy(options.program, program)
    os.chmod(program, 0o755)
    shutil.chown(directory, "nobody", "nogroup")
    argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
            sys.executable, os.path.abspath(__file__), "--program", program, *rest]
    test = subprocess.Popen(argv, env=dict(os.environ, TMPDIR=directory, HOME=directory))
    # A timed-out run ends the test, which cleans up after itself.
    signal.signal(signal.SIGTERM, lambda *_: test.terminate())
    try:
        return test.wait()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def main():
    global PROGRAM
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the tests' names, one a line")
    parser.add_argument("--program")
    options, rest = parser.parse_known_args()
    if options.list:
        for case in unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__]):
            for test in case:
                print(test.id().split(".", 1)[1])
        return
    if not options.program:
        parser.error("--program is needed to run tests")
    if os.getuid() == 0:
        sys.exit(as_nobody(options, rest))
    PROGRAM = os.path.abspath(options.program)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # a timed-out run still cleans up
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
