"""The control protocol from the LAN side: discovery on the group's reply
port, which requests a box answers, and hostile datagrams and floods that
leave it answering with its memory flat."""

import base64
import json
import re
import unittest

from boxlib import BoxTest, default_ip, protocol_exchange
from protoclient import frame, request

MAC = "02:00:00:00:15:01"
DEVICE_ID = MAC.replace(":", "")
NUMERIC_ID = 42
DEVICE_MEMBERS = [
    "deviceid", "devtype", "alias", "chip", "id", "static", "devaddr", "devnetmask", "devgateway",
    "devmac", "status", "version", "up", "voltage", "lcd", "led", "serialbr", "serialbs",
    "serialpa", "serialsb", "edid", "audioinput", "enctype", "encres", "fps", "ratecontrol",
    "bitrate", "audiocodec", "audiofreq", "audiobitrate", "tx", "scale", "videomode", "button",
    "ir", "rotate", "osd", "videooutput", "videomute", "videopause", "audioformat", "httpport"]


def pairs(text):
    """The members of a JSON text in their order, nested objects as lists."""
    return json.loads(text, object_pairs_hook=lambda p: p)


class ProtocolTest(BoxTest):
    @classmethod
    def setUpClass(cls):
        cls.ini_path = cls.ini(f"[manualattr]\nid = {NUMERIC_ID}\n")

    def setUp(self):
        self.b = self.box(ini=self.ini_path, mac=MAC)
        self.b.wait_log(r"\]: avahi-daemon", timeout=20)

    def rss_kib(self):
        status = self.b.exec("sh", "-c", "cat /proc/$(pidof app)/status").stdout
        return int(re.search(r"VmRSS:\s+(\d+)", status).group(1))

    def answered(self, datagrams, wait=1.0, rate=0):
        """The seq numbers answered, each with where its reply went."""
        replies, _ = protocol_exchange(datagrams, wait=wait, rate=rate)
        return [(where, json.loads(text)["ack"]["seq"]) for where, text in replies]

    def test_discovery_reply_lists_every_member_on_the_group_port(self):
        replies, _ = protocol_exchange([frame(request("config get device", ["All"], seq=11))])
        self.assertEqual(1, len(replies))
        where, text = replies[0]
        self.assertEqual("group", where)
        root = pairs(text)
        self.assertEqual(["ack", "device"], [k for k, _ in root])
        self.assertEqual([("cmd", "config get device"), ("status", "success"),
                          ("hostid", "5e5e5e5e5e5e"), ("deviceid", DEVICE_ID), ("seq", 11)], root[0][1])
        device = dict(root[1][1])
        self.assertEqual(DEVICE_MEMBERS, [k for k, _ in root[1][1]])
        fresh = {"deviceid": DEVICE_ID, "devtype": "encoder", "id": NUMERIC_ID, "status": "0",
                 "devaddr": default_ip(MAC), "devnetmask": "255.255.0.0", "devmac": MAC,
                 "enctype": "H265", "fps": "60", "ratecontrol": "CBR", "audiocodec": "PCM",
                 "audiofreq": "48001", "serialbr": 115200, "serialbs": 8, "serialpa": 0,
                 "serialsb": 1, "edid": 0, "tx": "", "videomute": 0, "httpport": 80}
        self.assertEqual(fresh, {k: device[k] for k in fresh})
        self.assertRegex(device["version"], r"^\S+$")
        self.assertEqual(self.b.read("/customer/info/version").strip(), device["version"])
        self.assertEqual(3, len(device["up"]))
        self.assertEqual("239.255.255.250", self.b.read("/tmp/searchip"))

    def test_addressing_and_own_requests(self):
        """Each request carries its own seq; only the answered ones come back."""
        cases = [
            (1, ["All"], "5e5e5e5e5e5e", True),
            (2, ["All_TX"], "5e5e5e5e5e5e", True),
            (3, [DEVICE_ID], "5e5e5e5e5e5e", True),
            (4, [str(NUMERIC_ID)], "5e5e5e5e5e5e", True),
            (5, ["112233445566", "0" + str(NUMERIC_ID)], "5e5e5e5e5e5e", True),
            (6, ["All"], DEVICE_ID, False),
            (7, ["112233445566"], "5e5e5e5e5e5e", False),
            (8, [], "5e5e5e5e5e5e", False),
            (9, ["All_RX"], "5e5e5e5e5e5e", False),
            (10, ["00" + str(NUMERIC_ID)], "5e5e5e5e5e5e", False),
        ]
        datagrams = [frame(request("config get id", ids, hostid=host, seq=seq)) for seq, ids, host, _ in cases]
        got = self.answered(datagrams)
        self.assertEqual([("sender", seq) for seq, _, _, yes in cases if yes], sorted(got, key=lambda g: g[1]))

    def test_hostile_datagrams_and_a_flood_leave_it_answering_with_flat_memory(self):
        head = b"eyJyZXF1ZXN0Ijp7"
        hostile = [
            head + b"!!!!####",                                   # not base64
            head + b"A" * (1500 - len(head)),                     # fills the buffer
            head + b"/" * (9000 - len(head)),                     # a jumbo
            frame(request("x", ["All"]))[:-3],                    # cut mid-group
            frame(json.dumps({"request": {"cmd": 5, "hostid": "h", "device": [{"id": "All"}]}})),
            frame(json.dumps({"request": {"cmd": "config get id", "hostid": None, "device": [{"id": "All"}]}})),
            frame(json.dumps({"request": {"cmd": "config get id", "hostid": "h", "device": "All"}})),
            frame(json.dumps({"request": {"cmd": "config get id", "hostid": "h", "device": [5, None]}})),
            frame(json.dumps({"request": {"cmd": "config get id", "hostid": "h", "device": [{"id": 42}]}})),
            frame(json.dumps({"request": {"cmd": "c" * 1000, "hostid": "h" * 60, "device": [{"id": "All"}]}})),
            frame(request("config set tx params", ["All"], body={"txparams": {"enctype": 264}})),
            frame(request("config set rx params", ["All"], body={"rxparams": [1, 2]})),
            # A discovery whose "hostid" is not UTF-8 would be echoed to every controller.
            frame(request("config get device", ["All"]).encode().replace(b"5e5e5e5e5e5e", b"5e5e\xff\xc3")),
        ]
        self.assertEqual([], self.answered(hostile))
        self.b.wait_log(r"\]: thread_protocol_server_recv: datagram of (1500|9000) bytes dropped")
        self.assertLess(len(re.findall(r"get (request|cmd|hostname|device|id) err!|ArrayItem", self.b.log())), 4,
                        "lines that peers cause are limited")
        probe = frame(request("config get id", ["All"], seq=77))
        self.assertEqual([("sender", 77)], self.answered([probe]))
        warm = frame(request("config get tx params", ["All"], seq=1))
        self.answered([warm] * 1000, wait=0.5)
        before = self.rss_kib()
        _, report = protocol_exchange([warm] * 10000, wait=1.0)
        self.assertGreater(report["sent"], 9000)
        self.assertLess(self.rss_kib() - before, 512)
        self.assertEqual([("sender", 77)], self.answered([probe]))


if __name__ == "__main__":
    unittest.main()
