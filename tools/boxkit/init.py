"""PID 1 of a box: builds its root, starts the program and resets the box
as the board resets (watchdog, "reboot", a program that died of a signal)."""

import os
import select
import signal
import sys
import time

from boxkit.ask import SIM_WAIT_S, sim_ask, source_lines, source_lock, wait_sim_ready
from boxkit.common import APP_EXIT, APP_PID, APP_STARTS, box_dir, program_starts, run, write_file
from boxkit.make import box_env, build_root, enter_root

# A board takes about this long from its reset to the start of its program;
# a program that dies at every start-up is so restarted at that pace, for
# as long as the box is up.
RESET_PAUSE_S = 1.0


def cmd_init(args):
    """PID 1 of a box, started by 'up' inside fresh namespaces."""
    state = box_dir(args.name)
    go = os.open(f"{state}/go", os.O_RDONLY)   # blocks until the host side is ready
    ttys = open(f"{state}/ttys").read().split()
    merged = build_root(state, ttys)
    run("hostname", args.name)
    run("ip", "link", "set", "lo", "up")
    os.read(go, 1)
    enter_root(merged)
    # The command daemon's end of its FIFO is there before the program
    # starts; the box daemon reads what arrives through the same inode.
    os.open("/customer/fifodeamon", os.O_RDWR | os.O_NONBLOCK)

    # Signals only wake the loop below, which acts on them: a reset never
    # cuts into a write or into another reset.
    wake_r, wake_w = os.pipe2(os.O_NONBLOCK | os.O_CLOEXEC)
    signal.set_wakeup_fd(wake_w, warn_on_full_buffer=False)
    for sig in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGCHLD):
        signal.signal(sig, lambda *_: None)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    app = start_program() if not args.no_start else None
    restart_at = None                   # while the board restarts: when its program starts
    while True:
        wait = None if restart_at is None else max(0.0, restart_at - time.monotonic())
        select.select([wake_r], [], [], wait)
        try:
            sigs = os.read(wake_r, 512)
        except BlockingIOError:
            sigs = b""
        reset = signal.SIGUSR2 in sigs
        code = reap(app)
        if code is not None:
            app = None
            if code < 0:
                # As on the board: nothing kicks the watchdog any more.
                print(f"box: the program died of signal {-code}: reset", file=sys.stderr, flush=True)
                reset = True
        if restart_at is not None:
            # The board is restarting: a further reset or a start changes nothing.
            if time.monotonic() >= restart_at:
                restart_at = None
                app = start_program()
                if os.fork() == 0:
                    replay_source()
        elif reset:
            reboot()
            app = None
            restart_at = time.monotonic() + RESET_PAUSE_S
        elif signal.SIGUSR1 in sigs and app is None:
            app = start_program()


def start_program():
    """Starts the program; its pid. Spawned without a Popen object, whose
    clean-up would reap the program behind the back of reap()."""
    if os.path.exists(APP_EXIT):
        os.unlink(APP_EXIT)             # of the run before
    pid = os.posix_spawn("/customer/app", ["/customer/app"], box_env(),
                         setsigdef=(signal.SIGPIPE, signal.SIGXFSZ))
    write_file(APP_PID, f"{pid}\n")
    write_file(APP_STARTS, f"{program_starts('') + 1}\n")
    return pid


def reap(app):
    """As PID 1: reaps every child that ended. When one was the program:
    its exit status (negative: the signal it died of), kept in APP_EXIT;
    else None."""
    code = None
    while True:
        try:
            child, status = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return code
        if child == 0:
            return code
        if child == app:
            code = os.waitstatus_to_exitcode(status)
            write_file(APP_EXIT, f"{code}\n")


def reboot():
    """The board resets: every process goes, volatile state is lost. Files
    on flash (the overlay) stay, and so does the exit status of a program
    that ended, until the next start."""
    with open("/board/calls.log", "a") as f:
        f.write(f"{time.time():.9f} board-reset\n")
    with open("/dev/watchdog", "a") as f:
        f.write(f"{int(time.monotonic() * 1000)} reset 0\n")
    try:
        os.kill(-1, signal.SIGKILL)
    except ProcessLookupError:
        pass                            # the program had died: nothing left to stop
    while True:
        try:
            os.wait()
        except ChildProcessError:
            break
    for d in ("/tmp", "/run", "/var/run"):
        if not os.path.islink(d):
            clear_volatile(d)
    run("ip", "addr", "flush", "dev", "eth0", check=False)
    run("ip", "link", "set", "eth0", "down", check=False)
    if os.path.exists(APP_PID):
        os.unlink(APP_PID)


def clear_volatile(top):
    """Empties a directory of the box's volatile files, leaving what is
    mounted inside it (the checkout, when it lies under /tmp) and the
    directories that lead there. True when something was left."""
    left = False
    with os.scandir(top) as entries:
        for entry in entries:
            try:
                if os.path.ismount(entry.path):
                    left = True
                elif entry.is_dir(follow_symlinks=False):
                    if clear_volatile(entry.path):
                        left = True
                    else:
                        os.rmdir(entry.path)
                else:
                    os.unlink(entry.path)
            except OSError as e:
                print(f"box: reset: {e}", file=sys.stderr, flush=True)
                left = True
    return left


def replay_source():
    """In a child of the box's init after a reset: the source, still plugged,
    is seen by the program that started again. Ends the process."""
    code = 1
    try:
        if not wait_sim_ready(""):
            raise OSError(f"the program took no simulation words within {SIM_WAIT_S} s")
        lock = source_lock("")
        for line in source_lines(""):
            reply = sim_ask("", line) or "no answer"
            if not reply.endswith("ok\n"):
                print(f"box: source word {line!r} after the reset: {reply.strip()}", file=sys.stderr, flush=True)
        os.close(lock)
        code = 0
    except OSError as e:
        print(f"box: source not given back after the reset: {e}", file=sys.stderr, flush=True)
    finally:
        os._exit(code)


