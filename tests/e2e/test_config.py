"""Start-up with the configuration: the device ID on the display, the
start-ups that end early, and the settings across a reboot."""

import json
import os
import random
import re
import unittest

from boxlib import BoxTest, protocol_exchange, wait_until
from protoclient import frame, request
import test_protocol_set

LCD_FRAME = 15
SEGMENTS = {0x3F: "0", 0x06: "1", 0x5B: "2", 0x4F: "3", 0x66: "4", 0x6D: "5", 0x7D: "6",
            0x07: "7", 0x7F: "8", 0x6F: "9", 0x00: " "}
HOLD_PORT_554 = ("python3 -c 'import socket, time\n"
                 "s = socket.socket(); s.bind((\"0.0.0.0\", 554)); s.listen(); time.sleep(600)'"
                 " >/dev/null 2>&1 &")


# About 150 kB of junk (100,000 characters, UTF-8 encoded), control
# characters and NUL bytes included: within the loader's bound.
_rand = random.Random(7)
JUNK = "".join(chr(_rand.randrange(256)) for _ in range(100000)) + "\n\n"
TIME_STAMP = r"\[\d\d \d\d:\d\d:\d\d\.\d{3}\]: "
INI_FILE_MAX = 262144   # what the program reads of its settings file


class ConfigTest(BoxTest):
    def test_device_id_is_limited_and_shown(self):
        """The ID on the display; junk before it in the file is not kept, and
        the log quotes a few of its lines as short printable text."""
        for junk, given, want in (("", "762", "762"), ("", "763", "000"), ("", "-5", "000"),
                                  (JUNK, "761", "761")):
            with self.subTest(id=given):
                b = self.box(ini=self.ini(f"{junk}[manualattr]\nid = {given}\n"), mac="02:00:00:00:10:06",
                             start=False)
                sock = b.tty(1)
                self.addCleanup(sock.close)
                sock.settimeout(5)
                b.start()
                data = b""
                while len(data) < LCD_FRAME:
                    data += sock.recv(4096)
                self.assertEqual(want, "".join(SEGMENTS.get(d & 0x7F, "?") for d in data[2:5]))
                if junk:
                    log = b.log()
                    self.assertTrue(all(c == "\n" or " " <= c <= "~" for c in log), log)
                    lines = [line for line in log.splitlines() if "ini:" in line]
                    self.assertEqual(5, len(lines), lines)
                    for line in lines:
                        self.assertRegex(line, "^" + TIME_STAMP + "ini: ")
                        self.assertLess(len(line), 300)
                    self.assertRegex(lines[-1], r"ini: \d+ more lines not kept in /etc/app.ini$")

    def test_start_ups_that_end_early(self):
        """An unfinished upgrade and an RTSP port in use each end the program
        before its watchdog or media start. With the cause taken away, start runs it again and returns
        once it answers."""
        cases = (
            (["mkdir", "-p", "/root/update"], "0", [r"\]: Update Fail!"], True, ["rm", "-r", "/root/update"]),
            (["sh", "-c", HOLD_PORT_554], "255",
             [r"\]: RtspServer_Init failed!", r"\]: MAIN_RtspServer_StartStream failed with 0xffffffff!"], False,
             None),
        )
        for n, (cmd, status, lines, before_watchdog, undo) in enumerate(cases):
            with self.subTest(cmd=cmd[-1][:20]):
                b = self.box(mac=f"02:00:00:00:10:1{n}", start=False)
                b.exec(*cmd, check=True)
                self.assertEqual(1, b.start(check=False).returncode)
                wait_until(lambda: os.path.exists(b.path("/board/app.exit")), 15, "the program to end")
                self.assertEqual(status, b.read("/board/app.exit").strip())
                log = b.log()
                for line in lines:
                    self.assertRegex(log, line)
                self.assertNotIn("MAIN_Media_DefConifg", log)
                if before_watchdog:
                    self.assertEqual("", b.read("/dev/watchdog"))
                if undo:
                    b.exec(*undo, check=True)
                    b.start()
                    replies, _ = protocol_exchange([frame(request("config get id", [f"02000000101{n}"]))])
                    self.assertEqual(1, len(replies), replies)

    def test_unread_settings_file_is_kept_beside(self):
        """A settings file not read (a link to an endless device; settings and
        then notes past the loader's bound) is kept as it was beside the path;
        the log says why and where, and the box answers on the defaults."""
        notes = "".join(f"; note {i}: the projector of room {i % 40} takes 1080p30\n" for i in range(6000))
        mine = "[devattr]\nalias = lobby screen\n[mainattr]\nfps = 30\n" + notes
        cases = (("02:00:00:00:10:20", ["ln", "-sf", "/dev/zero", "/etc/app.ini"], r"not a regular file", None),
                 ("02:00:00:00:10:21", ["true"], r"longer than \d+ bytes", mine))
        for mac, cmd, why, text in cases:
            with self.subTest(why=why):
                b = self.box(mac=mac, ini=text and self.ini(text), start=False)
                b.exec(*cmd, check=True)
                b.start()
                b.wait_log(rf"\]: /etc/app.ini not read \({why}\): kept as /etc/app.ini.unread, "
                           r"the default settings replace it$", timeout=20)
                b.wait_log(r"\]: avahi-daemon$", timeout=20)
                device_id = mac.replace(":", "")
                replies, _ = protocol_exchange([frame(request("config get device", [device_id], seq=21))])
                self.assertEqual(1, len(replies), replies)
                device = json.loads(replies[0][1])["device"]
                self.assertEqual(("KVB 001", "60"), (device["alias"], device["fps"]))
                self.assertFalse(os.path.islink(b.path("/etc/app.ini")))
                self.assertRegex(b.read("/etc/app.ini"), r'(?m)^alias += "KVB 001 *"$')
                if text is None:
                    self.assertEqual("/dev/zero", os.readlink(b.path("/etc/app.ini.unread")))
                else:
                    self.assertEqual(text, b.read("/etc/app.ini.unread"))

    def test_settings_outlive_a_reboot(self):
        """Settings set from the LAN, then "device reboot" at once, and an ID
        set 0.3 s after it, are read back after the restart: with notes that
        no longer fit beside them under the loader's bound (kept in the copy
        beside) and a FIFO at the save's temporary path, and without a file
        at all. A directory at the path leaves the box on the defaults,
        answering, and the directory as it was."""
        long_file = "[devattr]\nalias = lobby\n[mainattr]\nfps = 30\n[manualattr]\nid = 7\n" + "".join(
            f"; note {i}: the projector of room {i % 40} takes 1080p30\n" for i in range(7000))
        long_file = long_file[:INI_FILE_MAX - 1] + "\n"   # 262144 bytes: read whole, no room left
        wing = "lobby screen, north wing"
        exchange = test_protocol_set.ProtocolSetTest.exchange
        dir_line = (r"\]: /etc/app.ini not read \(not a regular file\) and not kept as /etc/app.ini.unread: "
                    r"Is a directory; the default settings run from memory$")
        cases = (("notes past the bound", "02:00:00:00:10:30", long_file, ("mkfifo", "/etc/app.ini.tmp"), None,
                  (wing, "30", 9)),
                 ("no file", "02:00:00:00:10:31", None, None, 5, (wing, "60", 9)),
                 ("directory at the path", "02:00:00:00:10:32", None, ("mkdir", "/etc/app.ini"), 5,
                  ("KVB 001", "60", 0)))
        for name, mac, text, make, new_id, want in cases:
            with self.subTest(name):
                b = self.box(mac=mac, ini=text and self.ini(text), start=False)
                if make:
                    b.exec(*make, check=True)
                b.start()
                b.wait_log(r"\]: avahi-daemon$", timeout=20)
                ids = [mac.replace(":", "")]
                sets = [("config set alias", {"alias": {"name": wing}})]
                sets += [("config set id", {"id": new_id})] if new_id else []
                late = ("config set id", {"id": 9})   # 0.3 s after the reboot asked for
                got = exchange(*sets, ("config get device", None), ("device reboot", None), late, ids=ids,
                               rate=1 / 0.3)
                self.assertEqual(wing, got[len(sets) + 1][1]["device"]["alias"])
                b.wait_reset()
                wait_until(lambda: len(re.findall(r"(?m)\]: avahi-daemon$", b.log())) == 2, 20,
                           "the program to start again")
                got = exchange(("config get device", None), ("config get id", None), ids=ids)
                device = got[1][1]["device"]
                self.assertEqual(want, (device["alias"], device["fps"], got[2][1]["DevId"]["id"]))
                if make and make[0] == "mkdir":
                    self.assertEqual(2, len(re.findall(dir_line, b.log(), re.M)), b.log()[-3000:])
                    self.assertTrue(os.path.isdir(b.path(make[1])))
                if text:
                    kept = b.read("/etc/app.ini") + b.read("/etc/app.ini.notes")
                    self.assertIn("; note 3000: the projector of room 0 takes 1080p30\n", kept)
                    self.assertIn(long_file[-100:], kept)
                b.down()


if __name__ == "__main__":
    unittest.main()
