#!/usr/bin/env python3
"""The idle watcher (quietglass --idle TIME) on a headless sway of its own per test.

sway 1.7 tells idle time with org_kde_kwin_idle; wtype's virtual keyboard is the user's input,
and sway's inhibit_idle on a window (weston-flower) is an application inhibiting idle. sway
refuses root, so when run as root every process of the test runs as nobody. The saver is the
watcher's child process.

    idle_e2e.py --program build/quietglass [TEST...]
    idle_e2e.py --list      # the tests' names, for CMake
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from processes import alive, children, holds_claim, stop_processes, wait_for

PROGRAM = None
IDLE = 1  # the watcher's TIME in these tests, in seconds


class SwayIdle(unittest.TestCase):
    """A sway of its own per test; every process the test starts is stopped by its PID."""

    def setUp(self):
        for tool in ("sway", "swaymsg", "wtype", "weston-flower"):
            self.assertTrue(shutil.which(tool), f"{tool} is missing (scripts/test installs it)")
        self.processes = []
        self.directory = tempfile.mkdtemp(prefix="quietglass-idle-")
        self.addCleanup(self.stop_everything)
        self.runtime = os.path.join(self.directory, "runtime")
        os.mkdir(self.runtime, 0o700)
        config = os.path.join(self.directory, "config")
        with open(config, "w") as f:
            f.write("xwayland disable\noutput HEADLESS-1 mode 800x600\n")
        # A copy of the program the user nobody can reach wherever the build directory lies.
        self.program = os.path.join(self.directory, "quietglass")
        shutil.copy(PROGRAM, self.program)
        os.chmod(self.directory, 0o755)
        os.chmod(config, 0o644)
        if os.getuid() == 0:
            shutil.chown(self.runtime, "nobody", "nogroup")
        self.environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                            "HOME": self.runtime, "XDG_RUNTIME_DIR": self.runtime}
        self.sway = self.start(["sway", "-c", config], {
            "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman"})
        uid = 65534 if os.getuid() == 0 else os.getuid()
        ipc = os.path.join(self.runtime, f"sway-ipc.{uid}.{self.sway.pid}.sock")

        def display():
            names = [n for n in os.listdir(self.runtime)
                     if n.startswith("wayland-") and not n.endswith(".lock")]
            return names[0] if names and os.path.exists(ipc) else None

        name = wait_for(lambda: self.sway.poll() is None and display(), 20)
        self.assertTrue(name, "sway did not start")
        self.environment.update(WAYLAND_DISPLAY=name, SWAYSOCK=ipc)

    def stop_everything(self):
        stop_processes(self.processes)
        for process in self.processes:
            process.stderr.close()
        shutil.rmtree(self.directory, ignore_errors=True)

    def start(self, argv, extra=None):
        """`argv` started as the user sway runs as; its stderr piped."""
        if os.getuid() == 0:
            argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", *argv]
        process = subprocess.Popen(argv, env=dict(self.environment, **(extra or {})),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        self.processes.append(process)
        return process

    def run_tool(self, *argv):
        process = self.start(list(argv))
        self.assertEqual(process.wait(20), 0, process.stderr.read().decode(errors="replace"))

    def watcher(self):
        return self.start([self.program, "--idle", str(IDLE)])

    def saver_of(self, watcher, seconds):
        """The watcher's saver once it runs, or None."""
        found = wait_for(lambda: children(watcher.pid), seconds)
        return found[0] if found else None

    def ends_on_keys(self, saver):
        """Types a key every half second (the saver's window shows a moment after its process
        starts) until the saver ends; false if it did not within 5 seconds."""
        return wait_for(lambda: self.run_tool("wtype", "-k", "space") or
                        wait_for(lambda: not alive(saver), 0.5), 5)

    def busy_without_saver(self, watcher, seconds):
        """Types a key three times per TIME for `seconds`; false if a saver started meanwhile."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.run_tool("wtype", "-k", "Shift_L")
            if wait_for(lambda: children(watcher.pid), IDLE / 3):
                return False
        return True

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

        self.assertTrue(self.busy_without_saver(watcher, 3 * IDLE),
                        "the saver started while the user was busy")

        # SIGTERM while the saver runs ends both.
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver)
        watcher.terminate()
        self.assertEqual(watcher.wait(5), -signal.SIGTERM)
        self.assertTrue(wait_for(lambda: not alive(saver), 5), "the saver outlived the watcher")

    def test_an_inhibitor_keeps_it_away_a_second_watcher_ends_and_so_does_the_compositor(self):
        window = self.start(["weston-flower"])
        self.assertTrue(wait_for(lambda: subprocess.run(
            ["swaymsg", f"[pid={window.pid}] inhibit_idle open"], env=self.environment,
            capture_output=True).returncode == 0, 10), "sway shows no weston-flower window")
        watcher = self.watcher()
        self.assertTrue(wait_for(lambda: holds_claim(watcher.pid), 10), "the watcher claims nothing")
        second = self.watcher()
        self.assertEqual(second.wait(10), 0, second.stderr.read().decode(errors="replace"))
        self.assertIsNone(self.saver_of(watcher, 3 * IDLE), "the saver started though inhibited")

        window.terminate()
        window.wait(5)
        saver = self.saver_of(watcher, IDLE + 5)
        self.assertTrue(saver, "no saver once the inhibitor went")

        self.sway.terminate()
        self.assertEqual(watcher.wait(10), 1)
        self.assertTrue(wait_for(lambda: not alive(saver), 5), "the saver outlived the compositor")


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
    PROGRAM = os.path.abspath(options.program)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # a timed-out run still cleans up
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
