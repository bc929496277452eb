"""What the Wayland scripts share about the processes they start: waiting for a condition, a
process's children and life, and whether it holds the idle watcher's claim."""
import os
import subprocess
import time


def wait_for(condition, seconds):
    """Polls `condition` until it is true or `seconds` have passed; its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.02)


def children(pid):
    """The processes `pid` started that still run."""
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def holds_claim(pid):
    """Whether `pid` holds a watcher's claim: an abstract socket named quietglass-idle-..."""
    try:
        inodes = {os.readlink(f"/proc/{pid}/fd/{fd}")[8:-1] for fd in os.listdir(f"/proc/{pid}/fd")}
        with open("/proc/net/unix") as f:
            return any(line.split()[-1].startswith("@quietglass-idle-") and line.split()[6] in inodes
                       for line in f.readlines()[1:] if len(line.split()) == 8)
    except OSError:
        return False


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def stop_processes(processes):
    """Ends each process, the last started first: asked, then killed after 5 s."""
    for process in reversed(processes):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
