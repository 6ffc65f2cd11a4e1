"""What the supervisor and the snapshot service show from outside a box:
snapshots fetched from the LAN, HDCP announcements in the main stream, the
address file, the web server and the SSH and telnet daemons as their
stand-ins record them."""

import json
import os
import re
import subprocess
import tempfile
import time
import unittest

from boxlib import BOX, BoxTest, default_ip, lan, wait_until
from snapclient import picture

HERE = os.path.dirname(os.path.abspath(__file__))
JPEG_SIZE = (240, 240)   # the snapshot channel's picture
SNAP_CAP_PER_ADDR = 10   # replies a second to one address


def snap(addr, rate=0, seconds=0):
    """Runs the LAN snapshot client: {"sent", "replies", "last" (bytes)}."""
    p = lan("python3", os.path.join(HERE, "snapclient.py"), addr, str(rate), str(seconds),
            timeout=seconds + 30, check=True)
    got = json.loads(p.stdout)
    got["last"] = bytes.fromhex(got["last"])
    return got


def jpeg_size(data):
    """(width, height) of the JPEG as ffprobe decodes it."""
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(data)
        f.flush()
        p = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height",
                            "-of", "json", f.name], capture_output=True, text=True, check=True)
    stream = json.loads(p.stdout)["streams"][0]
    assert stream["codec_name"] == "mjpeg", stream
    return stream["width"], stream["height"]


class PluggedTest(BoxTest):
    MAC = "02:00:00:00:18:01"
    ADDR = default_ip(MAC)

    def plugged(self):
        b = self.box(mac=self.MAC)
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1920x1080p60")
        wait_until(lambda: snap(self.ADDR)["last"], 20, "a snapshot reply")
        return b

    def test_snapshot_served_while_plugged_also_under_load(self):
        b = self.plugged()
        self.assertEqual(JPEG_SIZE, jpeg_size(picture(snap(self.ADDR)["last"])))
        # 1,000 requests a second from one address: ten replies a second
        # (the run spans three or four windows), and served again after.
        load = snap(self.ADDR, rate=1000, seconds=3)
        self.assertGreaterEqual(load["sent"], 2900)
        self.assertGreaterEqual(load["replies"], SNAP_CAP_PER_ADDR * 2, load)
        self.assertLessEqual(load["replies"], SNAP_CAP_PER_ADDR * 5, load)
        wait_until(lambda: snap(self.ADDR)["last"], 5, "a snapshot reply after the load")
        self.assertEqual(JPEG_SIZE, jpeg_size(picture(snap(self.ADDR)["last"])))
        self.assertIn("over the reply cap", b.log())

        b.sim("unplug")
        wait_until(lambda: not snap(self.ADDR)["last"], 10, "no reply without a source")
        self.assertFalse(os.path.exists(b.path("/tmp/snap.jpg")))

    def test_hdcp_changes_are_announced_in_the_main_stream(self):
        b = self.plugged()
        client = subprocess.Popen([BOX, "lan", "python3", os.path.join(HERE, "seiclient.py"), self.ADDR,
                                   "main/av_stream", "12"], stdout=subprocess.PIPE, text=True)
        self.addCleanup(client.kill)
        time.sleep(2)   # playing by then
        b.sim("hdcp", "on")
        time.sleep(4.5)
        b.sim("hdcp", "off")
        seen = json.loads(client.communicate(timeout=40)[0])
        on = [t for t, state in seen if state == 2]
        off = [t for t, state in seen if state == 1 and on and t > on[-1]]
        for name, times in (("on", on), ("off", off)):
            with self.subTest(name):
                # Five announcements: at 0, 1, 2 and 3 s, and once more right after.
                self.assertEqual(5, len(times), seen)
                self.assertAlmostEqual(3.0, times[-1] - times[0], delta=0.5)
                for a, b_ in zip(times[:3], times[1:4]):
                    self.assertAlmostEqual(1.0, b_ - a, delta=0.3)


class ServicesTest(BoxTest):
    def test_default_settings(self):
        """Address file, HTTP configuration and start, telnet stopped, SSH left running."""
        mac = "02:00:00:00:18:02"
        b = self.box(mac=mac)
        wait_until(lambda: os.path.exists(b.path("/tmp/sourceip")), 10, "the address file")
        self.assertEqual(default_ip(mac), b.read("/tmp/sourceip"))
        wait_until(lambda: "ss http start!" in b.read("/board/fifodeamon.log"), 10, "the web server start")
        self.assertNotIn("ss http stop!", b.read("/board/fifodeamon.log"))
        conf = b.read("/customer/config/lighttpd.conf")
        self.assertIn("server.port = 80\n", conf)
        self.assertNotIn("ssl.engine", conf)
        calls = b.calls()
        self.assertIn(["killall", "-9", "telnetd"], calls)
        self.assertFalse([c for c in calls if "dropbear" in c], calls)

    def test_https_and_ssh_off_from_the_settings(self):
        """HTTPS configured before the start; SSH switched off at once."""
        ini = self.ini("[netattr]\nhttpport = 8080\n[miscattr]\nhttps = 1\nssh = 0\n")
        b = self.box(ini=ini, mac="02:00:00:00:18:03")
        wait_until(lambda: ["killall", "-9", "dropbear"] in b.calls(), 10, "SSH stopped")
        self.assertIn(["killall", "-9", "telnetd"], b.calls())
        self.assertNotIn(["dropbear", "-r", "/customer/ssh/key/dropbear_rsa_host_key"], b.calls())
        wait_until(lambda: "ss http start!" in b.read("/board/fifodeamon.log"), 10, "the web server start")
        conf = b.read("/customer/config/lighttpd.conf")
        self.assertIn('ssl.engine = "enable"', conf)
        self.assertIn('$SERVER["socket"] == ":8080"', conf)


if __name__ == "__main__":
    unittest.main()
