"""A box of tools/run beside a test run, on a host of its own: run as
'unshare --mount --propagation private python3 besiderun.py' without
HDMIBOX_LAN, so that /run (the harness's state, the named LANs) is this
process's only.

Starts tools/run (the default LAN), then a run killed while its box was up,
then a test run with a box of the same MAC that sets the alias of "All"
and asks for every device. Prints as JSON what tools/run printed as its
address, the replies the test run got, what the box of tools/run answers
afterwards on its LAN, and the harness's LANs and state left once all
ended."""

import json
import os
import re
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BOX = os.path.join(ROOT, "tools", "box")
RUN_MAC = "02:00:00:00:0a:0b"   # the MAC tools/run gives its box
ALIAS = "from-the-tests"

TEST_RUN = f"""
import json, sys
from boxlib import Box, protocol_exchange
from protoclient import frame, request
Box(mac={RUN_MAC!r}).wait_log(r"\\]: avahi-daemon", timeout=20)
if sys.argv[1] == "killed":
    print("up", flush=True)
    sys.stdin.read()
replies, _ = protocol_exchange([
    frame(request("config set alias", ["All"], seq=1, body={{"alias": {{"name": {ALIAS!r}}}}})),
    frame(request("config get device", ["All"], seq=2))])
print(json.dumps([json.loads(text) for _, text in replies]))
"""


def test_run(how, **kw):
    return subprocess.Popen([sys.executable, "-c", TEST_RUN, how], cwd=HERE, stdout=subprocess.PIPE,
                            text=True, env=dict(os.environ, PYTHONPATH=HERE), **kw)


def main():
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)
    tx = subprocess.Popen([os.path.join(ROOT, "tools", "run")], stdout=subprocess.PIPE, text=True,
                          start_new_session=True)
    addr = None
    try:
        for line in tx.stdout:
            m = re.search(r"main stream: rtsp://([\d.]+):554/", line)
            if m:
                addr = m.group(1)
                break
        if addr is None:
            sys.exit("besiderun: tools/run printed no address")
        killed = test_run("killed", stdin=subprocess.PIPE)
        killed.stdout.readline()
        killed.kill()
        killed.wait()
        test = test_run("test")
        got = json.loads(test.communicate(timeout=120)[0])
        seen = subprocess.run([BOX, "lan", "python3", os.path.join(HERE, "protoclient.py"), "config get device"],
                              capture_output=True, text=True, timeout=60).stdout
        replies = [json.loads(text) for text in seen.split("-- to the group:\n")[1:]]
    finally:
        os.killpg(tx.pid, signal.SIGINT)
        tx.wait(timeout=60)
    left = sorted(os.listdir("/run/netns")) + sorted(n for n in os.listdir("/run") if n.startswith("hdmibox-"))
    print(json.dumps({"addr": addr, "test_replies": got, "run_replies": replies, "left": left}))


def drop_all():
    """What a failed run left behind must not outlive this host of its own."""
    names = os.listdir("/run") + (os.listdir("/run/netns") if os.path.isdir("/run/netns") else [])
    for word in {m.group(1) for m in map(re.compile(r"hdmibox-(?:lan-)?(auto\d+).*").fullmatch, names) if m}:
        subprocess.run([BOX, "drop-lan"], env=dict(os.environ, HDMIBOX_LAN=word), check=False)


if __name__ == "__main__":
    try:
        main()
    finally:
        drop_all()
