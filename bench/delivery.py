#!/usr/bin/env python3
"""The delivery benchmark: the box as players see it.

Starts a box whose main stream is 8192 kbit/s 1080p60 H.264, plugs a
1080p60 source and plays the main stream's video from the LAN side (across
the veth and the bridge) with N UDP or interleaved TCP players. Per load it
prints the CPU that the whole program and its sending threads (the main
stream's frame thread VStream0 and the socket loop pool_worker) spend per
delivered Gbit, the loss (RTP sequence gaps, and pictures the simulated
encoder skipped), the players' arrival jitter (RFC 3550) and the program's
memory. In the same run, a bare sender in the box's namespace sends the same
frames on the same path to as many receivers (one sendmsg with UDP_SEGMENT
per frame and receiver; one writev per frame and TCP connection): the
floor. Run as root from the checkout after tools/build (on a LAN of its
own unless HDMIBOX_LAN names one):

    bench/delivery.py [--window S] [--loads udp:10,tcp:10,...]
"""

import argparse
import os
import platform
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import boxlib  # noqa: E402

MAC = "02:00:00:00:22:01"
ADDR = boxlib.default_ip(MAC)
LAN_ADDR = "169.254.0.1"
URL = f"rtsp://{ADDR}/live/main/av_stream"
BIN = os.path.join(ROOT, "build", "bench", "bench_delivery")
INI = ("[mainattr]\nenctype = 0\nvideobitrate = 8192\nfps = 60\nwidth = 1920\nheight = 1080\n"
       "ratecontrol = 1\n")
SENDERS = ("VStream0", "pool_worker")
SINK_PORT = 30000
STAND_IN_LIBS = re.compile(r"/lib(avcodec|avutil|swscale|swresample|x264|x265)\.so")
LOADS = "udp:10,udp:50,udp:100,udp:200,tcp:10,tcp:50,tcp:100,tcp:90+udp:5"


def cpu(pid):
    """Seconds of CPU of the whole process and of its sending threads."""
    total = senders = 0.0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            ns = int(open(f"/proc/{pid}/task/{tid}/schedstat").read().split()[0])
            comm = open(f"/proc/{pid}/task/{tid}/comm").read().strip()
        except OSError:
            continue   # a thread that ended meanwhile
        total += ns / 1e9
        if comm in SENDERS:
            senders += ns / 1e9
    return total, senders


def memory(box):
    """The program's resident MB, and of them the host stand-in's of the
    media engine: the GOPs it keeps and the pages of its encoder libraries."""
    kept = int(re.search(r"kept (\d+) bytes", box.sim("pad", "status").stdout).group(1))
    libs_kb, path = 0, ""
    with open(f"/proc/{box.app_pid()}/smaps") as f:
        for line in f:
            if re.match(r"[0-9a-f]+-[0-9a-f]+ ", line):
                path = line.split()[5] if len(line.split()) > 5 else ""
            elif line.startswith("Rss:") and STAND_IN_LIBS.search(path):
                libs_kb += int(line.split()[1])
    return {"rss": box.rss_mb(), "gops": kept / 2**20, "libs": libs_kb / 1024}


def dropped(box):
    m = re.search(r"venc 0:.* dropped (\d+)", box.sim("pad", "status").stdout)
    return int(m.group(1)) if m else 0


def figures(line):
    return {k: float(v) for k, v in re.findall(r"(\w+)=([\d.]+)", line)}


def play(groups, warm, window, frames=None):
    """Runs players (a list of (kind, n)) together; returns their figures
    and the program's CPU, skipped pictures and memory over the window."""
    procs = []
    for i, (kind, n) in enumerate(groups):
        cmd = [BIN, "play", URL, str(n), kind, str(warm + 2 * i), str(window)]
        if frames and i == 0:
            cmd.append(frames)
        procs.append(subprocess.Popen([boxlib.BOX, "lan", *cmd], stdout=subprocess.PIPE, text=True))
    first = procs[0]
    line = first.stdout.readline().strip()
    if line != "start":
        raise AssertionError(f"players did not start: {line!r}")
    t0, c0, d0 = time.monotonic(), cpu(PID), dropped(BOX)
    while line != "end":
        line = first.stdout.readline().strip()
        if not line:
            raise AssertionError("players ended early")
    t1, c1, d1 = time.monotonic(), cpu(PID), dropped(BOX)
    mem = memory(BOX)
    results = []
    for p in procs:
        out = p.stdout.read()   # not communicate(): it would miss what readline buffered
        p.wait(timeout=60)
        results.append(figures(out.strip().splitlines()[-1]))
    return results, {"cpu": c1[0] - c0[0], "send": c1[1] - c0[1], "skipped": d1 - d0, "seconds": t1 - t0,
                     "mem": mem}


