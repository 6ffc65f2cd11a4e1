"""Start-up with the configuration: the file a new box writes, the device ID
on the display, the factory reset, and the start-ups that end early."""

import os
import shutil
import tempfile
import time
import unittest

from boxlib import BoxTest, wait_until

LCD_FRAME = 15
SEGMENTS = {0x3F: "0", 0x06: "1", 0x5B: "2", 0x4F: "3", 0x66: "4", 0x6D: "5", 0x7D: "6",
            0x07: "7", 0x7F: "8", 0x6F: "9", 0x00: " "}


def values(ini):
    """The file's keys (sections left out) with their values unquoted."""
    return {k.strip(): v.strip().strip('"').strip()
            for k, _, v in (line.partition("=") for line in ini.splitlines() if "=" in line)}


class ConfigTest(BoxTest):
    def test_new_box_writes_defaults_with_address_from_mac(self):
        b = self.box(mac="02:00:00:00:10:05")
        ini = wait_until(lambda: os.path.exists(b.path("/etc/app.ini")) and b.read("/etc/app.ini"),
                         10, "/etc/app.ini")
        self.assertEqual(54, len([line for line in ini.splitlines() if "=" in line]))
        self.assertEqual("169.254.6.16", values(ini)["ip"])   # sixth byte + 1, fifth byte
        self.assertNotIn("[edidattr]", ini)

    def test_device_id_is_limited_and_shown(self):
        for given, want in (("762", "762"), ("763", "000")):
            with self.subTest(id=given):
                path = os.path.join(self.tmp(), "app.ini")
                with open(path, "w") as f:
                    f.write(f"[manualattr]\nid = {given}\n")
                b = self.box(ini=path, mac="02:00:00:00:10:06")
                b.wait_log("avahi-daemon")
                b.down()
                b = self.box(ini=path, mac="02:00:00:00:10:06", start=False)
                sock = b.tty(1)
                sock.settimeout(5)
                b.start()
                data = b""
                while len(data) < LCD_FRAME:
                    data += sock.recv(4096)
                self.assertEqual(want, "".join(SEGMENTS.get(d & 0x7F, "?") for d in data[2:5]))

    def test_factory_reset_restores_the_default_file(self):
        mac = "02:00:00:00:10:07"
        fresh = self.box(mac=mac)
        defaults = wait_until(lambda: os.path.exists(fresh.path("/etc/app.ini"))
                              and fresh.read("/etc/app.ini"), 10, "defaults")
        path = os.path.join(self.tmp(), "app.ini")
        with open(path, "w") as f:
            f.write('[devattr]\nalias = "meeting-room"\n')
        b = self.box(ini=path, mac=mac)
        b.wait_log("avahi-daemon")
        self.assertIn("meeting-room", b.read("/etc/app.ini"))
        b.sim("key", "press")
        wait_until(lambda: ["board-reset"] in b.calls(), 10, "the board to reset")
        b.sim("key", "release")
        self.assertEqual(defaults, b.read("/etc/app.ini"))

    def test_unloadable_configuration_ends_the_start_up(self):
        b = self.box(mac="02:00:00:00:10:08", start=False)
        b.exec("mkdir", "/etc/app.ini", check=True)
        b.start()
        wait_until(lambda: os.path.exists(b.path("/board/app.exit")), 10, "the program to end")
        self.assertEqual("255", b.read("/board/app.exit").strip())
        self.assertRegex(b.log(), r"\]: MAIN_CONFIG_Recv failed with 0xffffffff!")
        self.assertEqual("", b.read("/dev/watchdog"))

    def test_unfinished_upgrade_ends_the_start_up_before_the_watchdog(self):
        b = self.box(mac="02:00:00:00:10:09", start=False)
        b.exec("mkdir", "-p", "/root/update", check=True)
        b.start()
        wait_until(lambda: os.path.exists(b.path("/board/app.exit")), 10, "the program to end")
        self.assertEqual("0", b.read("/board/app.exit").strip())
        self.assertRegex(b.log(), r"\]: Update Fail!")
        self.assertEqual("", b.read("/dev/watchdog"))

    def tmp(self):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d, True)
        return d


if __name__ == "__main__":
    unittest.main()
