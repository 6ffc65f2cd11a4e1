"""A control-protocol client for the LAN side of the boxes (run with
'tools/box lan'). Reads a job as JSON on standard input:
  "send": datagrams (base64 of their bytes) sent to the group's request port,
  "rate": datagrams a second (0: as fast as the socket takes them),
  "wait": seconds to listen after the last one.
Prints {"replies": [{"to": "group"|"sender", "data": base64}...], "sent": n,
"last_reply": seconds from the first send to the last reply}.
With arguments instead (a command and the ids it addresses), sends that one
request and prints the JSON text of every reply.
Replies come to the group's reply port (joined here) or to this sender's
own port."""

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


if __name__ == "__main__":
    if len(sys.argv) > 1:
        got = run({"send": [base64.b64encode(frame(request(sys.argv[1], sys.argv[2:] or ["All"]))).decode()]})
        for r in got["replies"]:
            print(f"-- to the {r['to']}:\n{unframe(base64.b64decode(r['data']))}")
    else:
        print(json.dumps(run(json.load(sys.stdin))))
