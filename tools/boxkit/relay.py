"""The host side of a box (its daemon): the UART ptys relayed to Unix
sockets, the command FIFO recorded, the watchdog followed."""

import os
import pty
import selectors
import signal
import socket
import time
import tty

from boxkit.common import box_dir, has_own_root, read_pid, wait_for, write_file

# A pty with no program at its far end fails its reads at once: it is left
# out of the loop that all ports share this long, then tried again.
TTY_REST_S = 0.2
LOOP_S = 0.2                   # longest sleep of the loop: the watchdog and the box are looked at this often


def want(sel, fileobj, events, handler):
    """Watches fileobj for events alone; no events: not at all."""
    key = sel.get_map().get(fileobj)
    if not events:
        if key is not None:
            sel.unregister(fileobj)
    elif key is None:
        sel.register(fileobj, events, handler)
    elif key.events != events:
        sel.modify(fileobj, events, handler)


class Relay:
    """One pty master relayed to one client of a Unix socket at a time.
    Each way holds at most one read's bytes until the other end takes
    them, and the end they came from is not read meanwhile: a client that
    takes nothing stops its own pty only (the program meets a UART whose
    far end holds its flow), never the other port, the FIFO or the
    watchdog. Without a client the pty's bytes go nowhere."""

    def __init__(self, sel, master, path):
        self.sel, self.master, self.client, self.path = sel, master, None, path
        self.rest_until = None          # monotonic time: the pty is left out of the loop until then
        self.to_client, self.to_tty = b"", b""
        os.set_blocking(master, False)
        self.srv = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.srv.bind(path)
        self.srv.listen(1)
        sel.register(self.srv, selectors.EVENT_READ, self.accept)
        self.watch()

    def watch(self):
        """What each end is watched for, from what is held."""
        R, W = selectors.EVENT_READ, selectors.EVENT_WRITE
        tty_events = (0 if self.to_client else R) | (W if self.to_tty else 0)
        want(self.sel, self.master, 0 if self.rest_until else tty_events, self.on_tty)
        if self.client:
            want(self.sel, self.client, (0 if self.to_tty else R) | (W if self.to_client else 0), self.on_client)

    def accept(self, _):
        try:
            conn, _ = self.srv.accept()
        except OSError as e:
            print(f"boxd: {self.path}: accept failed ({e.strerror})", flush=True)
            return
        self.drop()
        conn.setblocking(False)
        self.client = conn
        self.watch()

    def drop(self, why=None):
        """The client goes with the pty's bytes held for it; its own bytes
        still reach the UART."""
        if why:
            print(f"boxd: {self.path}: client dropped ({why})", flush=True)
        if self.client:
            want(self.sel, self.client, 0, None)
            self.client.close()
            self.client = None
        self.to_client = b""
        self.watch()

    def on_tty(self, mask):
        if mask & selectors.EVENT_WRITE:
            try:
                self.to_tty = self.to_tty[os.write(self.master, self.to_tty):]
            except BlockingIOError:
                pass
            except OSError as e:
                print(f"boxd: {self.path}: {len(self.to_tty)} bytes not written to the UART ({e.strerror})",
                      flush=True)
                self.to_tty = b""
        if mask & selectors.EVENT_READ:
            try:
                data = os.read(self.master, 4096)
            except BlockingIOError:
                data = b""
            except OSError:
                self.rest_until = time.monotonic() + TTY_REST_S
                data = b""
            if self.client:
                self.to_client = data
        self.watch()

    def rested(self):
        """Takes the pty back into the loop once its rest is over."""
        if self.rest_until and time.monotonic() >= self.rest_until:
            self.rest_until = None
            self.watch()

    def on_client(self, mask):
        if mask & selectors.EVENT_WRITE:
            try:
                self.to_client = self.to_client[self.client.send(self.to_client):]
            except BlockingIOError:
                pass
            except OSError as e:
                self.drop(e.strerror)
                return
        if mask & selectors.EVENT_READ:
            try:
                data = self.client.recv(4096)
            except BlockingIOError:
                return
            except OSError as e:
                self.drop(e.strerror)
                return
            if not data:
                self.drop()
                return
            self.to_tty = data
        self.watch()


def cmd_boxd(args):
    """Host side of a box: holds the UART ptys and reads the command FIFO."""
    state = box_dir(args.name)
    sel = selectors.DefaultSelector()
    slaves, keep, relays = [], [], []
    for i in range(2):
        master, slave = pty.openpty()
        tty.setraw(slave)
        keep.append(slave)              # keeps the pty alive while the box has it closed
        slaves.append(os.ttyname(slave))
        relays.append(Relay(sel, master, f"{state}/ttyS{i}.sock"))
    write_file(f"{state}/ttys", " ".join(slaves) + "\n")
    write_file(f"{state}/boxd.pid", f"{os.getpid()}\n")
    pid = None
    while pid is None:
        pid = read_pid(f"{state}/pid")
        time.sleep(0.02)
    # Through the box's own root: the overlay's FIFO is not the upper one.
    root = f"/proc/{pid}/root"
    wait_for(lambda: has_own_root(pid) and os.path.exists(f"{root}/customer/fifodeamon"), 10, "the box's root")
    fifo = os.open(f"{root}/customer/fifodeamon", os.O_RDWR | os.O_NONBLOCK)
    record = open(f"{state}/upper/board/fifodeamon.log", "ab", buffering=0)

    def from_fifo(_mask):
        try:
            record.write(os.read(fifo, 4096))
        except BlockingIOError:
            pass

    sel.register(fifo, selectors.EVENT_READ, from_fifo)
    watchdog = Watchdog(f"/proc/{pid}/root/dev/watchdog")
    while read_pid(f"{state}/pid"):
        for key, mask in sel.select(LOOP_S):
            key.data(mask)
        for relay in relays:
            relay.rested()
        if watchdog.expired():
            try:
                os.kill(pid, signal.SIGUSR2)
            except ProcessLookupError:
                break                   # the box went down meanwhile


class Watchdog:
    """Follows the watchdog stand-in's records ("<ms> <call> <arg>", monotonic
    clock) like the chip would: once open, the board resets when no kick
    came within the time-out; closing does not stop it, a reset ("reset",
    written by the box's init) does. Records it cannot read are skipped
    and named in the daemon's log."""

    def __init__(self, path):
        self.path, self.offset, self.running, self.timeout, self.last = path, 0, False, 0, 0

    def expired(self):
        try:
            with open(self.path) as f:
                f.seek(self.offset)
                lines = f.readlines()
                self.offset = f.tell()
        except OSError:
            return False
        if lines and not lines[-1].endswith("\n"):
            self.offset -= len(lines.pop().encode())   # still being written: read it whole next time
        for line in lines:
            try:
                ms, call, arg = line.split()
                ms, arg = int(ms), int(arg)
            except ValueError:
                print(f"boxd: watchdog record {line!r} skipped", flush=True)
                continue
            if call in ("open", "kick", "timeout"):
                self.running, self.last = True, ms
            if call == "timeout":
                self.timeout = arg
            if call == "reset":
                self.running = False
        now = time.monotonic() * 1000
        if self.running and self.timeout > 0 and now - self.last > self.timeout * 1000:
            self.running = False
            return True
        return False
