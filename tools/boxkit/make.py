"""The making of a box: the files it has on top of the host root, its root
and board stand-ins inside its mount namespace, its LAN and its taking
down."""

import fcntl
import os
import shutil
import signal
import subprocess
import sys

from boxkit.common import BOX, BOX_PATH, LAN_NS, ROOT, STATE, box_dir, has_own_root, read_pid, run, spawn_daemon, \
    wait_for, write_file

LAN_BRIDGE = "br0"
LAN_ADDR = "169.254.0.1/16"
FLASH_SIZE = 32 << 20          # the board's 32 MiB NOR flash
OLD_PARAMS_OFFSET = 0x1FF0000  # old parameter block in the flash image
GPIO_LINES = 128
PWM_CHANNELS = 4
KEY_GPIO = 20                  # reset key, active low
VERSION = "V1.0.0-box"         # the firmware version file a board has


# Programs the box only records: each appends "TIME NAME ARGS" to /board/calls.log.
# "reboot" then also resets the box (see boxkit.init). killall is one of them:
# every daemon it would end is a recorder that is gone already.
RECORDERS = [
    "/usr/sbin/reboot",
    "/usr/bin/webupdate",
    "/customer/igmp_report.sh",
    "/customer/avahi-daemon",
    "/customer/wpa_supplicant",
    "/customer/wpa_cli",
    "/customer/ssh/dropbear",
    "/usr/sbin/telnetd",
    "/usr/bin/killall",
]


def seed_upper(upper, app, ini=None, mac=None, old_params=None):
    """Files that the box has on top of the host root; ini and old_params
    are the bytes of those files."""
    write_file(f"{upper}/board/calls.log", "")
    for prog in RECORDERS:
        write_file(upper + prog,
                   "#!/bin/sh\n"
                   f'echo "$(date +%s.%N) {os.path.basename(prog)} $*" >> /board/calls.log\n'
                   + ("sleep 1; kill -USR2 1\n" if prog.endswith("/reboot") else ""),
                   0o755)
    os.makedirs(f"{upper}/customer", exist_ok=True)
    os.mkfifo(f"{upper}/customer/fifodeamon")
    with open(f"{upper}/board/flash.img", "wb") as f:
        f.write(b"\xff" * FLASH_SIZE)           # erased NOR
        if old_params:
            f.seek(OLD_PARAMS_OFFSET)
            f.write(old_params)
    if ini is not None:
        write_file(f"{upper}/etc/app.ini", ini)
    if mac:
        write_file(f"{upper}/etc/mac", mac + "\n")
    if app:
        write_file(f"{upper}/customer/info/version", VERSION + "\n")
        os.makedirs(f"{upper}/customer", exist_ok=True)
        shutil.copyfile(app, f"{upper}/customer/app")
        os.chmod(f"{upper}/customer/app", 0o755)


def mount(*args):
    run("mount", *args)


def bind_file(src, dst):
    if not os.path.exists(dst):
        write_file(dst, "")
    mount("--bind", src, dst)


def build_root(state, ttys=()):
    """Inside the box's mount namespace: the overlay root and its stand-ins."""
    merged = f"{state}/merged"
    os.makedirs(merged, exist_ok=True)
    mount("-t", "overlay", "overlay", "-o",
          f"lowerdir=/,upperdir={state}/upper,workdir={state}/work", merged)
    mount("-t", "proc", "proc", f"{merged}/proc")
    mount("-t", "sysfs", "sysfs", f"{merged}/sys")
    for d in ("tmp", "run", "var/run"):
        if os.path.islink(f"{merged}/{d}"):
            continue
        mount("-t", "tmpfs", "-o", "mode=1777", "tmpfs", f"{merged}/{d}")
    # The checkout stays visible, also under a fresh tmpfs (a CI clone in
    # /tmp) or on a file system of its own, which the root overlay does not
    # show; it gets its own throwaway upper layer like the root.
    for sub in ("repo-upper", "repo-work"):
        os.makedirs(f"{state}/{sub}", exist_ok=True)
    os.makedirs(merged + ROOT, exist_ok=True)
    mount("-t", "overlay", "overlay", "-o",
          f"lowerdir={ROOT},upperdir={state}/repo-upper,workdir={state}/repo-work", merged + ROOT)

    # /sys/class: the box's own network classes, GPIO and PWM trees of files.
    cls = f"{state}/class"
    os.makedirs(cls, exist_ok=True)
    mount("-t", "tmpfs", "tmpfs", cls)
    for sub in os.listdir(f"{merged}/sys/class"):
        os.makedirs(f"{cls}/{sub}", exist_ok=True)
        mount("--bind", f"{merged}/sys/class/{sub}", f"{cls}/{sub}")
    write_file(f"{cls}/gpio/export", "")
    write_file(f"{cls}/gpio/unexport", "")
    for n in range(GPIO_LINES):
        write_file(f"{cls}/gpio/gpio{n}/direction", "in\n")
        write_file(f"{cls}/gpio/gpio{n}/value", "1\n" if n == KEY_GPIO else "0\n")
    chip = f"{cls}/pwm/pwmchip0"
    write_file(f"{chip}/export", "")
    write_file(f"{chip}/npwm", f"{PWM_CHANNELS}\n")
    for n in range(PWM_CHANNELS):
        for attr, val in (("period", "0"), ("duty_cycle", "0"), ("enable", "0"), ("polarity", "normal")):
            write_file(f"{chip}/pwm{n}/{attr}", val + "\n")
    mount("--move", cls, f"{merged}/sys/class")

    # /dev: only what a board has, as files where the board has devices.
    dev = f"{merged}/dev"
    mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", dev)
    for node in ("null", "zero", "full", "random", "urandom", "tty"):
        bind_file(f"/dev/{node}", f"{dev}/{node}")
    os.makedirs(f"{dev}/pts")
    mount("-t", "devpts", "-o", "newinstance,ptmxmode=0666", "devpts", f"{dev}/pts")
    os.symlink("pts/ptmx", f"{dev}/ptmx")
    os.makedirs(f"{dev}/shm")
    mount("-t", "tmpfs", "tmpfs", f"{dev}/shm")
    for f in ("watchdog", "hidg0", "hidg1"):
        write_file(f"{dev}/{f}", "")
    for i, slave in enumerate(ttys):
        bind_file(slave, f"{dev}/ttyS{i}")
    return merged


