"""A LAN-side client that pipelines RTSP requests on many connections and
never reads a reply: connects COUNT times to HOST:554, sends OPTIONS until
the box takes no more, keeps the connections for SECONDS without reading,
and prints what it sent and how many connections the box closed meanwhile,
as JSON. The connections come in turn from the addresses FROM, when given.
Usage: pipeliner.py HOST COUNT SECONDS [FROM...]"""

import json
import select
import socket
import sys
import time


def main():
    host, count, seconds, sources = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4:]
    burst = b"".join(b"OPTIONS rtsp://%s/live/main/av_stream RTSP/1.0\r\nCSeq: %d\r\n\r\n" % (host.encode(), n)
                     for n in range(200))
    conns = []
    for n in range(count):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        if sources:
            s.bind((sources[n % len(sources)], 0))
        s.connect((host, 554))
        s.setblocking(False)
        conns.append(s)
    sent, idle = 0, 0
    while idle < 10 and sent < 1 << 30:
        before = sent
        for s in conns:
            try:
                while True:
                    sent += s.send(burst)
            except (BlockingIOError, ConnectionError):
                pass
        idle = idle + 1 if sent == before else 0
        time.sleep(0.05)
    print(json.dumps({"event": "stuck", "sent": sent}), flush=True)
    end, closed = time.monotonic() + seconds, set()
    poller = select.poll()
    for s in conns:
        poller.register(s, select.POLLRDHUP)
    while time.monotonic() < end and len(closed) < count:
        for fd, ev in poller.poll(200):
            if ev & (select.POLLRDHUP | select.POLLHUP | select.POLLERR):
                closed.add(fd)
                poller.unregister(fd)
    print(json.dumps({"event": "done", "sent": sent, "closed": len(closed)}), flush=True)


if __name__ == "__main__":
    main()
