"""The control protocol's stream, encoder, EDID and firmware commands as a
controller on the LAN uses them."""

import base64
import json
import os
import re
import subprocess
import unittest

import imagelib
import protoclient
from boxlib import BOX, BoxTest, default_ip, protocol_exchange, wait_until
from test_edid import blocks_whole, dtd, edid_ram, user_edid
from test_source import MAIN, Session, probe

CHUNK = 900   # raw bytes of one "update tx" datagram, well inside 1500 characters


def request(cmd, body=None, seq=1):
    return protoclient.frame(protoclient.request(cmd, ["All"], seq=seq, body=body))


def replies(datagrams, wait=1.0, rate=0):
    got, _ = protocol_exchange(datagrams, wait=wait, rate=rate)
    return [json.loads(text) for to, text in got if to == "sender"]


def receiver(seq, edid, delay=0.0):
    """A receiver box on the LAN asked to give its EDID for an "edid copy" to the box."""
    send = request("edid copy", {"txedid": {"rxid": 5}}, seq=seq)
    job = json.dumps({"send": [base64.b64encode(send).decode()], "wait": 3.0, "delay": delay,
                      "answer": {"edid get": {"rxedid": {"edid": base64.b64encode(bytes(edid)).decode()}}}})
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "protoreceiver.py")
    p = subprocess.run([BOX, "lan", "python3", script], input=job, capture_output=True, text=True,
                       timeout=60, check=True)
    return json.loads(p.stdout)


def tv_edid():
    """A 4K television, more than the box can take."""
    e = bytearray(256)
    e[:20] = b"\x00\xff\xff\xff\xff\xff\xff\x00\x4c\x2d\x7a\x0e" + bytes(6) + b"\x01\x03"   # "SAM"
    e[54:72] = bytes.fromhex("04 74 00 30 f2 70 5a 80 b0 58 8a 00 50 1d 74 00 00 1e")   # 3840x2160 30
    e[72:90] = bytes.fromhex("02 3a 80 18 71 38 2d 40 58 2c 45 00 50 1d 74 00 00 1e")   # 1920x1080 60
    e[90:108] = b"\x00\x00\x00\xfc\x00SAMSUNG\n     "
    e[126] = 1
    blocks = (bytes([0x45, 16, 4, 97, 95, 93]) +                  # video: 1080p, 720p, 2160p60/30/24
              bytes([0x23, 0x0f, 0x7f, 0x07]) +                   # audio: LPCM 8 ch
              bytes([0x6b, 0x03, 0x0c, 0x00, 0x10, 0x00, 0x78, 0x3c, 0x20, 0x00, 0x80, 0x01]) +
              bytes([0x67, 0xd8, 0x5d, 0xc4, 0x01, 0x78, 0x80, 0x03]))   # HF-VSDB: 600 MHz
    e[128:132 + len(blocks)] = bytes([0x02, 0x03, 4 + len(blocks), 0xf0]) + blocks
    for at in (127, 255):
        e[at] = (-sum(e[at - 127:at])) % 256
    return bytes(e)


def video_vics(edid):
    at, end = 132, 128 + edid[130]
    while at < end:
        tag, n = edid[at] >> 5, edid[at] & 31
        if tag == 2:
            return [v & 0x7f for v in edid[at + 1:at + 1 + n]]
        at += 1 + n
    return []


