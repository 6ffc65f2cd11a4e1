"""Boxes for end-to-end tests and benchmarks: start one, talk to it from the
LAN side, take it down. Names are unique per process; tests use fixed MACs
(so fixed addresses): one test run at a time on a LAN. A process not given
a LAN in HDMIBOX_LAN takes one of its own, so a box kept running beside it
(tools/run, on the default LAN) is neither answered nor reconfigured; the
LAN goes at its end, and LANs that killed runs left go at the next start.
Processes it starts share its LAN."""

import atexit
import base64
import contextlib
import itertools
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOX = os.path.join(ROOT, "tools", "box")


def _own_lan():
    subprocess.run([BOX, "prune"], check=True)
    owner = os.getpid()
    os.environ["HDMIBOX_LAN"] = f"auto{owner}"

    def drop():
        if os.getpid() == owner:   # not in a forked child
            subprocess.run([BOX, "drop-lan"], check=True)
    drop()   # one left by an earlier process of the same id
    atexit.register(drop)


if not os.environ.get("HDMIBOX_LAN"):
    _own_lan()
STATE = f"/run/hdmibox-{os.environ['HDMIBOX_LAN']}"
_serial = itertools.count()
_live = set()   # boxes up; taken down at exit, also after Ctrl-C or a TERM


@atexit.register
def _down_live():
    for name in list(_live):
        box("down", name, check=False)


signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))


def box(*args, check=True, timeout=60, tool=(BOX,), **kw):
    return subprocess.run([*tool, *args], check=check, timeout=timeout, capture_output=True,
                          text=True, **kw)


def lan(*cmd, timeout=60, check=False):
    """Runs a client on the LAN side; returns the finished process."""
    return box("lan", *cmd, check=check, timeout=timeout)


def lan_address(test, addr):
    """Gives the LAN side the further address addr (169.254.0.2 and up: the
    LAN side's own is 169.254.0.1, boxes take 169.254.1.0 and up) for the
    length of the test: a client there is another host to a box."""
    lan("ip", "addr", "add", f"{addr}/16", "dev", "br0", check=True)
    test.addCleanup(lan_address_drop, addr)


def lan_address_drop(addr, check=False):
    """Takes a further address away: its host is gone without a word, as
    one whose power or cable is lost. Its clients' sockets stay open but
    send nothing, and nothing answers a box for that address."""
    lan("ip", "addr", "del", f"{addr}/16", "dev", "br0", check=check)


