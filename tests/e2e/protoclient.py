"""A control-protocol client for the LAN side of the boxes (run with
'tools/box lan').

usage: protoclient.py [--body JSON] [--wait S] COMMAND [ID...]
       protoclient.py --job

The first form sends one request, COMMAND to the boxes with the ids given
(a device id, "All", "All_TX" or a numeric id; "All" when none), with the
members of the JSON object of --body added to it, and prints the JSON text
of every reply that comes within --wait seconds (default 1). Commands
answered with a reply are the getters ("config get device", "config get
id", "config get tx params", "config get net params", "stream get", ...);
setters take effect without one.

With --job it reads a job as JSON on standard input:
  "send": datagrams (base64 of their bytes) sent to the group's request port,
  "rate": datagrams a second (0: as fast as the socket takes them),
  "wait": seconds to listen after the last one.
and prints {"replies": [{"to": "group"|"sender", "data": base64}...], "sent": n,
"last_reply": seconds from the first send to the last reply}.
Replies come to the group's reply port (joined here) or to this sender's
own port."""

import argparse
import base64
import json
import selectors
import socket
import struct
import sys
import time

GROUP = "239.255.255.250"
PORT = 8002
LAN_ADDR = "169.254.0.1"   # the LAN side's address on the bridge


def frame(text):
    """A datagram as the protocol frames it: the text (or bytes), 1 to 4
    zeros, base64."""
    data = text if isinstance(text, bytes) else text.encode()
    n = (len(data) + 4) // 4 * 4
    return base64.b64encode(data + bytes(n - len(data)))


def unframe(data):
    """The JSON text of a datagram: decoded up to the first zero byte."""
    m = data.find(b"\0")
    chars = data if m < 0 else data[:m]
    chars = chars + b"=" * (-len(chars) % 4)
    return base64.b64decode(chars).split(b"\0")[0].decode()


def request(cmd, ids, hostid="5e5e5e5e5e5e", seq=1, body=None, formatted=True):
    """The JSON text of a request in the protocol's print."""
    obj = {"request": {"cmd": cmd, "hostid": hostid, "seq": seq, "device": [{"id": i} for i in ids]}}
    obj.update(body or {})
    if not formatted:
        return json.dumps(obj, separators=(",", ":"))
    return json.dumps(obj, indent="\t", separators=(",", ":\t"))


def sockets():
    """The sender's socket and the one joined to the group's reply port."""
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    tx.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(LAN_ADDR))
    tx.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
    tx.bind((LAN_ADDR, 0))
    grp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    grp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    grp.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
    grp.bind(("", PORT + 1))
    grp.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                   struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(LAN_ADDR)))
    return tx, grp


def run(job):
    tx, grp = sockets()
    sel = selectors.DefaultSelector()
    sel.register(tx, selectors.EVENT_READ, "sender")
    sel.register(grp, selectors.EVENT_READ, "group")
    replies = []
    last = [0.0]   # when the last reply came

    def drain(timeout):
        for key, _ in sel.select(timeout):
            data = key.fileobj.recv(65536)
            replies.append({"to": key.data, "data": base64.b64encode(data).decode()})
            last[0] = time.monotonic()

    rate = job.get("rate", 0)
    start = time.monotonic()
    sent = 0
    for i, chunk in enumerate(job["send"]):
        if rate:
            while time.monotonic() < start + i / rate:
                drain(max(0.0, start + i / rate - time.monotonic()))
        try:
            tx.sendto(base64.b64decode(chunk), (GROUP, PORT))
            sent += 1
        except OSError:
            pass   # a flood may fill the socket: counted as not sent
        drain(0)
    end = time.monotonic() + job.get("wait", 1.0)
    while time.monotonic() < end:
        drain(end - time.monotonic())
    return {"replies": replies, "sent": sent, "last_reply": max(last[0] - start, 0.0)}


def json_object(text):
    try:
        obj = json.loads(text)
    except ValueError:
        obj = None
    if not isinstance(obj, dict):
        raise argparse.ArgumentTypeError(f"not a JSON object: {text}")
    return obj


def parse_args(argv):
    """The command line; exits with the usage on what it does not take."""
    usage, text = __doc__.split("usage: ", 1)[1].split("\n\n", 1)
    p = argparse.ArgumentParser(prog="protoclient.py", usage=usage, description=text,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--job", action="store_true", help="read a job as JSON on standard input")
    p.add_argument("--body", type=json_object, default={}, metavar="JSON", help="members added to the request")
    p.add_argument("--wait", type=float, default=1.0, metavar="S", help="seconds to wait for replies")
    p.add_argument("command", nargs="?", metavar="COMMAND", help="the request's command")
    p.add_argument("ids", nargs="*", metavar="ID", help="the boxes it is for")
    args = p.parse_args(argv)
    if args.job == (args.command is not None):
        p.error("give either --job or a COMMAND")
    return args


def main(argv):
    args = parse_args(argv)
    if args.job:
        try:
            job = json.load(sys.stdin)
        except ValueError:
            job = None
        if not isinstance(job, dict) or not isinstance(job.get("send"), list):
            sys.exit('protoclient.py: --job takes a JSON object with a "send" list on standard input')
        print(json.dumps(run(job)))
        return
    datagram = frame(request(args.command, args.ids or ["All"], body=args.body))
    got = run({"send": [base64.b64encode(datagram).decode()], "wait": args.wait})
    for r in got["replies"]:
        print(f"-- to the {r['to']}:\n{unframe(base64.b64decode(r['data']))}")


if __name__ == "__main__":
    main(sys.argv[1:])
