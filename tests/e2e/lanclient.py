"""A TCP client for the LAN side of the boxes (run with 'tools/box lan').

Reads a job as JSON on standard input: host, port, "send" (base64 chunks,
sent one after the other), "ack" (bytes to read after each chunk), "pause"
(seconds before the last read), "read" (bytes of the last read), timeout.
Prints {"acks": [...], "read": ...} with base64 texts."""

import base64
import json
import socket
import sys
import time


def take(sock, n):
    """Reads until n bytes came or the peer closed."""
    got = b""
    while len(got) < n:
        part = sock.recv(n - len(got))
        if not part:
            break
        got += part
    return got


def connect(host, port, timeout):
    """Connects, trying again while the box is not there yet."""
    end = time.monotonic() + timeout
    while True:
        try:
            return socket.create_connection((host, port), timeout=timeout)
        except OSError:
            if time.monotonic() > end:
                raise
            time.sleep(0.1)


def main():
    job = json.load(sys.stdin)
    s = connect(job["host"], job["port"], job.get("timeout", 10))
    acks = []
    for chunk in job["send"]:
        s.sendall(base64.b64decode(chunk))
        if job.get("ack"):
            acks.append(base64.b64encode(take(s, job["ack"])).decode())
    time.sleep(job.get("pause", 0))
    rest = take(s, job.get("read", 0))
    print(json.dumps({"acks": acks, "read": base64.b64encode(rest).decode()}))


if __name__ == "__main__":
    main()
