"""A snapshot client for the LAN side (run with 'tools/box lan'): sends
"ss get snap!" to a box's port 6888 at a rate for some seconds, then once
more, and prints as JSON the number of requests sent and replies taken
during the run and the last reply in hex ("" when none came in 1 s).

usage: snapclient.py HOST RATE SECONDS"""

import json
import socket
import sys
import time

PORT = 6888
REQUEST = b"ss get snap!"


def main():
    host, rate, seconds = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
    sock.setblocking(False)
    sent = replies = 0
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        if sent < (time.monotonic() - start) * rate:
            sock.sendto(REQUEST, (host, PORT))
            sent += 1
        try:
            while True:
                sock.recv(70000)
                replies += 1
        except BlockingIOError:
            time.sleep(0.0005)
    time.sleep(0.5)
    try:
        while True:
            sock.recv(70000)
            replies += 1
    except BlockingIOError:
        pass
    sock.settimeout(1)
    sock.sendto(REQUEST, (host, PORT))
    try:
        last = sock.recv(70000).hex()
    except socket.timeout:
        last = ""
    print(json.dumps({"sent": sent, "replies": replies, "last": last}))


if __name__ == "__main__":
    main()
