#!/usr/bin/python3
"""Time from plugging a source into a running box to the first picture a
player on the LAN can decode.

  bench/plug_to_frame.py [--mode 1920x1080p60] [--runs 5] [--stream main]

Starts a box of its own, lets the receiver settle with its EDID preset,
and plugs the source once so that the media stand-in has encoded its GOP
for the size (the board's encoder needs no such warm-up). Then, per run,
a player is already trying on the LAN side when the source is plugged: a
plain RTSP client over TCP that asks SETUP until the stream has a
signal, plays it and waits for the first whole key frame, and, after it,
ffmpeg, which ends at its first decoded picture. Reported per run, in
seconds after the plug: the stream's first 200 SETUP (503 before the
signal), its first RTP packet, the first whole key frame, and ffmpeg's
first decoded picture; then, for each, the median, the spread and every
run's figure, since a player gets its first key frame either with the
signal or a GOP later.
Between runs the source is unplugged and the streams lose their signal.
Run as root from the checkout (boxes need namespaces); like the tests, on
a LAN of its own unless HDMIBOX_LAN names one."""

import argparse
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import boxlib  # noqa: E402

MAC = "02:00:00:00:23:b1"
ADDR = boxlib.default_ip(MAC)
KEY_TYPES = {"H265": (19, 20, 21), "H264": (5,)}


# ------------------------------------------------------------ the player

def request(sock, cseq, line, headers=""):
    sock.sendall(f"{line} RTSP/1.0\r\nCSeq: {cseq}\r\n{headers}\r\n".encode())
    data = b""
    while b"\r\n\r\n" not in data:
        part = sock.recv(4096)
        if not part:
            raise ConnectionError("closed")
        data += part
    head, _, body = data.partition(b"\r\n\r\n")
    length = re.search(rb"(?im)^content-length:\s*(\d+)", head)
    while length and len(body) < int(length.group(1)):
        body += sock.recv(4096)
    return int(head.split()[1]), head.decode(errors="replace"), body.decode(errors="replace")


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise ConnectionError("closed")
        data += part
    return data


def nal_types(codec, payload):
    """The NAL types a packet carries, and whether it starts a unit."""
    if codec == "H265":
        t = (payload[0] >> 1) & 0x3F
        if t == 49:                      # fragmentation unit
            return [payload[2] & 0x3F], bool(payload[2] & 0x80)
        return [t], True
    t = payload[0] & 0x1F
    if t == 28:
        return [payload[1] & 0x1F], bool(payload[1] & 0x80)
    return [t], True


