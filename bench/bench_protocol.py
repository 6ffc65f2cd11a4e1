"""Requests answered per second by the control protocol server, from the
LAN side of a box: "config get device" sent to the group at fixed rates and
as fast as the client can, its replies counted on the group's reply port.
Beside each rate: the loss and the server's CPU per second of load (its
process's user and system time over the run), so the one-core budget shows.

Run after a build (on a LAN of its own unless HDMIBOX_LAN names one):
    python3 bench/bench_protocol.py"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from boxlib import Box, protocol_exchange   # noqa: E402
from protoclient import frame, request      # noqa: E402

MAC = "02:00:00:00:15:02"
SECONDS = 3
RATES = (500, 1000, 2000, 5000, 0)   # 0: as fast as the client sends


def cpu_seconds(box):
    """User and system time of the box's program so far."""
    fields = box.exec("sh", "-c", "cat /proc/$(pidof app)/stat").stdout.rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    box = Box(prefix="bp", mac=MAC)
    try:
        box.wait_log(r"\]: avahi-daemon", timeout=20)
        probe = frame(request("config get device", ["All"]))
        print(f"{'rate/s':>8} {'sent':>7} {'answered':>9} {'loss %':>7} {'answered/s':>11} {'server CPU %':>13}")
        for rate in RATES:
            count = rate * SECONDS if rate else 20000
            cpu = cpu_seconds(box)
            replies, report = protocol_exchange([probe] * count, wait=1.0, rate=rate, timeout=300)
            busy = cpu_seconds(box) - cpu
            answered = sum(1 for where, _ in replies if where == "group")
            sending = max(report["last_reply"], 1e-3)
            loss = 100.0 * (report["sent"] - answered) / max(report["sent"], 1)
            print(f"{rate or 'max':>8} {report['sent']:>7} {answered:>9} {loss:>7.2f} "
                  f"{answered / sending:>11.0f} {100.0 * busy / sending:>13.1f}")
            time.sleep(0.5)
    finally:
        box.down()


if __name__ == "__main__":
    main()
