"""The box's neighbours of the streams: network set-up, the serial,
infrared and KVM relays, and firmware upload through the typed-packet
server."""

import subprocess
import unittest

import imagelib
from boxlib import BoxTest, default_ip, lan_client as client
from lanclient import take


def read_tty(sock, n, timeout=5):
    sock.settimeout(timeout)
    return take(sock, n)


class NetworkTest(BoxTest):
    def test_eth0_carries_mac_stored_address_routes_and_host_name(self):
        host = subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True).stdout
        ini = self.ini("[netattr]\ndhcp = 0\nip = 169.254.77.7\nsubmask = 255.255.0.0\ngateway = 169.254.100.1\n")
        b = self.box(prefix="h3n", mac="02:00:00:00:30:01", ini=ini)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        self.assertIn("link/ether 02:00:00:00:30:01", b.exec("ip", "link", "show", "eth0").stdout)
        self.assertIn("inet 169.254.77.7/16", b.exec("ip", "-4", "addr", "show", "eth0").stdout)
        routes = b.exec("ip", "route").stdout
        self.assertIn("default via 169.254.100.1 dev eth0", routes)
        self.assertIn("224.0.0.0/3 dev eth0", routes)
        self.assertTrue(b.exec("hostname").stdout.strip().endswith("-020000003001"))
        client("169.254.77.7", 5888, []).result()   # reachable from the LAN at that address
        self.assertNotIn("udhcpc start", b.read("/board/fifodeamon.log"))
        self.assertEqual(host, subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True).stdout)


class RelayTest(BoxTest):
    MAC = "02:00:00:00:30:02"

    def test_relays_move_bytes_both_ways(self):
        b = self.box(prefix="h3r", mac=self.MAC)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        ip = default_ip(self.MAC)
        for port, tty_index in ((7888, 0), (7889, 1)):
            with self.subTest(port=port):
                tty = b.tty(tty_index)
                self.addCleanup(tty.close)
                up, down = b"to the port\r\n\x00\xff", b"from the port\x01\r\n"
                c = client(ip, port, [up], read=len(down), pause=0.5)
                self.assertEqual(up, read_tty(tty, len(up)))
                tty.sendall(down)
                self.assertEqual(down, c.result()[1])
        key = bytes([1, 8, 0, 0, 4, 0, 0, 0, 0, 0])
        mouse = bytes([2, 4, 1, 5, 0xfb, 0])
        client(ip, 7890, [key, mouse], pause=0.5).result()
        self.assertEqual(key[2:], b.read("/dev/hidg0", "rb"))
        self.assertEqual(mouse[2:], b.read("/dev/hidg1", "rb"))


class UploadTest(BoxTest):
    MAC = "02:00:00:00:30:03"
    ADDR = 0x100000

    def flash(self, b, size):
        with open(b.path("/board/flash.img"), "rb") as f:
            f.seek(self.ADDR)
            return f.read(size)

    def upload(self, image):
        packets = imagelib.upgrade_packets(image, 30000)
        return client(default_ip(self.MAC), 5888, packets, ack=5, timeout=60).result()[0]

    def test_uploaded_image_is_verified_written_and_the_box_resets(self):
        b = self.box(prefix="h3u", mac=self.MAC)
        b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")
        payload = imagelib.data(200000, 7)
        image = imagelib.build([("rootfs", payload, self.ADDR)])

        bad = bytearray(image)
        bad[5000] ^= 0x10
        acks = self.upload(bytes(bad))
        self.assertEqual(imagelib.ACK_REFUSED, acks[-1])
        self.assertEqual(b"\xff" * len(payload), self.flash(b, len(payload)))
        self.assertNotIn(["board-reset"], b.calls())

        acks = self.upload(image)
        self.assertEqual([imagelib.ACK_OK] * len(acks), acks)
        self.assertEqual(payload, self.flash(b, len(payload)))
        b.wait_reset()


if __name__ == "__main__":
    unittest.main()
