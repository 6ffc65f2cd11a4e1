"""The commands of tools/box, as the user types them."""

import argparse
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import time

from boxkit.ask import SIM_WAIT_S, SOURCE_WORDS, cmd_ask, sim_ask, source_lock, source_record, wait_sim_ready, \
    wait_started
from boxkit.common import APP_PID, BOX, BOX_PATH, LAN_NS, ROOT, STATE, box_dir, box_root, die, \
    init_pid, program_exit, program_runs, program_starts, read_pid, run, wait_for, write_file
from boxkit.init import cmd_init
from boxkit.make import FLASH_SIZE, KEY_GPIO, OLD_PARAMS_OFFSET, box_up, build_root, down_one, enter_root, \
    lan_ensure, lan_lock, lan_remove_if_unused, mount, reap_until, seed_upper
from boxkit.relay import cmd_boxd

AUTO_LAN = re.compile(r"hdmibox-(?:lan-)?auto(\d+)(?:\.lock|\.run)?")   # names of a LAN taken by process PID
MAC_TEXT = re.compile(r"[0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5}")
# Largest --ini taken: four times what the program reads of its settings
# file, so that its own bound can be tried; a real file is about 5 KB.
INI_MAX = 1 << 20
KEY_HELP = "key press|release: the reset key (held 3 s: factory settings)"


def cmd_up(args):
    if len(args.name) > 12 or not args.name.replace("-", "").isalnum():
        die("a box name has at most 12 letters, digits or '-'")
    app = os.environ.get("BOX_APP", os.path.join(ROOT, "build", "app"))
    if not os.access(app, os.X_OK):
        die(f"no program at {app}: run tools/build")
    if args.mac is not None and not MAC_TEXT.fullmatch(args.mac):
        die(f"--mac takes six hexadecimal bytes separated by colons (02:00:00:00:0a:0b), not {args.mac!r}")
    if args.mac is not None and int(args.mac[:2], 16) & 1:
        die(f"--mac {args.mac}: a multicast address (the first byte is odd); a box takes a unicast one")
    if args.mac is not None and not int(args.mac.replace(":", ""), 16):
        die(f"--mac {args.mac}: all zeros, which the program does not take (it would make a MAC of its own)")
    ini = read_given(args, "ini", INI_MAX, "bytes a settings file is given")
    old_params = read_given(args, "old_params", FLASH_SIZE - OLD_PARAMS_OFFSET, "bytes of its block")
    state = box_dir(args.name)
    if os.path.exists(state):
        die(f"box {args.name} exists")
    try:
        pid = box_up(args, app, state, ini, old_params)
    except BaseException:
        # A box that did not come up leaves nothing behind but its log's end.
        if os.path.exists(f"{state}/log"):
            with open(f"{state}/log", errors="replace") as log:
                sys.stderr.write(log.read()[-2000:])
        lock = lan_lock()
        down_one(args.name)
        lan_remove_if_unused()
        os.close(lock)
        raise
    if not args.no_start:
        wait_started(args.name, pid)
    print(f"box {args.name}: up (init pid {pid})")


def read_given(args, attr, limit, what):
    """The bytes of the regular file an option names, at most limit of
    them; None without the option. A FIFO, a device or a directory is
    refused before it is opened, and again after (it may have been swapped
    meanwhile): opening a FIFO would wait for a writer, reading a device
    may never end."""
    path = getattr(args, attr)
    if path is None:
        return None
    opt = f"--{attr.replace('_', '-')} {path}"
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            die(f"{opt}: not a regular file")
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
        with open(fd, "rb") as f:
            if not stat.S_ISREG(os.fstat(fd).st_mode):
                die(f"{opt}: not a regular file")
            data = f.read(limit + 1)
    except OSError as e:
        die(f"{opt}: {e.strerror}")
    if len(data) > limit:
        die(f"{opt}: more than the {limit} {what}")
    return data



def cmd_start(args):
    pid = init_pid(args.name)
    root = f"/proc/{pid}/root"
    if program_runs(root):
        with open(root + APP_PID) as f:
            print(f"box {args.name}: the program runs already (pid {f.read().strip()} in the box)")
        return
    code = program_exit(root)
    if code is None or code >= 0:       # one that died of a signal the box restarts itself
        starts = program_starts(root)
        os.kill(pid, signal.SIGUSR1)
        wait_for(lambda: program_starts(root) > starts, 5, "the program to start")
    wait_started(args.name, pid)


