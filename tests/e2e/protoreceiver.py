"""A receiver box on the LAN side of the boxes (run with 'tools/box lan'),
for requests that a box itself sends to the group. Reads a job as JSON on
standard input:
  "send": datagrams (base64 of their bytes) sent to the group first,
  "answer": {command: body members (a JSON object) or null for a
             "failure"}: how to answer the box's requests,
  "delay": seconds to wait before answering,
  "wait": seconds to listen.
Prints {"requests": [{"text": ..., "at": seconds}], "answered": [seconds]}:
the box's requests and when each answer left, from the first send."""

import base64
import json
import socket
import struct
import sys
import time

import protoclient

MY_ID = "7e7e7e7e7e7e"


def answer(request, body, device_id=MY_ID):
    """The reply text to a request: "ack" then the body members."""
    head = json.loads(request)["request"]
    reply = {"ack": {"cmd": head["cmd"], "status": "success" if body is not None else "failure",
                     "hostid": head["hostid"], "deviceid": device_id, "seq": head.get("seq", 0)}}
    reply.update(body or {})
    return json.dumps(reply, indent="\t", separators=(",", ":\t"))


def main():
    job = json.load(sys.stdin)
    tx, _ = protoclient.sockets()
    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rx.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    rx.bind(("", protoclient.PORT))
    rx.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                  struct.pack("4s4s", socket.inet_aton(protoclient.GROUP),
                              socket.inet_aton(protoclient.LAN_ADDR)))
    start = time.monotonic()
    for chunk in job.get("send", []):
        tx.sendto(base64.b64decode(chunk), (protoclient.GROUP, protoclient.PORT))
    seen, answered = [], []
    end = start + job.get("wait", 3.0)
    while time.monotonic() < end:
        rx.settimeout(max(0.01, end - time.monotonic()))
        try:
            data, peer = rx.recvfrom(65536)
        except socket.timeout:
            break
        text = protoclient.unframe(data)
        try:
            cmd = json.loads(text)["request"]["cmd"]
        except (ValueError, KeyError, TypeError):
            continue
        if peer[0] == protoclient.LAN_ADDR:
            continue   # our own sends come back through the group
        seen.append({"text": text, "at": time.monotonic() - start})
        if cmd in job.get("answer", {}):
            time.sleep(job.get("delay", 0))
            tx.sendto(protoclient.frame(answer(text, job["answer"][cmd])), peer)
            answered.append(time.monotonic() - start)
    print(json.dumps({"requests": seen, "answered": answered}))


if __name__ == "__main__":
    main()