class ProtocolMediaTest(BoxTest):

    def ini_value(self, b, key):
        m = re.search(rf'^{key}\s*=\s*"?([^"\s]*)', b.read("/etc/app.ini"), re.M)
        return m.group(1) if m else None

    def test_stream_get_and_codec_switch(self):
        b = self.box(mac="02:00:00:00:70:01", ini=self.ini("[manualattr]\nid = 300\n"))
        addr = default_ip("02:00:00:00:70:01")
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1920x1080p60", "yuv422")
        b.wait_log(r"MAIN_AVSource_MsgProc: clear connect status", timeout=10)
        b.wait_log(r"avahi-daemon", timeout=15)   # the protocol server is up
        # The colour space comes with the source's AVI infoframe, a moment after the lock.
        wait_until(lambda: [r["txparams"]["videoresstatus"] for r in replies([request("config get tx params")])]
                   == ["1920*1080P60 YCBCR422"], 5, "the timing text with the colour space")
        [reply] = replies([request("stream get")])
        self.assertEqual("success", reply["ack"]["status"])
        self.assertEqual([(f"rtsp://{addr}:554/live/main/av_stream", "true", "1920", "1080", "234.0.101.44", 0),
                          (f"rtsp://{addr}:554/live/sub/av_stream", "true", "640", "360", "234.1.101.44", 0)],
                         [(s["url"], s["status"], s["width"], s["height"], s["rtspmip"], s["hdcp"])
                          for s in reply["stream"]])

        wait_until(lambda: "video" in [s["codec_type"] for s in probe(addr, MAIN)], 20, "pictures")
        params = {"enctype": "H264", "encres": "3", "fps": "60", "ratecontrol": "VBR", "bitrate": "8000",
                  "audioinput": "0", "audiocodec": "PCM", "audiofreq": "48000", "audiobitrate": "128000"}
        for codec, name, stored in (("H264", "h264", "0"), ("H265", "hevc", "1")):
            with self.subTest(codec=codec):
                params["enctype"] = codec
                protocol_exchange([request("config set tx params", {"txparams": params})], wait=0.5)
                wait_until(lambda: name in [s["codec_name"] for s in probe(addr, MAIN)
                                            if s["codec_type"] == "video"], 20, f"{name} in the main stream")
                wait_until(lambda: self.ini_value(b, "enctype") == stored, 5, "the stored codec")
        self.assertNotIn("HI_Media_Venc_CreateChn failed", b.log())

        # Values the encoder cannot run are refused, not applied nor stored:
        # a player keeps getting pictures.
        player = Session(addr)
        try:
            wait_until(lambda: player.frames > 0, 20, "a playing player")
            bad = [dict(params, bitrate=v) for v in ("0", "-1", "4294967295")] + [dict(params, fps="0")]
            protocol_exchange([request("config set tx params", {"txparams": p}) for p in bad], wait=0.5)
            b.wait_log(r"config set tx params: videobitrate \d+ out of 64\.\.100000, refused")
            frames = player.frames
            wait_until(lambda: player.frames > frames + 10, 10, "more pictures")
        finally:
            player.close()
        self.assertEqual(("8000", "60"), (self.ini_value(b, "videobitrate"), self.ini_value(b, "fps")))
        self.assertNotIn("MI_VENC_SetChnAttr failed", b.log())

    def upload(self, image, skip=(), between=None):
        """Sends the image in "update tx" chunks; the replies' statuses.
        between: (n, count text, bytes), one more chunk sent after chunk n,
        its status last."""
        chunks = [image[i:i + CHUNK] for i in range(0, len(image), CHUNK)]

        def datagram(seq, count, chunk):
            text = protoclient.request("update tx", ["All"], seq=seq,
                                       body={"count": count, "length": str(len(chunk))})
            return protoclient.frame(text.encode() + b"\r\n" + chunk)

        datagrams = []
        for n, chunk in enumerate(chunks, 1):
            if n not in skip:
                datagrams.append(datagram(n, str(16384 if n == len(chunks) else n), chunk))
            if between and between[0] == n:
                datagrams.append(datagram(len(chunks) + 1, between[1], between[2]))
        got = replies(datagrams, wait=3.0, rate=100)
        return [r["ack"]["status"] for r in sorted(got, key=lambda r: r["ack"]["seq"])]

    def test_edid_set_and_copy_then_firmware(self):
        b = self.box(mac="02:00:00:00:70:02")
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.wait_log(r"avahi-daemon", timeout=15)
        tv = tv_edid()

        def loaded(differs_from):
            return wait_until(lambda: (lambda e: e != differs_from and e)(edid_ram(b.sim("hdmirx").stdout)),
                              10, "a new EDID in the receiver")

        before = edid_ram(b.sim("hdmirx").stdout)
        protocol_exchange([request("edid set", {"txedid": {"edid": base64.b64encode(tv).decode()}})], wait=0.5)
        ram = loaded(before)
        self.assertEqual(tv[8:12], ram[8:12])
        self.assertTrue(blocks_whole(ram))
        self.assertLessEqual(dtd(ram, 54)[0], 1920)
        self.assertFalse({93, 95, 97} & set(video_vics(ram)), video_vics(ram))
        self.assertIn(16, video_vics(ram))
        wait_until(lambda: self.ini_value(b, "rxedid") == ram.hex(), 5, "the stored EDID")
        self.assertEqual("6", self.ini_value(b, "edidindex"))

        # A receiver with a broken EDID is refused: nothing changes.
        broken = bytearray(user_edid())
        broken[127] ^= 0x55
        self.assertEqual(1, len(receiver(2, broken)["requests"]))
        self.assertRegex(b.wait_log(r"\]edid wrong").group(0), "edid wrong")
        self.assertEqual(ram, edid_ram(b.sim("hdmirx").stdout))

        # One that answers at once is taken within the box's 1 s.
        head = json.loads(receiver(3, user_edid(), delay=0.3)["requests"][0]["text"])["request"]
        self.assertEqual(("edid get", [{"id": "5"}], "020000007002"),
                         (head["cmd"], head["device"], head["hostid"]))
        copied = loaded(ram)
        self.assertEqual(user_edid()[54:72], copied[54:72])
        wait_until(lambda: self.ini_value(b, "rxedid") == copied.hex(), 5, "the copied EDID stored")

        # One that answers too late is not.
        receiver(4, tv, delay=1.3)
        b.wait_log(r"Protocol_client_getDecodeEdid err!")
        self.assertEqual(copied, edid_ram(b.sim("hdmirx").stdout))

        # A firmware image in chunks: a bad or incomplete one is not written.
        addr = 0x200000
        payload = imagelib.data(20000, 11)
        image = imagelib.build([("rootfs", payload, addr)])

        def flash():
            with open(b.path("/board/flash.img"), "rb") as f:
                f.seek(addr)
                return f.read(len(payload))

        corrupted = bytearray(image)
        corrupted[3000] ^= 0x01
        statuses = self.upload(bytes(corrupted))
        self.assertEqual(["success"] * (len(statuses) - 1) + ["failure"], statuses)
        statuses = self.upload(image, skip={len(image) // CHUNK})        # the tail's chunk missing
        self.assertEqual("failure", statuses[-1])
        self.assertEqual(b"\xff" * len(payload), flash())
        self.assertNotIn(["board-reset"], b.calls())

        statuses = self.upload(image)
        self.assertEqual(["success"] * len(statuses), statuses)
        self.assertEqual(payload, flash())
        b.wait_reset()

    def test_a_chunk_number_past_32_bits_leaves_the_upload_alone(self):
        b = self.box(mac="02:00:00:00:70:03")
        b.wait_log(r"avahi-daemon", timeout=15)
        addr = 0x200000
        payload = imagelib.data(20000, 13)
        image = imagelib.build([("rootfs", payload, addr)])
        # 2^32 + 1 is no chunk 1: the upload under way goes on, the image whole.
        statuses = self.upload(image, between=(3, "4294967297", b"0123456789"))
        self.assertEqual(["success"] * (len(statuses) - 1) + ["failure"], statuses)
        b.wait_log(r"\]: count out of range")
        with open(b.path("/board/flash.img"), "rb") as f:
            f.seek(addr)
            self.assertEqual(payload, f.read(len(payload)))
        b.wait_reset()


if __name__ == "__main__":
    unittest.main()
