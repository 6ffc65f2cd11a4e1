"""An RTP receiver for the LAN side (run with 'tools/box lan') shaped like
a player with its default socket: plays a stream's video over RTSP with
UDP transport into a socket whose receive buffer is left as the system
sets it, or set to RCVBUF bytes, and reads it as packets come (DRAIN_MS 0)
or empties it every DRAIN_MS, as a player's thread busy with other work
would. Prints, as JSON, the RTP packets received, the sequence numbers
lost, the units of more than 64 packets (key frames) seen and the
effective receive buffer.

usage: rtploss.py HOST STREAM SECONDS [RCVBUF [DRAIN_MS]]"""

import json
import socket
import sys
import time

from lanclient import connect, rtsp_play_video, rtsp_request

BIG_UNIT = 64   # packets: only key frames are this large


def rtp_socket(rcvbuf):
    """A bound RTP socket on an even port, and its RTCP neighbour."""
    while True:
        rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if rcvbuf:
            rtp.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        rtp.bind(("0.0.0.0", 0))
        port = rtp.getsockname()[1]
        if port % 2 == 0:
            rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                rtcp.bind(("0.0.0.0", port + 1))
                return rtp, rtcp, port
            except OSError:
                rtcp.close()
        rtp.close()


class Counter:
    """Sequence gaps and the sizes of units (packets between markers)."""

    def __init__(self):
        self.packets = self.lost = self.big = self.unit = 0
        self.next = None

    def take(self, pkt):
        if len(pkt) < 12:
            return
        seq = int.from_bytes(pkt[2:4], "big")
        if self.next is not None:
            gap = (seq - self.next) & 0xFFFF
            if gap < 0x8000:   # a late or repeated packet is not a loss
                self.lost += gap
                self.unit += gap
        self.next = (seq + 1) & 0xFFFF
        self.packets += 1
        self.unit += 1
        if pkt[1] & 0x80:
            self.big += self.unit > BIG_UNIT
            self.unit = 0


def main():
    host, stream, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    rcvbuf = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    drain = float(sys.argv[5]) / 1000 if len(sys.argv) > 5 else 0
    url = f"rtsp://{host}:554/live/{stream}"
    rtp, rtcp, port = rtp_socket(rcvbuf)
    sock = connect(host, 554, 10)
    session = rtsp_play_video(sock, url, f"RTP/AVP;unicast;client_port={port}-{port + 1}")
    if drain:
        rtp.setblocking(False)
    else:
        rtp.settimeout(0.2)
    count = Counter()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        time.sleep(drain)
        while time.monotonic() < end:
            try:
                count.take(rtp.recv(2048))
            except (BlockingIOError, socket.timeout):
                break
    rtsp_request(sock, f"TEARDOWN {url}", 4, f"Session: {session}\r\n")
    print(json.dumps({"packets": count.packets, "lost": count.lost, "key_frames": count.big,
                      "rcvbuf": rtp.getsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF)}))


if __name__ == "__main__":
    main()