def cmd_down(args):
    names = sorted(os.listdir(STATE)) if args.all and os.path.isdir(STATE) else [args.name]
    if not args.all and not args.name:
        die("down needs NAME or --all")
    lock = lan_lock()
    for name in names:
        if os.path.isdir(box_dir(name)):
            down_one(name)
        elif not args.all:
            die(f"no box named {name}")
    lan_remove_if_unused()
    os.close(lock)


def nsenter(name):
    return ["nsenter", "-t", str(init_pid(name)), "-p", "-m", "-u", "-n", "-i", "-r", "-w"]


def cmd_exec(args):
    os.execvpe("nsenter", nsenter(args.name) + ["env", "-i", f"PATH={BOX_PATH}"] + args.cmd,
               os.environ)


def cmd_lan(args):
    lock = lan_lock()
    lan_ensure()
    os.close(lock)
    os.execvp("ip", ["ip", "netns", "exec", LAN_NS] + args.cmd)


def cmd_path(args):
    if not args.abspath.startswith("/"):
        die(f"path: {args.abspath} is not an absolute path in the box")
    print(box_root(args.name) + os.path.abspath(args.abspath))


def cmd_log(args):
    init_pid(args.name)
    sys.stdout.buffer.write(open(f"{box_dir(args.name)}/log", "rb").read())


def cmd_list(_):
    """A box is up while its init lives, its program running or not."""
    for name in sorted(os.listdir(STATE)) if os.path.isdir(STATE) else []:
        pid = read_pid(f"{box_dir(name)}/pid")
        root = f"/proc/{pid}/root"
        code = program_exit(root) if pid else None
        if not pid:
            print(name, "dead")
        elif program_runs(root):
            print(name, "up")
        elif code is None:
            print(name, "up, its program not running")
        elif code < 0:
            print(name, f"up, its program ended (signal {-code}; the box resets)")
        else:
            print(name, f"up, its program ended (exit status {code})")


def key_level(name, level):
    with open(f"{box_root(name)}/sys/class/gpio/gpio{KEY_GPIO}/value", "w") as f:
        f.write(level)


def cmd_sim(args):
    """Words for the simulated hardware. The harness handles the board's
    file devices itself; the rest goes to the program's stand-ins."""
    words = args.words
    if words[:1] == ["key"]:
        if words[1:] not in (["press"], ["release"]):
            print("error: key: press or release")
            sys.exit(1)
        key_level(args.name, "0\n" if words[1] == "press" else "1\n")
        print("ok")
        return
    root = box_root(args.name)
    if not wait_sim_ready(root):
        die(f"{args.name}: the program took no simulation words within {SIM_WAIT_S} s")
    lock = source_lock(root) if words[:1] and words[0] in SOURCE_WORDS else None
    text = sim_ask(root, " ".join(words))
    if text is None:
        die(f"{args.name}: the program does not answer simulation words")
    last = text.rstrip("\n").rsplit("\n", 1)[-1]
    if words == ["help"] and last == "ok":
        text = text[:-len("ok\n")] + KEY_HELP + "\nok\n"
    if lock is not None:
        if last == "ok":
            source_record(root, words)
        os.close(lock)
    sys.stdout.write(text)
    sys.exit(0 if last == "ok" else 1)


def cmd_drop_lan(_):
    lock = lan_lock()
    # A drop that ran meanwhile may have taken the folder and the lock file.
    for name in sorted(os.listdir(STATE)) if os.path.isdir(STATE) else []:
        down_one(name)
    run("ip", "netns", "del", LAN_NS, check=False, stderr=subprocess.DEVNULL)
    shutil.rmtree(STATE, ignore_errors=True)
    for f in (f"{STATE}.run", f"{STATE}.lock"):   # tools/run's lock, then ours
        if os.path.exists(f):
            os.unlink(f)
    os.close(lock)


def cmd_prune(_):
    """A run killed before its end leaves its LAN, maybe with boxes: dropped
    here once its process is gone."""
    names = os.listdir("/run") + (os.listdir("/run/netns") if os.path.isdir("/run/netns") else [])
    for pid in sorted({int(m.group(1)) for m in map(AUTO_LAN.fullmatch, names) if m}):
        if not os.path.exists(f"/proc/{pid}"):
            run(sys.executable, BOX, "drop-lan",
                env=dict(os.environ, HDMIBOX_LAN=f"auto{pid}"))