def lan_client(host, port, send, ack=0, read=0, pause=0.0, timeout=10, **more):
    """Starts lanclient.py on the LAN side with that job (bytes to send;
    more: "gap" between chunks, "pauses", "step" and "rcvbuf" of a slow
    reader, "bind", see there); .result() of the process gives (acks,
    read bytes)."""
    job = json.dumps({"host": host, "port": port, "send": [base64.b64encode(c).decode() for c in send],
                      "ack": ack, "read": read, "pause": pause, "timeout": timeout, **more})
    client = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lanclient.py")
    proc = subprocess.Popen([BOX, "lan", "python3", client], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    proc.stdin.write(job)
    proc.stdin.close()

    def result():
        out = proc.stdout.read()
        proc.wait(timeout=timeout + 30)
        if proc.returncode != 0:
            raise AssertionError(proc.stderr.read())
        got = json.loads(out)
        return [base64.b64decode(a) for a in got["acks"]], base64.b64decode(got["read"])
    proc.result = result
    return proc


def default_ip(mac):
    """The link-local address a box takes from its MAC: 169.254, the sixth
    byte + 1, the fifth byte."""
    return f"169.254.{(int(mac[15:17], 16) + 1) % 256}.{int(mac[12:14], 16)}"


def wait_until(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = cond()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


class Box:
    """tool: the command that makes it, tools/box of this checkout unless given."""

    def __init__(self, prefix="t", ini=None, mac=None, old_params=None, start=True, tool=(BOX,)):
        self.name = f"{prefix}{os.getpid() % 100000}x{next(_serial)}"[:12]
        args = ["up", self.name]
        for opt, val in (("--ini", ini), ("--mac", mac), ("--old-params", old_params)):
            if val:
                args += [opt, val]
        if not start:
            args.append("--no-start")
        box(*args, tool=tool)
        _live.add(self.name)

    def down(self):
        box("down", self.name, check=False)
        _live.discard(self.name)

    def start(self, check=True):
        return box("start", self.name, check=check)

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

    def app_pid(self):
        """The program's pid as the host sees it: the box init's descendant
        named app."""
        todo = [open(f"{STATE}/{self.name}/pid").read().strip()]
        while todo:
            pid = todo.pop()
            try:
                if open(f"/proc/{pid}/comm").read().strip() == "app":
                    return pid
                for task in os.listdir(f"/proc/{pid}/task"):
                    todo += open(f"/proc/{pid}/task/{task}/children").read().split()
            except OSError:
                continue   # ended meanwhile
        raise AssertionError(f"box {self.name}: the program is not running")

    def rss_mb(self):
        """The program's resident memory in MB."""
        status = open(f"/proc/{self.app_pid()}/status").read()
        return int(re.search(r"VmRSS:\s+(\d+) kB", status).group(1)) / 1024

    def wait_log(self, pattern, timeout=10):
        """Waits for a log line matching the regular expression; returns the match."""
        rx = re.compile(pattern, re.M)
        return wait_until(lambda: rx.search(self.log()), timeout, f"log line /{pattern}/")

    def tty(self, index):
        """A socket to the harness end of /dev/ttyS<index>."""
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(f"{STATE}/{self.name}/ttyS{index}.sock")
        return s

    @contextlib.contextmanager
    def tty_stopped(self, index):
        """Inside, /dev/ttyS<index> takes no byte, as a UART whose far end
        holds its flow: the program's writes find no room."""
        with open(f"{STATE}/{self.name}/ttys") as f:
            fd = os.open(f.read().split()[index], os.O_RDWR | os.O_NOCTTY)
        try:
            termios.tcflow(fd, termios.TCOOFF)
            yield
        finally:
            termios.tcflow(fd, termios.TCOON)
            os.close(fd)

    def calls(self, path="/board/calls.log"):
        """Lines that the box's recording stand-ins (or the watchdog's) wrote,
        as [name, args...]."""
        return [line.split()[1:] for line in self.read(path).splitlines()]

    def wait_reset(self):
        """Waits for the board to be reset through the watchdog: a 1 s
        time-out, then the watchdog closed."""
        wait_until(lambda: ["board-reset"] in self.calls(), 10, "the board to reset")
        wdt = self.calls("/dev/watchdog")
        assert ["timeout", "1"] in wdt, wdt
        assert ["close", "0"] == wdt[wdt.index(["timeout", "1"]) + 1], wdt


class BoxTest(unittest.TestCase):
    """Base for end-to-end tests: boxes made by self.box() go down at the end."""

    def box(self, **kw):
        b = Box(**kw)
        self.addCleanup(b.down)
        return b

    @classmethod
    def ini(cls, text):
        """A file of that text, to pre-seed a box's /etc/app.ini with."""
        d = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, d, True)
        path = os.path.join(d, "app.ini")
        with open(path, "w") as f:
            f.write(text)
        return path


def protocol_exchange(datagrams, wait=1.0, rate=0, timeout=120):
    """Sends the datagrams (bytes) to the control protocol's group from the
    LAN side and listens for wait seconds more; returns the replies as
    (where: "group" or "sender", JSON text) and the client's whole report."""
    import protoclient
    job = json.dumps({"send": [base64.b64encode(d).decode() for d in datagrams],
                      "wait": wait, "rate": rate})
    client = os.path.join(os.path.dirname(os.path.abspath(__file__)), "protoclient.py")
    proc = box("lan", "python3", client, "--job", input=job, timeout=timeout)
    got = json.loads(proc.stdout)
    return [(r["to"], protoclient.unframe(base64.b64decode(r["data"]))) for r in got["replies"]], got
