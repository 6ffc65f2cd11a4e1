"""A raw RTP client for the LAN side (run with 'tools/box lan'): plays a
stream over RTSP interleaved on TCP for some seconds and prints, as JSON,
the private SEI units that carry the HDCP state: [[seconds, state], ...],
seconds from the PLAY reply, state as sent (the HDCP state + 1).

usage: seiclient.py HOST STREAM SECONDS"""

import json
import socket
import sys
import time

from lanclient import connect, rtsp_play_video, take

HDCP_MARK = 0xA5


def nal_units(payload):
    """The NAL units of one RTP payload: single units and STAP-A (H.264) or
    AP (H.265) aggregates; fragments are not SEI-sized and are skipped."""
    if not payload:
        return []
    h264_type, h265_type = payload[0] & 0x1F, (payload[0] >> 1) & 0x3F
    agg, skip = (24, 1) if h264_type == 24 else (48, 2) if h265_type == 48 else (None, 0)
    if agg is None:
        return [payload]
    units, i = [], skip
    while i + 2 <= len(payload):
        n = int.from_bytes(payload[i:i + 2], "big")
        units.append(payload[i + 2:i + 2 + n])
        i += 2 + n
    return units


def hdcp_state(nal):
    """The state of an HDCP SEI unit, else None."""
    if len(nal) >= 5 and nal[0] & 0x1F == 6 and nal[1:4] == bytes([0xFF, HDCP_MARK, 0]):
        return nal[4]
    if len(nal) >= 6 and (nal[0] >> 1) & 0x3F == 39 and nal[2:5] == bytes([0xFF, HDCP_MARK, 0]):
        return nal[5]
    return None


def main():
    host, stream, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    url = f"rtsp://{host}:554/live/{stream}"
    sock = connect(host, 554, 10)
    rtsp_play_video(sock, url, "RTP/AVP/TCP;unicast;interleaved=0-1")
    start = time.monotonic()
    seen = []
    sock.settimeout(1)
    while time.monotonic() - start < seconds:
        try:
            head = take(sock, 4)
        except socket.timeout:
            continue
        if len(head) < 4:
            break
        if head[0] != ord("$"):
            sys.exit(f"not interleaved data: {head!r}")
        body = take(sock, int.from_bytes(head[2:4], "big"))
        if head[1] != 0 or len(body) < 12:
            continue
        offset = 12 + 4 * (body[0] & 0x0F)
        if body[0] & 0x10:
            offset += 4 + 4 * int.from_bytes(body[offset + 2:offset + 4], "big")
        for nal in nal_units(body[offset:]):
            state = hdcp_state(nal)
            if state is not None:
                seen.append([round(time.monotonic() - start, 3), state])
    print(json.dumps(seen))


if __name__ == "__main__":
    main()
