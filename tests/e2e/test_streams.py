"""The RTSP streams of a box as the LAN sees them: both streams published at
start-up with the codecs of the settings and the multicast groups of the
device ID."""

import re
import unittest

from boxlib import BoxTest, default_ip, lan_client, wait_until

def rtsp(host, *requests):
    """The replies to requests ("METHOD URL", header lines) sent from the LAN
    side on one connection."""
    reqs = [f"{line} RTSP/1.0\r\nCSeq: {n + 1}\r\n{headers}\r\n".encode()
            for n, (line, headers) in enumerate(requests)]
    return [reply.decode() for reply in lan_client(host, 554, reqs, ack="rtsp", timeout=30).result()[0]]


class StreamsTest(BoxTest):
    MAC = "02:00:00:00:08:11"
    ADDR = default_ip(MAC)

    def test_streams_carry_the_configured_codecs_and_groups(self):
        path = self.ini("[mainattr]\nenctype = 1\naudiocodec = 1\n[subattr]\nenctype = 0\naudiocodec = 0\n"
                        "[manualattr]\nid = 300\n")
        b = self.box(ini=path, mac=self.MAC)
        b.wait_log("avahi-daemon")
        # Streams are set up only while an input feeds them.
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1280x720p60")
        b.wait_log("clear connect status")
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


if __name__ == "__main__":
    unittest.main()
