"""The box's neighbours of the streams: network set-up, the serial,
infrared and KVM relays, and firmware upload through the typed-packet
server."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import imagelib
from boxlib import BOX, BoxTest, wait_until
from lanclient import take

CLIENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lanclient.py")


def b64(data):
    return base64.b64encode(data).decode()


def client(host, port, send, ack=0, read=0, pause=0.0, timeout=10):
    """Starts a LAN client; .result() gives (acks, read bytes)."""
    job = json.dumps({"host": host, "port": port, "send": [b64(c) for c in send], "ack": ack,
                      "read": read, "pause": pause, "timeout": timeout})
    proc = subprocess.Popen([BOX, "lan", "python3", CLIENT], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    proc.stdin.write(job)
    proc.stdin.close()

    def result():
        out = proc.stdout.read()
        proc.wait(timeout=timeout + 30)
        if proc.returncode != 0:
            raise AssertionError(proc.stderr.read())
        got = json.loads(out)
        return [base64.b64decode(a) for a in got["acks"]], base64.b64decode(got["read"])
    proc.result = result
    return proc


def default_ip(mac):
    """The link-local address a box takes from its MAC."""
    b5, b6 = int(mac[12:14], 16), int(mac[15:17], 16)
    return f"169.254.{(b6 + 1) % 256}.{b5}"


def read_tty(sock, n, timeout=5):
    sock.settimeout(timeout)
    return take(sock, n)


class NetworkTest(BoxTest):
    MAC = "02:00:00:00:30:01"

    def test_eth0_carries_mac_address_routes_and_host_name(self):
        host = subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True).stdout
        b = self.box(prefix="h3n", mac=self.MAC)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        ip = default_ip(self.MAC)
        link = b.exec("ip", "link", "show", "eth0").stdout
        self.assertIn(f"link/ether {self.MAC}", link)
        self.assertIn(f"inet {ip}/16", b.exec("ip", "-4", "addr", "show", "eth0").stdout)
        self.assertIn("224.0.0.0/3 dev eth0", b.exec("ip", "route").stdout)
        self.assertTrue(b.exec("hostname").stdout.strip().endswith("-020000003001"))
        client(ip, 5888, []).result()   # reachable from the LAN at that address
        wait_until(lambda: "ss udhcpc start!" in b.read("/board/fifodeamon.log"), 5, "DHCP start")
        self.assertEqual(host, subprocess.run(["ip", "-o", "addr"], capture_output=True,
                                              text=True).stdout)


    def test_static_settings_give_the_stored_address_without_dhcp(self):
        ini = os.path.join(self.tmp(), "app.ini")
        with open(ini, "w") as f:
            f.write("[netattr]\ndhcp = 0\nip = 169.254.77.7\nsubmask = 255.255.0.0\n"
                    "gateway = 169.254.100.1\n")
        b = self.box(prefix="h3s", mac="02:00:00:00:30:04", ini=ini)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        self.assertIn("inet 169.254.77.7/16", b.exec("ip", "-4", "addr", "show", "eth0").stdout)
        self.assertIn("default via 169.254.100.1 dev eth0", b.exec("ip", "route").stdout)
        client("169.254.77.7", 5888, []).result()
        self.assertNotIn("udhcpc start", b.read("/board/fifodeamon.log"))

    def tmp(self):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d)
        return d


class RelayTest(BoxTest):
    MAC = "02:00:00:00:30:02"

    def setUp(self):
        self.b = self.box(prefix="h3r", mac=self.MAC)
        self.b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        self.ip = default_ip(self.MAC)

    def relay_both_ways(self, port, tty_index):
        tty = self.b.tty(tty_index)
        self.addCleanup(tty.close)
        up, down = b"to the port\r\n\x00\xff", b"from the port\x01\r\n"
        c = client(self.ip, port, [up], read=len(down), pause=0.5)
        self.assertEqual(up, read_tty(tty, len(up)))
        tty.sendall(down)
        self.assertEqual(down, c.result()[1])

    def test_uart_relay(self):
        self.relay_both_ways(7888, 0)

    def test_infrared_relay(self):
        self.relay_both_ways(7889, 1)

    def test_kvm_relay_fills_the_gadgets(self):
        key = bytes([1, 8, 0, 0, 4, 0, 0, 0, 0, 0])
        mouse = bytes([2, 4, 1, 5, 0xfb, 0])
        client(self.ip, 7890, [key, mouse], pause=0.5).result()
        self.assertEqual(key[2:], self.b.read("/dev/hidg0", "rb"))
        self.assertEqual(mouse[2:], self.b.read("/dev/hidg1", "rb"))


class UploadTest(BoxTest):
    MAC = "02:00:00:00:30:03"
    ADDR = 0x100000

    def flash(self, b, offset, size):
        with open(b.path("/board/flash.img"), "rb") as f:
            f.seek(offset)
            return f.read(size)

    def upload(self, b, image):
        ip = default_ip(self.MAC)
        packets = imagelib.upgrade_packets(image, 30000)
        return client(ip, 5888, packets, ack=5, timeout=60).result()[0]

    def test_uploaded_image_is_written_and_the_box_resets(self):
        b = self.box(prefix="h3u", mac=self.MAC)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        payload = imagelib.data(200000, 7)
        image = imagelib.build([("rootfs", payload, self.ADDR)])

        bad = bytearray(image)
        bad[5000] ^= 0x10
        acks = self.upload(b, bytes(bad))
        self.assertEqual(imagelib.ACK_REFUSED, acks[-1])
        self.assertEqual(b"\xff" * len(payload), self.flash(b, self.ADDR, len(payload)))
        self.assertNotIn(["board-reset"], b.calls())

        acks = self.upload(b, image)
        self.assertEqual([imagelib.ACK_OK] * len(acks), acks)
        self.assertEqual(payload, self.flash(b, self.ADDR, len(payload)))
        wait_until(lambda: ["board-reset"] in b.calls(), 10, "the board to reset")
        calls = [line.split()[1:] for line in b.read("/dev/watchdog").splitlines()]
        self.assertIn(["timeout", "1"], calls)


if __name__ == "__main__":
    unittest.main()
