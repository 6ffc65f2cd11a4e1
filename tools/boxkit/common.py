"""Names, state files and helpers that every part of the harness shares."""

import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOX = os.path.join(ROOT, "tools", "box")
_LAN_WORD = os.environ.get("HDMIBOX_LAN", "")
if _LAN_WORD and not _LAN_WORD.isalnum():
    sys.exit("box: HDMIBOX_LAN takes letters and digits only")
STATE = "/run/hdmibox" + (f"-{_LAN_WORD}" if _LAN_WORD else "")
LAN_NS = "hdmibox-lan" + (f"-{_LAN_WORD}" if _LAN_WORD else "")
BOX_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
# Written by the box's init: the program's pid while it runs, and its exit
# status (negative: the signal it died of) once it ended, until it starts again.
APP_PID = "/board/app.pid"
APP_EXIT = "/board/app.exit"
APP_STARTS = "/board/app.starts"   # how often the program was started, for a start to wait on


def die(msg):
    print(f"box: {msg}", file=sys.stderr)
    sys.exit(1)


def run(*cmd, check=True, **kw):
    return subprocess.run(cmd, check=check, **kw)


def box_dir(name):
    return os.path.join(STATE, name)


def read_pid(path):
    """The process named in the file while it lives (a zombie does not)."""
    try:
        with open(path) as f:
            pid = int(f.read().strip())
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                return None
        return pid
    except (OSError, ValueError, IndexError):
        return None


def init_pid(name):
    pid = read_pid(os.path.join(box_dir(name), "pid"))
    if pid is None:
        die(f"no box named {name}")
    return pid


def has_own_root(pid):
    """The box's init has entered its root (an overlay: a device of its own,
    as its root's inode number may be the host root's)."""
    mine, host = os.stat(f"/proc/{pid}/root"), os.stat("/")
    return (mine.st_dev, mine.st_ino) != (host.st_dev, host.st_ino)


def box_root(name):
    return f"/proc/{init_pid(name)}/root"


def program_exit(root):
    """The exit status of the program that ended, None while none did."""
    try:
        with open(root + APP_EXIT) as f:
            return int(f.read())
    except (OSError, ValueError):
        return None


def program_starts(root):
    try:
        with open(root + APP_STARTS) as f:
            return int(f.read())
    except (OSError, ValueError):
        return 0


def program_runs(root):
    return os.path.exists(root + APP_PID) and not os.path.exists(root + APP_EXIT)


def write_file(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    os.chmod(path, mode)


def spawn_daemon(argv, log):
    """Starts argv detached from the caller's session and terminal."""
    with open(log, "ab") as out:
        return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                start_new_session=True)


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.02)
    die(f"timed out waiting for {what}")
