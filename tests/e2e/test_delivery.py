"""Delivery on one box with the shipped settings (main stream 20 Mbit/s):
under connections that pipeline requests and never read their replies the
program's memory stays within a bound, a player is still served, and each
such connection is closed once its queue has not moved for 10 s, though it
sends nothing new; and a UDP player with the system's default socket
buffer loses no packet of the key frames."""

import json
import os
import re
import subprocess
import unittest

from boxlib import BOX, Box, BoxTest, default_ip, lan, lan_address, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
PIPELINER = os.path.join(HERE, "pipeliner.py")
RTPLOSS = os.path.join(HERE, "rtploss.py")
CONNECTIONS = 200
SOURCES = [f"169.254.0.{n}" for n in range(4, 8)]   # each within the share one address may hold
RSS_BOUND_MB = 32   # for all of them: a few KiB of replies and the queue's bookkeeping each


class DeliveryTest(BoxTest):
    MAC = "02:00:00:00:22:11"
    ADDR = default_ip(MAC)

    @classmethod
    def setUpClass(cls):
        cls.b = Box(mac=cls.MAC)
        cls.addClassCleanup(cls.b.down)
        cls.b.wait_log("avahi-daemon")
        cls.b.sim("plug", "1280x720p60")
        wait_until(lambda: "not ready" not in cls.b.sim("pad", "status").stdout and
                   re.search(r"venc 1: .*GOP ready", cls.b.sim("pad", "status").stdout), 120, "the GOPs")

    def test_non_reading_pipeliners_are_bounded_and_closed(self):
        b = self.b
        for source in SOURCES:
            lan_address(self, source)
        before = b.rss_mb()
        attack = subprocess.Popen([BOX, "lan", "python3", PIPELINER, self.ADDR, str(CONNECTIONS), "25", *SOURCES],
                                  stdout=subprocess.PIPE, text=True)
        self.addCleanup(attack.kill)
        stuck = json.loads(attack.stdout.readline())
        self.assertGreater(stuck["sent"], CONNECTIONS * 64 * 1024)   # more than the socket buffers take
        self.assertLess(b.rss_mb() - before, RSS_BOUND_MB)
        probe = lan("ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-show_entries", "stream=codec_name",
                    "-of", "csv=p=0", f"rtsp://{self.ADDR}/live/sub/av_stream", timeout=60)
        self.assertRegex(probe.stdout, r"h264|hevc")
        done = json.loads(attack.stdout.readline())
        attack.wait(timeout=30)
        self.assertEqual(CONNECTIONS, done["closed"])
        self.assertLess(b.rss_mb() - before, RSS_BOUND_MB)

    def test_udp_player_with_default_buffer_loses_no_key_frame_packet(self):
        # A key frame of the main stream is some 128 packets, more than
        # such a socket holds (about 95): sent at once, they overrun it
        # even while it is read all the time.
        got = json.loads(lan("python3", RTPLOSS, self.ADDR, "main/av_stream", "8",
                             timeout=60, check=True).stdout)
        self.assertGreaterEqual(got["key_frames"], 5)
        self.assertEqual(0, got["lost"], got)


if __name__ == "__main__":
    unittest.main()
