"""Delivery under connections that pipeline requests and never read their
replies: the program's memory stays within a bound, a player is still
served, and each such connection is closed once its queue has not moved
for 10 s, though it sends nothing new."""

import json
import os
import re
import subprocess
import unittest

from boxlib import BOX, BoxTest, default_ip, lan, wait_until

PIPELINER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pipeliner.py")
CONNECTIONS = 200
RSS_BOUND_MB = 32   # for all of them: a few KiB of replies and the queue's bookkeeping each


class DeliveryTest(BoxTest):
    MAC = "02:00:00:00:22:11"
    ADDR = default_ip(MAC)

    def test_non_reading_pipeliners_are_bounded_and_closed(self):
        b = self.box(mac=self.MAC)
        b.wait_log("avahi-daemon")
        b.sim("plug", "1280x720p60")
        wait_until(lambda: "not ready" not in b.sim("pad", "status").stdout and
                   re.search(r"venc 1: .*GOP ready", b.sim("pad", "status").stdout), 120, "the GOPs")
        before = b.rss_mb()
        attack = subprocess.Popen([BOX, "lan", "python3", PIPELINER, self.ADDR, str(CONNECTIONS), "25"],
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


if __name__ == "__main__":
    unittest.main()
