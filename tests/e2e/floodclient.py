"""A flooding TCP client for the LAN side (run with 'tools/box lan'):
connects to each port of a box and sends zeros as fast as the box takes
them for some seconds, all ports at once; prints as JSON the bytes each
port took.

usage: floodclient.py HOST SECONDS PORT..."""

import json
import socket
import sys
import threading
import time


def flood(host, port, seconds, sent):
    chunk = bytes(65536)
    s = socket.create_connection((host, port), timeout=10)
    s.settimeout(0.2)
    end = time.monotonic() + seconds
    sent[port] = 0
    while time.monotonic() < end:
        try:
            sent[port] += s.send(chunk)
        except socket.timeout:
            pass   # a slow relay: its device sets the pace
    s.close()


def main():
    host, seconds, ports = sys.argv[1], float(sys.argv[2]), [int(p) for p in sys.argv[3:]]
    sent = {}
    threads = [threading.Thread(target=flood, args=(host, port, seconds, sent)) for port in ports]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(json.dumps(sent))


if __name__ == "__main__":
    main()