def floor(kind, n, seconds, frames_in_box):
    """The bare sender in the box to n receivers on the LAN side."""
    sink = subprocess.Popen([boxlib.BOX, "lan", BIN, "sink", kind, str(n), str(SINK_PORT), str(seconds + 3)],
                            stdout=subprocess.PIPE, text=True)
    if sink.stdout.readline().strip() != "ready":
        raise AssertionError("the sink did not start")
    out = BOX.exec(BIN, "floor", kind, str(n), LAN_ADDR, str(SINK_PORT), str(seconds), frames_in_box,
                   timeout=seconds + 60)
    if out.returncode != 0:
        raise AssertionError(f"floor: {out.stderr}")
    got = figures(sink.stdout.read().strip().splitlines()[-1])
    sink.wait(timeout=60)
    return figures(out.stdout), got


def per_gbit(seconds, nbytes):
    return seconds / (nbytes * 8 / 1e9) if nbytes else float("nan")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--window", type=float, default=10)
    ap.add_argument("--warm", type=float, default=3)
    ap.add_argument("--loads", default=LOADS)
    args = ap.parse_args()
    global BOX, PID
    d = tempfile.mkdtemp()
    ini = os.path.join(d, "app.ini")
    with open(ini, "w") as f:
        f.write(INI)
    BOX = boxlib.Box(prefix="bench", ini=ini, mac=MAC)
    try:
        BOX.wait_log("avahi-daemon", timeout=30)
        BOX.sim("plug", "1920x1080p60")
        boxlib.wait_until(lambda: re.search(r"venc 0: .*GOP ready", BOX.sim("pad", "status").stdout) and
                          "not ready" not in BOX.sim("pad", "status").stdout, 180, "every channel's GOP")
        PID = BOX.app_pid()
        time.sleep(3)
        c0 = cpu(PID)[0]
        time.sleep(args.window)
        idle = (cpu(PID)[0] - c0) / args.window
        print(f"{time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, {platform.node()}, "
              f"{os.cpu_count()} cores, {platform.machine()}, kernel {platform.release()}")
        mem = memory(BOX)
        print(f"idle (source plugged, nobody watching): {idle * 100:.2f} % of a core, RSS {mem['rss']:.1f} MB, "
              f"of it the media stand-in {mem['gops'] + mem['libs']:.1f} MB (GOPs {mem['gops']:.1f} MB, "
              f"encoder libraries {mem['libs']:.1f} MB)")
        frames = os.path.join(d, "frames.txt")
        res, _ = play([("udp", 1)], args.warm, args.window, frames)
        with open(frames) as f, open(BOX.path("/tmp/frames.txt"), "w") as g:
            g.write(f.read())
        print(f"stream: {res[0]['min_mbps']:.2f} Mbit/s to one player")
        print()
        head = ("| load | Mbit/s each (min) | lost packets | skipped pictures | frames (min/expected) | "
                "jitter ms (mean/max) | program CPU-s/Gbit | sending threads CPU-s/Gbit | floor CPU-s/Gbit | "
                "program / floor | sending / floor | RSS MB (stand-in) |")
        print(head)
        print("|" + "---|" * (head.count("|") - 1))
        for load in args.loads.split(","):
            groups = [(g.split(":")[0], int(g.split(":")[1])) for g in load.split("+")]
            res, prog = play(groups, args.warm, args.window)
            nbytes = sum(r["bytes"] for r in res)
            kind, n = groups[0]
            fl, got = floor(kind, n, args.window, "/tmp/frames.txt")
            floor_gbit = per_gbit(fl["floor_cpu"], fl["floor_bytes"])
            prog_gbit, send_gbit = per_gbit(prog["cpu"], nbytes), per_gbit(prog["send"], nbytes)
            mbps = " / ".join(f"{r['min_mbps']:.2f}" for r in res)
            lost = " / ".join(f"{int(r['lost'])}" for r in res)
            fr = " / ".join(f"{int(r['min_frames'])}/{int(r['expected_frames'])}" for r in res)
            jit = " / ".join(f"{r['jitter_ms']:.2f}/{r['jitter_max_ms']:.2f}" for r in res)
            print(f"| {load} | {mbps} | {lost} | {prog['skipped']} | {fr} | {jit} | {prog_gbit:.3f} | "
                  f"{send_gbit:.3f} | {floor_gbit:.3f} (lost {int(got['lost'])}) | {prog_gbit / floor_gbit:.2f} | "
                  f"{send_gbit / floor_gbit:.2f} | {prog['mem']['rss']:.1f} "
                  f"({prog['mem']['gops'] + prog['mem']['libs']:.1f}) |", flush=True)
    finally:
        BOX.down()


if __name__ == "__main__":
    main()
