"""The setting, routing, serial and network commands of the control
protocol from the LAN side."""

import base64
import json
import os
import re
import time
import unittest

from boxlib import BoxTest, default_ip, lan, protocol_exchange, wait_until
from protoclient import frame, request
from test_streams import rtsp

MAC = "02:00:00:00:16:01"
DEVICE_ID = MAC.replace(":", "")


def ini_values(text):
    values, section = {}, ""
    for line in text.splitlines():
        m = re.match(r"\s*\[(.+)\]", line)
        if m:
            section = m.group(1).strip().lower()
            continue
        m = re.match(r"\s*([^=;#]+?)\s*=\s*(.*?)\s*$", line)
        if m:
            values[f"{section}:{m.group(1).lower()}"] = m.group(2).strip('"\'').strip()
    return values


class ProtocolSetTest(BoxTest):
    def start(self, mac=MAC, ini=None):
        b = self.box(mac=mac, ini=ini)
        b.wait_log(r"\]: avahi-daemon", timeout=20)
        return b

    @staticmethod
    def exchange(*reqs, ids=("All",), wait=1.0, rate=0):
        """(cmd, body) requests as seq 1, 2, ..., rate a second (0: at once);
        the replies as {seq: (where, JSON)}."""
        datagrams = [frame(request(cmd, list(ids), seq=n + 1, body=body))
                     for n, (cmd, body) in enumerate(reqs)]
        replies = [(where, json.loads(text)) for where, text in protocol_exchange(datagrams, wait=wait, rate=rate)[0]]
        return {got["ack"]["seq"]: (where, got) for where, got in replies}

    def saves(self, b, seconds):
        """How often the settings file was put anew within that time."""
        path = b.path("/etc/app.ini")
        seen, last = 0, os.stat(path).st_ino
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ino = os.stat(path).st_ino
            if ino != last:
                seen, last = seen + 1, ino
            time.sleep(0.02)
        return seen

    def test_settings_routes_serial_alias_and_reboot(self):
        b = self.start()
        # Refused values first: neither getters nor the file change.
        before = b.read("/etc/app.ini")
        got = self.exchange(("config set id", {"id": 763}), ("config set id", {"id": "5"}),
                            ("config set alias", {"alias": {"name": "a\n[netattr]\nip=1.2.3.4"}}),
                            ("config set alias", {"alias": {"name": "say \"hi\""}}),
                            ("config get id", None), ("config get device", None))
        self.assertEqual(0, got[5][1]["DevId"]["id"])
        self.assertEqual("KVB 001", got[6][1]["device"]["alias"])
        self.assertEqual(0, self.saves(b, 3.0))
        self.assertEqual(before, b.read("/etc/app.ini"))

        cases = [(f"config set {n}", {m: v}, f"config get {n}", (o, m), v, k) for n, o, m, v, k in (
            ("id", "DevId", "id", 9, "manualattr:id"),
            ("ir voltage", "info", "voltage", 12, "manualattr:irvoltage"),
            ("display mode", "info", "display", 2, "manualattr:lcdmode"),
            ("pwrled mode", "info", "led", 0, "manualattr:ledmode"),
            ("hdcp mode", "info", "hdcp", 1, "miscattr:hdcpmode"),
            ("stream dbg", "info", "streamdbg", 1, "miscattr:streamdbg"))]
        # A long alias is kept as its first 31 characters.
        cases.append(("config set alias", {"alias": {"name": "Lobby 2 " + "x" * 32}}, "config get device",
                      ("device", "alias"), "Lobby 2 " + "x" * 23, "devattr:alias"))
        reqs = []
        for set_cmd, body, get_cmd, _, _, _ in cases:
            reqs += [(set_cmd, body), (get_cmd, None)]
        got = self.exchange(*reqs)
        self.assertEqual(sorted(range(2, 2 * len(cases) + 1, 2)), sorted(got))   # setters are not answered
        for n, (set_cmd, _, get_cmd, (obj, member), value, _) in enumerate(cases):
            self.assertEqual(value, got[2 * n + 2][1][obj][member], get_cmd)
        self.assertEqual(1, self.saves(b, 4.0))
        stored = ini_values(b.read("/etc/app.ini"))
        for _, _, _, _, value, key in cases:
            self.assertEqual(str(value), stored[key], key)

        # A word where a number belongs is refused, neither read up to where
        # its digits stop (nor up to a NUL) nor taken as 0: each getter still
        # shows what was set. A text is not cut at a NUL either.
        tx = self.exchange(("config get tx params", None))[1][1]["txparams"]
        tx = {k: tx[k] for k in ("enctype", "encres", "fps", "ratecontrol", "bitrate", "audioinput",
                                 "audiocodec", "audiofreq", "audiobitrate")}
        serial = {"baudrate": "115200", "databits": "8", "parity": "0", "stopbits": "1"}
        refused = [(f"config set {n}", {m: w}, f"config get {n}", (o, m), v) for n, o, m, v, words in (
            ("display mode", "info", "display", 2, ("abc", None, True, [2], "2")),
            ("ir voltage", "info", "voltage", 12, ("12x", False, {})),
            ("hdcp mode", "info", "hdcp", 1, ("0x1",)),
            ("stream dbg", "info", "streamdbg", 1, ("1",)),
            ("id", "DevId", "id", 9, ("0x10", "abc", None))) for w in words]
        refused += [("config set tx params", {"txparams": {**tx, m: w}}, "config get tx params", ("txparams", m), tx[m])
                    for m, words in (("fps", ("1e3", "3.5", "30abc", "", "+30", " 30", "30\0abc")),
                                     ("audioinput", ("abc",)))
                    for w in words]
        refused += [("serial set params", {"serialparams": {**serial, "baudrate": w}}, "serial get params",
                     ("serialparams", "baudrate"), "115200") for w in ("9600abc", " 9600", "+9600", "9600.0", "",
                                                                      "9600\0abc")]
        refused.append(("config set alias", {"alias": {"name": "Hall\0x"}}, "config get device", ("device", "alias"),
                        "Lobby 2 " + "x" * 23))
        reqs = []
        for set_cmd, body, get_cmd, _, _ in refused:
            reqs += [(set_cmd, body), (get_cmd, None)]
        got = self.exchange(*reqs)
        for n, (_, body, get_cmd, (obj, member), value) in enumerate(refused):
            self.assertEqual(value, got[2 * n + 2][1][obj][member], f"{get_cmd} after {body}")
        # A "\u" without four hex digits is no JSON: the alias stays, not cut to "lob".
        alias = request("config set alias", ["All"], body={"alias": {"name": "lob@by"}}).replace("@", "\\u000g")
        got = protocol_exchange([frame(alias), frame(request("config get device", ["All"], seq=2))])[0]
        self.assertEqual(["Lobby 2 " + "x" * 23], [json.loads(text)["device"]["alias"] for _, text in got])
        b.wait_log(r"\]: display is not a number$")

        # "seq" only names the exchange: a request with one of another form is
        # served as one without, its reply carries 0.
        odd = ("7", None, 7.5, [1], 2 ** 40)
        replies = protocol_exchange([frame(request("config get id", ["All"], seq=s)) for s in odd])[0]
        self.assertEqual([(0, 9)] * len(odd), [(r["ack"]["seq"], r["DevId"]["id"])
                                               for r in (json.loads(text) for _, text in replies)])

        for family, body in (("serial", "serialsource"), ("ir", "irsource")):
            got = self.exchange((f"{family} matrix get", None),
                                (f"{family} matrix set", {body: {"txid": "112233445566"}}),
                                (f"{family} matrix get", None), (f"{family} matrix clear", None),
                                (f"{family} matrix get", None))
            self.assertEqual([1, 3, 5], sorted(got), family)
            self.assertEqual([{"rxid": DEVICE_ID, "txid": t} for t in ("000000000000", "112233445566",
                                                                       "000000000000")],
                             [got[n][1][body] for n in (1, 3, 5)], family)

        tty = b.tty(0)
        self.addCleanup(tty.close)
        tty.settimeout(5)
        payload = bytes(range(256)) * 2 + b"end"
        self.exchange(("serial data", {"data": base64.b64encode(payload).decode()}))
        data = b""
        while len(data) < len(payload):
            data += tty.recv(4096)
        self.assertEqual(payload, data)
        params = {"baudrate": "9600", "databits": "7", "parity": "1", "stopbits": "2"}
        got = self.exchange(("serial set params", {"serialparams": params}), ("serial get params", None))
        self.assertEqual(params, got[2][1]["serialparams"])

        # A pty keeps 8 bits without parity whatever it is asked; the rest shows.
        def stty():
            return b.exec("stty", "-F", "/dev/ttyS0", "-a").stdout
        out = wait_until(lambda: (lambda o: "speed 9600" in o and o)(stty()), 5, "the UART at 9600 baud")
        self.assertRegex(out, r"(^|\s)cstopb(\s|$)")
        time.sleep(2.5)
        stored = ini_values(b.read("/etc/app.ini"))
        self.assertEqual(("9600", "7", "2", "2"), tuple(stored["serialattr:" + k] for k in params))

        got = self.exchange(("config set alias", {"alias": {"name": "Hall"}}), ("config remove alias", None),
                            ("config get device", None))
        self.assertEqual([3], list(got))
        self.assertEqual("TX1", got[3][1]["device"]["alias"])
        self.assertEqual({}, self.exchange(("device reboot", None)))
        b.wait_reset()

    def lan_answers(self, addr):
        probe = f"import socket; socket.create_connection(('{addr}', 554), timeout=2).close()"
        return lan("python3", "-c", probe).returncode == 0

    def set_net(self, *requests, ids=("All",)):
        """Each request (static, addr, mask, gateway[, mac]) as one "config set
        net params"; the statuses of the answers, which go to the group."""
        keys = ("static", "devaddr", "devnetmask", "devgateway", "devmac")
        reqs = [("config set net params", {"netparams": {"hdcpserver": "0", "devmac": "", **dict(zip(keys, r))}})
                for r in requests]
        got = self.exchange(*reqs, ids=ids, wait=2.0)
        self.assertEqual(list(range(1, len(reqs) + 1)), sorted(got))
        self.assertEqual({"group"}, {where for where, _ in got.values()})
        return [got[n][1]["ack"]["status"] for n in sorted(got)]

    def test_static_and_dhcp_switching_from_a_dhcp_start(self):
        mac = "02:00:00:00:16:03"
        b = self.start(mac=mac)
        addr = default_ip(mac)

        def dhcp_starts():
            return b.read("/board/fifodeamon.log").count("ss udhcpc start!")

        def net_params():
            return self.exchange(("config get net params", None))[1][1]["netparams"]
        starts = wait_until(dhcp_starts, 5, "the DHCP client started")
        # The network or broadcast address of its own subnet is refused before anything changes.
        self.assertEqual(["failure"] * 3, self.set_net(("1", "169.254.0.0", "255.255.0.0", "169.254.0.1"),
                                                       ("1", "169.254.255.255", "255.255.0.0", "169.254.0.1"),
                                                       ("1", "192.168.1.255", "255.255.255.0", "192.168.1.1")))
        self.assertNotIn("ss udhcpc stop!", b.read("/board/fifodeamon.log"))
        # A gateway off the subnet is refused by the interface: the address is kept, the DHCP client comes back.
        self.assertEqual(["failure"], self.set_net(("1", "169.254.61.4", "255.255.0.0", "10.0.0.1")))
        self.assertTrue(self.lan_answers(addr))
        wait_until(lambda: dhcp_starts() == starts + 1, 5, "the DHCP client back")
        params = net_params()
        self.assertEqual(("0", addr), (params["static"], params["devaddr"]))
        self.assertEqual("1", ini_values(b.read("/etc/app.ini"))["netattr:dhcp"])

        self.assertEqual(["success"], self.set_net(("1", "169.254.61.4", "255.255.0.0", "169.254.0.1")))
        self.assertTrue(wait_until(lambda: self.lan_answers("169.254.61.4"), 5, "the new address"))
        self.assertEqual({"hdcpserver": "0", "static": "1", "devaddr": "169.254.61.4",
                          "devnetmask": "255.255.0.0", "devgateway": "169.254.0.1", "devmac": mac}, net_params())

        def stored():
            values = ini_values(b.read("/etc/app.ini"))
            return values["netattr:dhcp"], values["netattr:ip"], values["netattr:gateway"]
        wait_until(lambda: stored() == ("0", "169.254.61.4", "169.254.0.1"), 5, "the static address saved")
        self.assertEqual(["success"], self.set_net(("0", "", "", "")))
        self.assertTrue(wait_until(lambda: self.lan_answers(addr), 5, "the link-local address"))
        wait_until(lambda: dhcp_starts() == starts + 2, 5, "the DHCP client on")
        self.assertEqual("0", net_params()["static"])

    def avahi_starts(self, b):
        return sum(1 for c in b.calls() if c and c[0] == "avahi-daemon")

    def test_refused_stored_address_id_change_and_mac_change(self):
        mac = "02:00:00:00:16:04"
        b = self.start(mac=mac, ini=self.ini('[netattr]\ndhcp = "0"\nip = "999.1.1.1"\n'))
        # The stored address is refused at start: the box takes its link-local address.
        b.wait_log(r"stored address 999\.1\.1\.1/\S+ gateway \S+ refused, taking the link-local address")
        addr = default_ip(mac)
        self.assertTrue(self.lan_answers(addr))
        # Streams are set up only while an input feeds them.
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1280x720p60")
        b.wait_log("clear connect status")
        self.exchange(("config set id", {"id": 9}))
        main = f"rtsp://{addr}/live/main/av_stream"

        def group():
            try:
                _, setup = rtsp(addr, (f"DESCRIBE {main}", ""),
                                (f"SETUP {main}/track1", "Transport: RTP/AVP;multicast\r\n"))
            except AssertionError:
                return None   # the stream is restarting
            return "destination=234.0.100.9;" in setup
        self.assertTrue(wait_until(group, 10, "the main stream on 234.0.100.9"))

        host = b.exec("hostname").stdout.strip()
        starts = self.avahi_starts(b)
        # The own MAC in another case and with other separators is no change.
        self.assertEqual(["success"], self.set_net(("1", addr, "255.255.0.0", "169.254.0.1", mac.replace(":", "-"))))
        # Broadcast, group and all-zero MACs are refused, nothing stored.
        stored = b.read("/etc/mac")
        self.assertEqual(["failure"] * 4, self.set_net(*[("1", addr, "255.255.0.0", "169.254.0.1", m) for m in (
            "ff:ff:ff:ff:ff:ff", "01:00:5e:00:00:01", "00:00:00:00:00:00", "03:00:00:00:16:04")]))
        self.assertEqual(stored, b.read("/etc/mac"))
        time.sleep(3)
        self.assertEqual((host, starts), (b.exec("hostname").stdout.strip(), self.avahi_starts(b)))
        self.assertIn(f"link/ether {mac}", b.exec("ip", "link", "show", "eth0").stdout)
        self.assertEqual(["success"], self.set_net(("1", addr, "255.255.0.0", "169.254.0.1", "02:00:00:00:16:AB")))
        self.assertEqual("PZR-T4900-0200000016AB", b.exec("hostname").stdout.strip())
        wait_until(lambda: self.avahi_starts(b) > starts, 8, "the mDNS daemon to start again")
        self.assertIn("link/ether 02:00:00:00:16:ab", b.exec("ip", "link", "show", "eth0").stdout)
        got = self.exchange(("config get id", None), ids=("0200000016ab",))
        self.assertEqual("0200000016ab", got[1][1]["ack"]["deviceid"])


if __name__ == "__main__":
    unittest.main()
