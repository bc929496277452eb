"""What the tests on GNOME's and KDE's compositors share: a compositor of its own per test in a
session bus of its own (dbus-run-session), mutter's with input through its RemoteDesktop interface,
and the run as nobody."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest

from pictures import read_xwd
from processes import alive, children, stop_processes, wait_for

KEYSYM_SPACE = 0x20


def name(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


class SessionRig(unittest.TestCase):
    """A compositor and its session bus per test, each stopped by its PID."""

    def prepare(self, tools):
        for tool in ("dbus-run-session",) + tools:
            self.assertTrue(shutil.which(tool), f"{tool} is missing (scripts/test installs it)")
        from gi.repository import Gio, GLib
        self.Gio, self.GLib = Gio, GLib
        self.processes = []
        self.session = {}
        self.runtime = tempfile.mkdtemp(prefix="quietglass-session-")
        self.addCleanup(self.stop_everything)
        self.environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                            "HOME": self.runtime, "XDG_RUNTIME_DIR": self.runtime}

    def start_session(self, command, name_on_bus):
        """dbus-run-session running `command`, a compositor that makes wayland-0; once that and
        its `name_on_bus` are there, with the bus connected and answered by a loop of its own."""
        bus_file = os.path.join(self.runtime, "bus")
        self.compositor = self.start(
            ["dbus-run-session", "--", "sh", "-c",
             f'echo "$DBUS_SESSION_BUS_ADDRESS" >{bus_file}.new && mv {bus_file}.new {bus_file}'
             f" && exec {command}"])
        ready = wait_for(lambda: os.path.exists(bus_file) and
                         os.path.exists(os.path.join(self.runtime, "wayland-0")), 30)
        self.assertTrue(ready and self.compositor.poll() is None,
                        f"{command} did not start: {self.errors(self.compositor)}")
        # dbus-run-session's children: the bus and the compositor, each stopped by its own PID.
        self.session = {name(pid): pid for pid in children(self.compositor.pid)}
        with open(bus_file) as f:
            address = f.read().strip()
        self.environment.update(DBUS_SESSION_BUS_ADDRESS=address, WAYLAND_DISPLAY="wayland-0")
        flags = (self.Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
                 self.Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        self.bus = self.Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        self.loop = self.GLib.MainLoop()
        threading.Thread(target=self.loop.run, daemon=True).start()
        self.assertTrue(wait_for(lambda: self.has_owner(name_on_bus), 20),
                        f"no {name_on_bus} on the bus: {self.errors(self.compositor)}")

    def start_xvfb(self, width=1024):
        """An Xvfb `width` x 768 pixels; its display's name once it takes connections."""
        with tempfile.TemporaryFile() as number:
            # Xvfb writes the number of a display it found free once it listens there.
            xvfb = self.start(["Xvfb", "-displayfd", str(number.fileno()), "-screen", "0",
                               f"{width}x768x24", "-nolisten", "tcp"], pass_fds=[number.fileno()])

            def written():
                number.seek(0)
                return number.read().decode().endswith("\n")

            self.assertTrue(wait_for(lambda: xvfb.poll() is None and written(), 20),
                            f"Xvfb did not start: {self.errors(xvfb)}")
            number.seek(0)
            self.display = ":" + number.read().decode().strip()
        return self.display

    def stop_everything(self):
        if hasattr(self, "loop"):
            self.loop.quit()
        # The compositor first, and dbus-run-session then ends the bus.
        bus = self.session.pop("dbus-daemon", None)
        for pid in (*self.session.values(), bus):
            if pid and alive(pid):
                os.kill(pid, signal.SIGTERM)
                wait_for(lambda: not alive(pid), 5)
        stop_processes(self.processes)
        for process in self.processes:
            process.stderr.close()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def start(self, argv, extra=None, **options):
        """`argv` started, its stderr in a file (a pipe nobody reads could fill and stop it)."""
        errors = tempfile.TemporaryFile()
        process = subprocess.Popen(argv, env=dict(self.environment, **(extra or {})),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=errors, **options)
        process.stderr = errors
        self.processes.append(process)
        return process

    def errors(self, process):
        """What `process` has written on its stderr so far."""
        process.stderr.seek(0)
        return process.stderr.read().decode(errors="replace")

    def call(self, name, path, interface, method, arguments=None, reply=None):
        variant = self.GLib.Variant(*arguments) if arguments else None
        result = self.bus.call_sync(name, path, interface, method, variant,
                                    self.GLib.VariantType(reply) if reply else None,
                                    self.Gio.DBusCallFlags.NONE, 10000, None)
        return result.unpack() if result else None

    def has_owner(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", ("(s)", (name,)), "(b)")[0]

class MutterRig(SessionRig):
    """mutter headless with one 1024x768 monitor, or where `nested`, in a window filling an Xvfb
    of its own with `monitors` 1024x768 monitors side by side."""

    nested = False
    monitors = 1

    def setUp(self):
        self.prepare(("mutter",) + (("Xvfb", "xwd") if self.nested else ()))
        self.environment["XDG_CURRENT_DESKTOP"] = "GNOME"
        if self.nested:
            backend = "--nested"
            self.environment.update(DISPLAY=self.start_xvfb(1024 * self.monitors),
                                    MUTTER_DEBUG_DUMMY_MODE_SPECS="1024x768",
                                    MUTTER_DEBUG_NUM_DUMMY_MONITORS=str(self.monitors))
        else:
            backend = "--headless --virtual-monitor 1024x768"
        self.start_session(f"mutter {backend} --wayland --no-x11", "org.gnome.Mutter.IdleMonitor")
        self.remote = None

    def screenshot(self):
        """What the nested mutter shows: the whole of its Xvfb."""
        shot = subprocess.run(["xwd", "-root", "-silent", "-display", self.display],
                              stdin=subprocess.DEVNULL, capture_output=True, check=True,
                              timeout=20)
        return read_xwd(shot.stdout)

    def remote_desktop(self, method, arguments=None):
        """Input as the user's: a session of mutter's RemoteDesktop, made at the first use (an
        input method called without arguments only makes it)."""
        if self.remote is None:
            self.remote = self.call("org.gnome.Mutter.RemoteDesktop",
                                    "/org/gnome/Mutter/RemoteDesktop",
                                    "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                                    "(o)")[0]
            self.call("org.gnome.Mutter.RemoteDesktop", self.remote,
                      "org.gnome.Mutter.RemoteDesktop.Session", "Start")
        if arguments:
            self.call("org.gnome.Mutter.RemoteDesktop", self.remote,
                      "org.gnome.Mutter.RemoteDesktop.Session", method, arguments)

    def press_key(self, keysym=KEYSYM_SPACE):
        for pressed in (True, False):
            self.remote_desktop("NotifyKeyboardKeysym", ("(ub)", (keysym, pressed)))


def as_nobody(executables, rest):
    """Runs this script again as nobody, with copies of the executables that nobody can reach."""
    directory = tempfile.mkdtemp(prefix="quietglass-mutter-")
    argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
            sys.executable, os.path.abspath(sys.argv[0])]
    for option, path in executables.items():
        copy = os.path.join(directory, os.path.basename(path))
        shutil.copy(path, copy)
        os.chmod(copy, 0o755)
        argv += [f"--{option}", copy]
    shutil.chown(directory, "nobody", "nogroup")
    test = subprocess.Popen([*argv, *rest],
                            env=dict(os.environ, TMPDIR=directory, HOME=directory))
    # A timed-out run ends the test, which cleans up after itself.
    signal.signal(signal.SIGTERM, lambda *_: test.terminate())
    try:
        return test.wait()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def main(module, executables):
    """Runs the tests of `module` given the paths of `executables` (options of those names; each
    path goes into the module's global of that name in capitals); --list prints the tests' names
    for CMake. mutter refuses root, so when run as root the whole script runs again as nobody."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the tests' names, one a line")
    for option in executables:
        parser.add_argument(f"--{option}")
    options, rest = parser.parse_known_args()
    if options.list:
        for case in unittest.defaultTestLoader.loadTestsFromModule(module):
            for test in case:
                print(test.id().split(".", 1)[1])
        return
    paths = {option: getattr(options, option) for option in executables}
    if not all(paths.values()):
        parser.error(" and ".join(f"--{o}" for o in executables) + " are needed to run tests")
    if os.getuid() == 0:
        sys.exit(as_nobody(paths, rest))
    for option, path in paths.items():
        setattr(module, option.upper(), os.path.abspath(path))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # a timed-out run still cleans up
    unittest.main(module=module, argv=[sys.argv[0], *rest], verbosity=2)