def client(url, t_limit):
    """Tries until the stream plays and a whole key frame came; prints the
    monotonic times of the steps as JSON."""
    times = {}
    end = time.monotonic() + t_limit
    while time.monotonic() < end:
        try:
            sock = socket.create_connection((url.split("/")[2].split(":")[0], 554), timeout=5)
        except OSError:
            time.sleep(0.02)
            continue
        with sock:
            code, _, sdp = request(sock, 1, f"DESCRIBE {url}")
            codec = "H265" if "H265/90000" in sdp else "H264"
            code, head, _ = request(sock, 2, f"SETUP {url}/track1",
                                    "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
            session = re.search(r"(?im)^session:\s*([^;\r\n]+)", head)
            if code != 200 or not session:
                time.sleep(0.02)
                continue
            times["setup"] = time.monotonic()
            code, _, _ = request(sock, 3, f"PLAY {url}", f"Session: {session.group(1)}\r\n")
            if code != 200:
                continue
            times["play"] = time.monotonic()
            in_key = False
            try:
                while time.monotonic() < end:
                    head = read_exact(sock, 4)
                    if head[0] != 0x24:
                        raise ConnectionError("not a frame")
                    channel, length = head[1], int.from_bytes(head[2:], "big")
                    packet = read_exact(sock, length)
                    if channel != 0 or length < 14:
                        continue
                    times.setdefault("rtp", time.monotonic())
                    marker = bool(packet[1] & 0x80)
                    types, start = nal_types(codec, packet[12:])
                    if start and any(t in KEY_TYPES[codec] for t in types):
                        in_key = True
                    if in_key and marker:
                        times["key"] = time.monotonic()
                        print(json.dumps(times))
                        return
            except (ConnectionError, OSError):
                continue
    print(json.dumps(times))


def ffmpeg_player(url, t_limit):
    """Runs ffmpeg until it decodes one picture; prints the monotonic time."""
    end = time.monotonic() + t_limit
    while time.monotonic() < end:
        p = subprocess.run(["ffmpeg", "-nostdin", "-v", "quiet", "-rtsp_transport", "tcp", "-allowed_media_types", "video",
                            "-i", url, "-map", "0:v", "-frames:v", "1", "-f", "null", "-"],
                           capture_output=True, timeout=t_limit)
        if p.returncode == 0:
            print(json.dumps({"ffmpeg": time.monotonic()}))
            return
        time.sleep(0.02)
    print(json.dumps({}))


# ------------------------------------------------------------ the box

def lan_player(kind, url, t_limit):
    me = os.path.abspath(__file__)
    return subprocess.Popen([boxlib.BOX, "lan", sys.executable, me, "--" + kind, url, "--limit", str(t_limit)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def setup_code(url):
    """The status of a SETUP of the video (0: none): 503 while the stream
    has no signal."""
    try:
        with socket.create_connection((url.split("/")[2].split(":")[0], 554), timeout=2) as s:
            return request(s, 1, f"SETUP {url}/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")[0]
    except (OSError, ConnectionError):
        return 0


def lan_setup_code(url):
    out = boxlib.lan(sys.executable, os.path.abspath(__file__), "--probe", url).stdout
    return int(out) if out.strip().isdigit() else 0


def run_once(box, mode, url, kind):
    """One plug with a player of that kind already trying: its times after
    the plug."""
    player = lan_player(kind, url, 30)
    time.sleep(0.5)                      # the player is up and asking
    boxlib.box("sim", box.name, "plug", mode)
    t_plug = time.monotonic()
    out, err = player.communicate(timeout=60)
    times = json.loads(out.strip().splitlines()[-1]) if out.strip() else {}
    boxlib.box("sim", box.name, "unplug")
    return {k: v - t_plug for k, v in times.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mode", default="1920x1080p60")
    ap.add_argument("--stream", default="main", choices=("main", "sub"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--client")
    ap.add_argument("--ffmpeg")
    ap.add_argument("--probe")
    ap.add_argument("--limit", type=float, default=30)
    args = ap.parse_args()
    if args.probe:
        return print(setup_code(args.probe))
    if args.client:
        return client(args.client, args.limit)
    if args.ffmpeg:
        return ffmpeg_player(args.ffmpeg, args.limit)

    url = f"rtsp://{ADDR}:554/live/{args.stream}/av_stream"
    box = boxlib.Box(prefix="plug", mac=MAC)
    try:
        boxlib.wait_until(lambda: re.search(r"^hpd high", box.sim("hdmirx").stdout, re.M), 20, "the EDID preset")
        t0 = time.monotonic()
        boxlib.box("sim", box.name, "plug", args.mode)
        warm = lan_player("client", url, 120).communicate(timeout=150)[0]
        print(f"warm-up (the stand-in encodes its GOP): {time.monotonic() - t0:.2f} s "
              f"{'ok' if 'key' in warm else 'no key frame'}")
        boxlib.box("sim", box.name, "unplug")
        rows = []
        for _ in range(args.runs):
            boxlib.wait_until(lambda: lan_setup_code(url) == 503, 10, "the stream to lose its signal")
            time.sleep(1.0)
            row = run_once(box, args.mode, url, "client")
            boxlib.wait_until(lambda: lan_setup_code(url) == 503, 10, "the stream to lose its signal")
            time.sleep(1.0)
            row.update(run_once(box, args.mode, url, "ffmpeg"))
            rows.append(row)
            print("  ".join(f"{k} {row[k]:.2f} s" if k in row else f"{k} -"
                            for k in ("setup", "rtp", "key", "ffmpeg")), flush=True)
        for k in ("setup", "rtp", "key", "ffmpeg"):
            vals = [r[k] for r in rows if k in r]
            if vals:
                print(f"{k}: median {statistics.median(vals):.2f} s, min {min(vals):.2f} s, "
                      f"max {max(vals):.2f} s over {len(vals)} runs; each: "
                      + " ".join(f"{v:.2f}" for v in sorted(vals)))
    finally:
        box.down()


if __name__ == "__main__":
    main()
