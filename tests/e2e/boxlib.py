"""Boxes for end-to-end tests: start one, talk to it from the LAN side, take
it down. Names are unique per process, so tests of several checkouts can
run at once on one machine."""

import itertools
import os
import re
import socket
import subprocess
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOX = os.path.join(ROOT, "tools", "box")
_serial = itertools.count()


def box(*args, check=True, timeout=60, **kw):
    return subprocess.run([BOX, *args], check=check, timeout=timeout, capture_output=True,
                          text=True, **kw)


def lan(*cmd, timeout=60, check=False):
    """Runs a client on the LAN side; returns the finished process."""
    return box("lan", *cmd, check=check, timeout=timeout)


def wait_until(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = cond()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


class Box:
    def __init__(self, prefix="t", ini=None, mac=None, old_params=None, start=True):
        self.name = f"{prefix}{os.getpid() % 100000}x{next(_serial)}"[:12]
        args = ["up", self.name]
        for opt, val in (("--ini", ini), ("--mac", mac), ("--old-params", old_params)):
            if val:
                args += [opt, val]
        if not start:
            args.append("--no-start")
        box(*args)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.down()

    def down(self):
        box("down", self.name, check=False)

    def start(self):
        box("start", self.name)

    def exec(self, *cmd, check=False, timeout=60):
        return box("exec", self.name, *cmd, check=check, timeout=timeout)

    def sim(self, *words):
        return box("sim", self.name, *words, check=False)

    def path(self, abspath):
        return box("path", self.name, abspath).stdout.strip()

    def read(self, abspath, mode="r"):
        with open(self.path(abspath), mode) as f:
            return f.read()

    def log(self):
        return box("log", self.name).stdout

    def wait_log(self, pattern, timeout=10):
        """Waits for a log line matching the regular expression; returns the match."""
        rx = re.compile(pattern, re.M)
        return wait_until(lambda: rx.search(self.log()), timeout, f"log line /{pattern}/")

    def tty(self, index):
        """A socket to the harness end of /dev/ttyS<index>."""
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(f"/run/hdmibox/{self.name}/ttyS{index}.sock")
        return s

    def calls(self):
        """Lines that the box's recording stand-ins wrote, as [name, args...]."""
        return [line.split()[1:] for line in self.read("/board/calls.log").splitlines()]


class BoxTest(unittest.TestCase):
    """Base for end-to-end tests: boxes made by self.box() go down at the end."""

    def box(self, **kw):
        b = Box(**kw)
        self.addCleanup(b.down)
        return b
