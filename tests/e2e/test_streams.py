"""The RTSP streams of a box as the LAN sees them: both streams published at
start-up with the codecs of the settings and the multicast groups of the
device ID; an RTSP port that cannot be had ends the start-up."""

import json
import os
import shutil
import tempfile
import unittest

from boxlib import BoxTest, lan, wait_until

# Sends each request on one connection and prints the replies as JSON.
CLIENT = r"""
import json, socket, sys, time
host, reqs = sys.argv[1], json.loads(sys.argv[2])
end = time.monotonic() + 10
while True:
    try:
        s = socket.create_connection((host, 554), timeout=5)
        break
    except OSError:
        if time.monotonic() > end:
            raise
        time.sleep(0.2)
replies = []
for i, req in enumerate(reqs):
    s.sendall(req.replace("CSEQ", str(i + 1)).encode())
    data = b""
    while b"\r\n\r\n" not in data:
        data += s.recv(4096)
    head, _, body = data.partition(b"\r\n\r\n")
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            while len(body) < int(line.split(b":")[1]):
                body += s.recv(4096)
    replies.append((head + b"\r\n\r\n" + body).decode())
print(json.dumps(replies))
"""


def rtsp(host, *requests):
    """The replies to requests ("METHOD URL", header lines) sent from the LAN
    side on one connection."""
    reqs = [f"{line} RTSP/1.0\r\nCSeq: CSEQ\r\n{headers}\r\n" for line, headers in requests]
    out = lan("python3", "-c", CLIENT, host, json.dumps(reqs), timeout=30)
    if out.returncode != 0:
        raise AssertionError(out.stderr)
    return json.loads(out.stdout)


class StreamsTest(BoxTest):
    MAC = "02:00:00:00:08:11"
    ADDR = "169.254.18.8"   # link-local from the MAC: sixth byte + 1, fifth byte

    def ini(self, text):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d, True)
        path = os.path.join(d, "app.ini")
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_streams_carry_the_configured_codecs_and_groups(self):
        path = self.ini("[mainattr]\nenctype = 1\naudiocodec = 1\n[subattr]\nenctype = 0\naudiocodec = 0\n"
                        "[manualattr]\nid = 300\n")
        b = self.box(ini=path, mac=self.MAC)
        b.wait_log("avahi-daemon")
        main = f"rtsp://{self.ADDR}/live/main/av_stream"
        sub = f"rtsp://{self.ADDR}/live/sub/av_stream"
        multicast = "Transport: RTP/AVP;multicast\r\n"
        describe_main, setup_main, describe_sub, setup_sub = rtsp(
            self.ADDR, (f"DESCRIBE {main}", ""), (f"SETUP {main}/track1", multicast),
            (f"DESCRIBE {sub}", ""), (f"SETUP {sub}/track2", multicast))
        self.assertIn("a=rtpmap:98 H265/90000", describe_main)
        self.assertIn("MPEG4-GENERIC/48000/2", describe_main)
        self.assertIn("a=rtpmap:96 H264/90000", describe_sub)
        self.assertIn("WAV/48000/2", describe_sub)
        self.assertRegex(setup_main, r"Transport: RTP/AVP;multicast;destination=234\.0\.101\.44;")
        self.assertRegex(setup_sub, r"Transport: RTP/AVP;multicast;destination=234\.1\.101\.44;")
        log = b.log()
        self.assertIn("MAIN_Media_DefConifg: g_stConfigAttr.stMainAttr.u32Audiocodec 1", log)
        self.assertNotIn("MAIN_Media_Start failed", log)

    def test_rtsp_port_in_use_ends_the_start_up(self):
        b = self.box(mac="02:00:00:00:08:12", start=False)
        b.exec("sh", "-c", "python3 -c 'import socket, time\n"
               "s = socket.socket(); s.bind((\"0.0.0.0\", 554)); s.listen(); time.sleep(600)'"
               " >/dev/null 2>&1 &", check=True)
        b.start()
        wait_until(lambda: os.path.exists(b.path("/board/app.exit")), 15, "the program to end")
        self.assertEqual("255", b.read("/board/app.exit").strip())
        log = b.log()
        self.assertRegex(log, r"\]: RtspServer_Init failed!")
        self.assertRegex(log, r"\]: MAIN_RtspServer_StartStream failed with 0xffffffff!")
        self.assertNotIn("MAIN_Media_DefConifg", log)


if __name__ == "__main__":
    unittest.main()