def box_env():
    return {"PATH": BOX_PATH, "HOME": "/root", "TERM": "dumb"}


def enter_root(merged):
    os.chroot(merged)
    os.chdir("/")


def reap_until(pid):
    """As PID 1: reap every child; return the exit status of pid."""
    while True:
        try:
            child, status = os.wait()
        except ChildProcessError:
            return 1
        if child == pid:
            return os.waitstatus_to_exitcode(status)


def lan_lock():
    """Serialises LAN set-up and removal between concurrent harness calls."""
    os.makedirs(STATE, exist_ok=True)
    fd = os.open(f"{STATE}.lock", os.O_CREAT | os.O_RDWR, 0o600)
    fcntl.flock(fd, fcntl.LOCK_EX)
    return fd


def lan_ensure():
    if os.path.exists(f"/run/netns/{LAN_NS}"):
        return
    run("ip", "netns", "add", LAN_NS)
    ns = ("ip", "-n", LAN_NS)
    run(*ns, "link", "set", "lo", "up")
    run(*ns, "link", "add", LAN_BRIDGE, "type", "bridge", "mcast_snooping", "0")
    run(*ns, "addr", "add", LAN_ADDR, "dev", LAN_BRIDGE)
    run(*ns, "link", "set", LAN_BRIDGE, "up")
    run(*ns, "route", "add", "224.0.0.0/4", "dev", LAN_BRIDGE)


def lan_remove_if_unused():
    if os.path.isdir(STATE) and os.listdir(STATE):
        return
    run("ip", "netns", "del", LAN_NS, check=False, stderr=subprocess.DEVNULL)


def veth_name(name):
    return ("hb-" + name)[:15]


def box_up(args, app, state, ini, old_params):
    """Makes the box and starts its init; returns the init's pid."""
    for d in ("upper", "work"):
        os.makedirs(f"{state}/{d}")
    seed_upper(f"{state}/upper", app, ini, args.mac, old_params)
    os.mkfifo(f"{state}/go")
    lock = lan_lock()
    try:
        lan_ensure()
        spawn_daemon([sys.executable, BOX, "_boxd", args.name], f"{state}/boxd.log")
        wait_for(lambda: os.path.exists(f"{state}/ttys"), 5, "the box daemon")
        init_argv = ["unshare", "--pid", "--fork", "--mount", "--uts", "--net", "--ipc",
                     "--propagation", "private", sys.executable, BOX, "_init", args.name]
        if args.no_start:
            init_argv.append("--no-start")
        unshare = spawn_daemon(init_argv, f"{state}/log")

        # unshare forks once more: PID 1 of the box is its only child.
        def child():
            try:
                kids = open(f"/proc/{unshare.pid}/task/{unshare.pid}/children").read().split()
            except OSError:
                return None
            return int(kids[0]) if kids else None

        wait_for(lambda: child() is not None, 5, "the box's init")
        pid = child()
        write_file(f"{state}/pid", f"{pid}\n")
        veth = veth_name(args.name)
        run("ip", "-n", LAN_NS, "link", "add", veth, "type", "veth", "peer", "name", "eth0",
            "netns", str(pid))
        run("ip", "-n", LAN_NS, "link", "set", veth, "master", LAN_BRIDGE, "up")
    finally:
        os.close(lock)
    with open(f"{state}/go", "w") as go:
        go.write("1")
    wait_for(lambda: os.path.exists(f"/proc/{pid}/root/customer/app")
             and has_own_root(pid), 10, "the box's root")
    return pid


def down_one(name):
    state = box_dir(name)
    for f in ("pid", "boxd.pid"):
        pid = read_pid(f"{state}/{f}")
        if pid:
            os.kill(pid, signal.SIGKILL)
            wait_for(lambda: read_pid(f"{state}/{f}") is None, 10, f"{name} to stop")
    run("ip", "-n", LAN_NS, "link", "del", veth_name(name), check=False,
        stderr=subprocess.DEVNULL)
    shutil.rmtree(state, ignore_errors=True)


