"""Asking the program: its simulation words through its Unix socket, its
control protocol from the LAN side, and the wait for both after a start.
The source's words are kept here too, to be given again after a reset."""

import base64
import fcntl
import json
import os
import socket
import sys
import time

from boxkit.common import APP_EXIT, APP_PID, BOX, LAN_NS, ROOT, die, program_exit, program_runs, run, \
    wait_for, write_file

SIM_WAIT_S = 10                # longest wait for the program's simulation words
SIM_READY_WORD = "plug"        # the receiver model registers last, about 1 s after the start
# The control protocol answers a few seconds after the simulation words;
# up and start wait for it while the program runs, asking every ASK_EACH_S.
ASK_WAIT_S = 20
ASK_EACH_S = 0.3
ASK_UNANSWERED = 2             # exit status of _ask: no answer within ASK_WAIT_S
# What a person does with the HDMI source: kept across a reset of the box (a
# real source stays plugged while the board restarts) and given to the
# program again once it takes words. plug and unplug are one setting.
SOURCE_WORDS = ("plug", "unplug", "hdcp", "audio", "avmute")
SOURCE_FILE = "/board/source"


def wait_started(name, pid):
    """Waits until the program runs, takes simulation words and answers
    its control protocol. A program that ended meanwhile ends the caller
    with one line that says how, and exit status 1."""
    root = f"/proc/{pid}/root"
    wait_for(lambda: os.path.exists(root + APP_PID) or os.path.exists(root + APP_EXIT), 5,
             "the program to start")

    def ended():
        if program_exit(root) is not None:
            ended_at_start(name, program_exit(root))

    if not wait_sim_ready(root, ended):
        print(f"box: the program takes no simulation words after {SIM_WAIT_S} s", file=sys.stderr)
        return
    asked = run("ip", "netns", "exec", LAN_NS, sys.executable, BOX, "_ask", str(pid), check=False)
    ended()
    if asked.returncode == ASK_UNANSWERED:
        print(f"box: the program does not answer its control protocol after {ASK_WAIT_S} s", file=sys.stderr)


def ended_at_start(name, code):
    how = f"signal {-code}; the box resets and starts it again" if code < 0 else f"exit status {code}"
    die(f"{name}: the program ended at start-up ({how}): tools/box log {name} has its last words")


def cmd_ask(args):
    """On the LAN side: asks the program of the box whose init is args.pid
    "config get device", addressed to its device id (eth0's MAC), until
    it answers. Exit status 0 once it does, 1 once the program is gone
    (ended, or its box reset or went down), ASK_UNANSWERED after
    ASK_WAIT_S."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
    import protoclient
    root = f"/proc/{args.pid}/root"
    end = time.monotonic() + ASK_WAIT_S
    while time.monotonic() < end:
        try:
            if not program_runs(root):
                sys.exit(1)
            with open(f"{root}/sys/class/net/eth0/address") as f:
                device = f.read().strip().replace(":", "")
        except OSError:
            sys.exit(1)
        ask = protoclient.frame(protoclient.request("config get device", [device]))
        got = protoclient.run({"send": [base64.b64encode(ask).decode()], "wait": ASK_EACH_S})
        for reply in got["replies"]:
            try:
                if json.loads(protoclient.unframe(base64.b64decode(reply["data"])))["device"]["deviceid"] == device:
                    sys.exit(0)
            except (ValueError, KeyError, TypeError):
                continue        # a datagram of another kind on the group's port
    sys.exit(ASK_UNANSWERED)


def sim_ask(root, line):
    """The program's answer to one line of words, or None when it does not answer."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        sock.settimeout(30)
        sock.connect(f"{root}/board/sim.sock")
        sock.sendall((line + "\n").encode())
        reply = b""
        while chunk := sock.recv(65536):
            reply += chunk
        return reply.decode(errors="replace")
    except OSError:
        return None
    finally:
        sock.close()


def sim_ready(root):
    """The program has registered all its simulation words."""
    reply = sim_ask(root, "help")
    return reply is not None and SIM_READY_WORD in [line.split(" ", 1)[0] for line in reply.splitlines()]


def wait_sim_ready(root, on_wait=lambda: None):
    """A program that just (re)started registers its words within a second.
    on_wait is called on every look before the words are there."""
    end = time.monotonic() + SIM_WAIT_S
    while not sim_ready(root):
        on_wait()
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True


def source_lock(root):
    """Orders source words of 'sim' against their replay after a reset."""
    fd = os.open(f"{root}{SOURCE_FILE}.lock", os.O_CREAT | os.O_RDWR, 0o600)
    fcntl.flock(fd, fcntl.LOCK_EX)
    return fd


def source_lines(root):
    try:
        with open(root + SOURCE_FILE) as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def source_slot(word):
    return "plug" if word == "unplug" else word


def source_record(root, words):
    """Keeps the source's words, the last of each setting, in their order."""
    slot = source_slot(words[0])
    lines = [line for line in source_lines(root) if source_slot(line.split()[0]) != slot]
    write_file(root + SOURCE_FILE, "".join(line + "\n" for line in lines + [" ".join(words)]))
