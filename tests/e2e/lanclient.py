"""A TCP client for the LAN side of the boxes (run with 'tools/box lan').

Reads a job as JSON on standard input: host, port, "send" (base64 chunks,
sent one after the other, "gap" seconds apart), "ack" (bytes to read
after each chunk, or "rtsp" for one RTSP reply with its body), "pause"
(seconds before the last read), "read" (bytes of the last read), "pauses"
(seconds slept after each "step" bytes of the last read, for a slow
reader), "rcvbuf" (the socket's receive buffer, bytes; 0 for the
system's), "bind" (the LAN-side address to connect from, "" for the
system's choice), timeout. Prints
{"acks": [...], "read": ...} with base64 texts."""

import base64
import json
import re
import socket
import sys
import time


def take(sock, n, quiet=False):
    """Reads until n bytes came or the peer closed; with quiet, also until
    none came for the socket's timeout (else that raises)."""
    got = b""
    try:
        while len(got) < n:
            part = sock.recv(n - len(got))
            if not part:
                break
            got += part
    except socket.timeout:
        if not quiet:
            raise
    return got


def rtsp_reply(sock):
    """One RTSP reply: its head, then as many body bytes as it announces."""
    data = b""
    while b"\r\n\r\n" not in data:
        part = sock.recv(4096)
        if not part:
            return data
        data += part
    head, _, body = data.partition(b"\r\n\r\n")
    length = re.search(rb"(?im)^content-length:\s*(\d+)", head)
    return data + take(sock, int(length.group(1)) - len(body) if length else 0)


def rtsp_request(sock, line, cseq, headers=""):
    """Sends one request and returns its reply; exits unless it is 200."""
    sock.sendall(f"{line} RTSP/1.0\r\nCSeq: {cseq}\r\n{headers}\r\n".encode())
    reply = rtsp_reply(sock).decode(errors="replace")
    if " 200 " not in reply.split("\r\n", 1)[0]:
        sys.exit(f"{line}: {reply!r}")
    return reply


def rtsp_play_video(sock, url, transport):
    """DESCRIBE, SETUP of the video track with that Transport value, PLAY;
    returns the session id."""
    sdp = rtsp_request(sock, f"DESCRIBE {url}", 1, "Accept: application/sdp\r\n")
    video = sdp[sdp.index("m=video"):]
    control = re.search(r"a=control:(\S+)", video).group(1)
    track = control if control.startswith("rtsp:") else f"{url}/{control}"
    setup = rtsp_request(sock, f"SETUP {track}", 2, f"Transport: {transport}\r\n")
    session = re.search(r"(?im)^session:\s*([^;\r\n]+)", setup).group(1)
    rtsp_request(sock, f"PLAY {url}", 3, f"Session: {session}\r\n")
    return session


def connect(host, port, timeout, rcvbuf=0, bind=""):
    """Connects, trying again while the box is not there yet."""
    end = time.monotonic() + timeout
    while True:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(timeout)
        if rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)   # before the window is offered
        try:
            if bind:
                s.bind((bind, 0))
            s.connect((host, port))
            return s
        except OSError:
            s.close()
            if time.monotonic() > end:
                raise
            time.sleep(0.1)


def main():
    job = json.load(sys.stdin)
    s = connect(job["host"], job["port"], job.get("timeout", 10), job.get("rcvbuf", 0), job.get("bind", ""))
    acks = []
    for chunk in job["send"]:
        s.sendall(base64.b64decode(chunk))
        if job.get("ack"):
            got = rtsp_reply(s) if job["ack"] == "rtsp" else take(s, job["ack"])
            acks.append(base64.b64encode(got).decode())
        time.sleep(job.get("gap", 0))
    time.sleep(job.get("pause", 0))
    rest = b""
    for pause in job.get("pauses", []):
        rest += take(s, job["step"])
        time.sleep(pause)
    rest += take(s, job.get("read", 0) - len(rest))
    print(json.dumps({"acks": acks, "read": base64.b64encode(rest).decode()}))


if __name__ == "__main__":
    main()
