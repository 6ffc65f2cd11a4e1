"""A snapshot client for the LAN side (run with 'tools/box lan').

usage: snapclient.py HOST RATE SECONDS
       snapclient.py HOST --jpeg FILE

The first form sends "ss get snap!" to a box's port 6888 at a rate for some
seconds, then once more, and prints as JSON the number of requests sent and
replies taken during the run and the last reply in hex ("" when none came
in 1 s). The second asks once and writes the picture of the reply to FILE.

A reply is the bytes 00 00 FE FE, the length E of the encrypted head and the
reply's total length (both 32 bits, little-endian), the JPEG's first 128
bytes encrypted with AES-128-CBC (PKCS #7 padding: E is 144; the key and
initialisation vector below), then the rest of the JPEG as it is."""

import json
import socket
import subprocess
import sys
import time

PORT = 6888
REQUEST = b"ss get snap!"
KEY = b"Qv7#pLm2Xr9!tB4w"
IV = b"Hk3%zN8qW&5e^Ry1"


def picture(reply):
    """The JPEG a reply carries: its head decrypted, then the rest."""
    magic, enc_len, total = reply[:4], int.from_bytes(reply[4:8], "little"), int.from_bytes(reply[8:12], "little")
    assert magic == b"\x00\x00\xfe\xfe", magic
    assert enc_len == 144 and total == len(reply), (enc_len, total, len(reply))
    head = subprocess.run(["openssl", "enc", "-d", "-aes-128-cbc", "-K", KEY.hex(), "-iv", IV.hex()],
                          input=reply[12:12 + enc_len], capture_output=True, check=True).stdout
    assert len(head) == 128, len(head)
    return head + reply[12 + enc_len:]


def save_jpeg(host, path):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(1)
    sock.sendto(REQUEST, (host, PORT))
    try:
        reply = sock.recv(70000)
    except socket.timeout:
        sys.exit(f"snapclient.py: no snapshot from {host} in 1 s (nothing plugged in?)")
    with open(path, "wb") as f:
        f.write(picture(reply))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    if sys.argv[2] == "--jpeg":
        save_jpeg(sys.argv[1], sys.argv[3])
        return
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