def cmd_isolate(args):
    """Runs a command in a throwaway box: overlay root, own namespaces,
    loopback only, the board's device files but no UARTs (a test that
    needs one binds a pty of its own over /dev/ttyS0). For unit tests."""
    if os.environ.get("BOX_ISOLATED") != "1":
        os.environ["BOX_ISOLATED"] = "1"
        os.execvp("unshare", ["unshare", "--pid", "--fork", "--mount", "--uts", "--net",
                              "--ipc", "--propagation", "private", sys.executable, BOX,
                              "isolate"] + args.cmd)
    state = f"/tmp/hdmibox-isolate-{os.getpid()}-{time.monotonic_ns()}"
    os.makedirs(state)
    # In this mount namespace only: the layers go with it even when the
    # test is killed, leaving at most the empty directory.
    mount("-t", "tmpfs", "tmpfs", state)
    os.makedirs(f"{state}/upper")
    os.makedirs(f"{state}/work")
    try:
        seed_upper(f"{state}/upper", None)
        write_file(f"{state}/upper/board/isolated", "")   # unit-test programs run only where they find it
        merged = build_root(state)
        run("hostname", "isolated")
        run("ip", "link", "set", "lo", "up")
        cwd = os.getcwd()
        signal.signal(signal.SIGUSR2, lambda *_: None)   # the reboot stand-in's reset
        pid = os.fork()
        if pid == 0:
            enter_root(merged)
            os.chdir(cwd)
            os.execvp(args.cmd[0], args.cmd)
        status = reap_until(pid)
    finally:
        run("umount", "-R", "-l", state, check=False, stderr=subprocess.DEVNULL)
        shutil.rmtree(state, ignore_errors=True)
    sys.exit(status)


def main(usage):
    """Runs the command of the command line; usage: the text of --help."""
    if os.geteuid() != 0:
        die("boxes need root")
    p = argparse.ArgumentParser(prog="box", description=usage,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("up")
    s.add_argument("name")
    s.add_argument("--ini")
    s.add_argument("--mac")
    s.add_argument("--old-params")
    s.add_argument("--no-start", action="store_true")
    s.set_defaults(fn=cmd_up)
    for name, fn in (("start", cmd_start), ("log", cmd_log)):
        s = sub.add_parser(name)
        s.add_argument("name")
        s.set_defaults(fn=fn)
    s = sub.add_parser("down")
    s.add_argument("name", nargs="?")
    s.add_argument("--all", action="store_true")
    s.set_defaults(fn=cmd_down)
    for name, fn in (("exec", cmd_exec), ("sim", cmd_sim)):
        s = sub.add_parser(name)
        s.add_argument("name")
        s.add_argument("words" if name == "sim" else "cmd", nargs=argparse.REMAINDER)
        s.set_defaults(fn=fn)
    for name, fn in (("lan", cmd_lan), ("isolate", cmd_isolate)):
        s = sub.add_parser(name)
        s.add_argument("cmd", nargs=argparse.REMAINDER)
        s.set_defaults(fn=fn)
    s = sub.add_parser("path")
    s.add_argument("name")
    s.add_argument("abspath")
    s.set_defaults(fn=cmd_path)
    sub.add_parser("list").set_defaults(fn=cmd_list)
    sub.add_parser("drop-lan").set_defaults(fn=cmd_drop_lan)
    sub.add_parser("prune").set_defaults(fn=cmd_prune)
    # The commands the harness gives itself are left out of the usage.
    sub.metavar = "{" + ",".join(sub.choices) + "}"
    s = sub.add_parser("_init")
    s.add_argument("name")
    s.add_argument("--no-start", action="store_true")
    s.set_defaults(fn=cmd_init)
    s = sub.add_parser("_ask")
    s.add_argument("pid", type=int)
    s.set_defaults(fn=cmd_ask)
    s = sub.add_parser("_boxd")
    s.add_argument("name")
    s.set_defaults(fn=cmd_boxd)
    args = p.parse_args()
    if getattr(args, "cmd", None) == []:
        die("a command is needed")
    args.fn(args)

