"""The RTSP service of a streaming box under hostile clients on the LAN, with
real players watched during and after each attack; and players told at once
when the source changes and the streams are rebuilt."""

import json
import os
import re
import subprocess
import time
import unittest

from boxlib import BOX, BoxTest, default_ip, lan, lan_address, wait_until
from test_source import MAIN, Session, probe, url

ATTACK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rtspattack.py")
THIRD_HOST = "169.254.0.3"     # a second address on the LAN side: the would-be victim
SESSION_LIFE = 60              # s a session set up over UDP lives without a word from its client
PEER_CONNECTIONS = 64          # control connections one address may hold
PEER_SESSIONS = 64             # sessions one address may hold
OWNER_SESSIONS = 16            # sessions one connection may hold


def attack(*args, timeout=120):
    p = lan("python3", ATTACK, *args, timeout=timeout)
    if p.returncode != 0:
        raise AssertionError(p.stderr)
    return json.loads(p.stdout)


def ended_by(proc, deadline):
    """Whether the process ended by that time.monotonic()."""
    try:
        proc.wait(timeout=max(0.0, deadline - time.monotonic()))
        return True
    except subprocess.TimeoutExpired:
        return False


class HostileTest(BoxTest):
    def streaming(self, mac):
        b = self.box(mac=mac)
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1920x1080p60")
        b.wait_log(r"clear connect status", timeout=10)
        return b, default_ip(mac)

    def fds(self, b):
        return int(b.exec("sh", "-c", "ls /proc/$(cat /board/app.pid)/fd | wc -l", check=True).stdout)

    def player(self, addr):
        session = Session(addr)
        self.addCleanup(session.close)
        wait_until(lambda: session.frames > 30, 30, "the player to play")
        return session

    def test_floods_theft_and_reflection_leave_the_player_served(self):
        b, addr = self.streaming("02:00:00:00:20:01")
        session = self.player(addr)
        start = self.fds(b)

        frames = session.frames
        udp = attack("udp", addr, "20000")
        flood_end = time.monotonic()
        tcp = attack("tcp", addr, "5000")
        self.assertEqual(16, udp["codes"].get("200"), udp)
        self.assertGreater(udp["codes"].get("453", 0), 1000, udp)
        self.assertEqual({"200": 16, "453": 4984}, tcp["codes"])
        # The box's own address, whichever way the SETUP came.
        self.assertEqual([addr], udp["sources"])
        self.assertEqual([addr], tcp["sources"])
        self.assertLessEqual(self.fds(b) - start, 2 * 16 + 4, "descriptors held by the UDP sessions")
        self.assertGreater(session.frames, frames + 30, "the player during the floods")

        lan_address(self, THIRD_HOST)
        self.assertEqual({"codes": [403, 403, 454], "received": 0}, attack("reflect", addr, THIRD_HOST))

        stolen = attack("steal", addr)
        self.assertEqual([200, 200, 454, 454, 454, 454, 454], stolen["codes"])
        self.assertGreaterEqual(stolen["before"], 100, stolen)   # 60 frames a second
        self.assertGreaterEqual(stolen["after"], stolen["before"] - 10, stolen)

        frames = session.frames
        time.sleep(max(0.0, flood_end + SESSION_LIFE + 2.5 - time.monotonic()))
        self.assertEqual(start, self.fds(b), "descriptors after the UDP sessions lapsed")
        self.assertGreater(session.frames, frames + 30, "the player after the attacks")
        log = b.log()
        self.assertLess(log.count("rtspNewSession: no session"), 120, "messages the floods caused")

    def test_one_host_holds_only_its_share(self):
        b, addr = self.streaming("02:00:00:00:20:03")
        session = self.player(addr)
        lan_address(self, THIRD_HOST)
        frames = session.frames
        # Just past each bound: the connections, and the sessions of
        # connections few enough to be admitted (16 sessions each at most).
        extra = 16
        setups = (PEER_SESSIONS + extra) // OWNER_SESSIONS
        got = attack("hog", addr, THIRD_HOST, str(PEER_CONNECTIONS + extra), str(setups))
        self.assertEqual({"200": PEER_CONNECTIONS, "0": extra}, got["connections"])
        self.assertEqual({"200": PEER_SESSIONS, "453": extra}, got["sessions"])
        self.assertEqual({"453": 4}, got["datagrams"])
        self.assertGreater(min(got["played"]), 30, "new players at another address")
        self.assertGreater(session.frames, frames + 30, "the player during the floods")
        self.assertLess(b.log().count("control connections, one refused"), 5, "messages the flood caused")

    def test_players_are_told_when_the_streams_are_rebuilt(self):
        b, addr = self.streaming("02:00:00:00:20:02")
        # The input goes (unplug), or gives way to another (a replug at a new
        # size): either way its players are told at once, and new ones play
        # the new input.
        for change, mode in ((("unplug",), "1920x1080p60"), (("plug", "1280x720p50"), "1280x720p50")):
            with self.subTest(change=change):
                players = [subprocess.Popen([BOX, "lan", *cmd], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL) for cmd in (
                    ["ffmpeg", "-nostats", "-v", "error", "-rtsp_transport", "udp", "-i", url(addr, MAIN),
                     "-c", "copy", "-f", "null", "-"],
                    ["ffmpeg", "-nostats", "-v", "error", "-rtsp_transport", "tcp", "-i", url(addr, MAIN),
                     "-c", "copy", "-f", "null", "-"],
                    ["gst-launch-1.0", "-q", "rtspsrc", f"location={url(addr, MAIN)}", "protocols=tcp",
                     "!", "fakesink"])]
                watched = Session(addr)   # also proves the stream plays
                self.addCleanup(watched.close)
                players.append(watched.proc)
                for p in players:
                    self.addCleanup(p.kill)
                wait_until(lambda: watched.frames > 30, 30, "the players to play")
                self.assertEqual([None] * 4, [p.poll() for p in players], "players ended early")

                rebuilds = b.log().count("clear connect status")
                b.sim(*change)
                deadline = time.monotonic() + 2.0
                self.assertEqual([True] * 4, [ended_by(p, deadline) for p in players])
                if change[0] == "unplug":
                    b.sim("plug", mode)
                wait_until(lambda: b.log().count("clear connect status") > rebuilds, 10, "the rebuild")
                width = mode.split("x")[0]
                wait_until(lambda: width in [s.get("width") for s in probe(addr, MAIN)], 10, "a new player")


if __name__ == "__main__":
    unittest.main()
