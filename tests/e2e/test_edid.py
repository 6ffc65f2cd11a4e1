"""EDID presets: the configured preset reaches the receiver's EDID RAM with a
hot-plug pulse, as the simulated chip shows it."""

import re
import unittest

from boxlib import BoxTest, wait_until

# First timing (width, height, 10 kHz clock), second timing, range limits,
# extension of each built-in EDID.
BUILTIN = {
    0: ((1920, 1080, 14850), (1920, 1080), True, 1),
    1: ((1280, 720, 7425), (1280, 720), True, 1),
    2: ((1280, 720, 7425), (1280, 720), False, 0),
    3: ((1920, 1080, 14850), (1280, 720), False, 0),
    4: ((1920, 1200, 15400), (1920, 1080), False, 0),
    5: ((1920, 1200, 15400), (1920, 1080), True, 1),
}


def edid_ram(dump):
    rows = re.findall(r"^  ([0-9a-f]{2}): ([0-9a-f]{64})$", dump, re.M)
    return bytes.fromhex("".join(row for _, row in sorted(rows)))


def hpd_events(dump):
    return [(state, int(ms)) for state, ms in re.findall(r"^hpd (low|high) at (\d+) ms$", dump, re.M)]


def dtd(edid, at):
    d = edid[at:at + 18]
    return d[2] | (d[4] >> 4) << 8, d[5] | (d[7] >> 4) << 8, d[0] | d[1] << 8


def descriptor(edid, tag):
    for at in (72, 90, 108):
        if edid[at:at + 3] == b"\0\0\0" and edid[at + 3] == tag:
            return edid[at + 5:at + 18]
    return None


def blocks_whole(edid):
    return sum(edid[:128]) % 256 == 0 and (edid[126] == 0 or sum(edid) % 256 == 0)


class EdidPresetTest(BoxTest):
    def preset(self, index, **texts):
        return self.ini(f"[manualattr]\nedidindex = {index}\n[edidattr]\n"
                        + "".join(f"{key} = {edid.hex()}\n" for key, edid in texts.items()))

    def loaded(self, b):
        """The EDID RAM once hot-plug is up again after the preset was written.
        The receiver holds hot-plug low from its reset until then, so the
        source sees one rise; a fall before it lasts the driver's 1.2 s."""
        def raised():
            dump = b.sim("hdmirx").stdout
            events = hpd_events(dump)
            return events and events[-1][0] == "high" and dump
        dump = wait_until(raised, 10, "hot-plug up")
        events = hpd_events(dump)
        if len(events) > 1:
            self.assertEqual("low", events[-2][0])
            self.assertGreaterEqual(events[-1][1] - events[-2][1], 1000)
        return edid_ram(dump)

    def test_builtin_presets(self):
        boxes = {i: self.box(ini=self.preset(i), mac=f"02:00:00:00:40:{i:02x}") for i in BUILTIN}
        for i, (first, second, ranged, ext) in BUILTIN.items():
            with self.subTest(index=i):
                edid = self.loaded(boxes[i])
                self.assertEqual(b"\x00\xff\xff\xff\xff\xff\xff\x00", edid[:8])
                self.assertTrue(blocks_whole(edid))
                self.assertEqual(b"\x51\xb5\x01\x00", edid[8:12])   # "TMU", product 1
                self.assertEqual(b"Tamsu IP AV\n", descriptor(edid, 0xFC)[:12])
                self.assertEqual(ranged, descriptor(edid, 0xFD) is not None)
                self.assertEqual(first, dtd(edid, 54))
                self.assertEqual(second, dtd(edid, 72)[:2])
                self.assertEqual(ext, edid[126])

    def test_stored_presets_and_a_broken_one(self):
        user = user_edid()
        broken = bytearray(user)
        broken[127] ^= 0x55
        cases = {
            6: (dict(rxedid=bytes(user)), bytes(user)),
            7: (dict(user1edid=bytes(user)), bytes(user)),
            8: (dict(user2edid=bytes(broken)), None),
        }
        boxes = {i: self.box(ini=self.preset(i, **texts), mac=f"02:00:00:00:41:{i:02x}")
                 for i, (texts, _) in cases.items()}
        for i, (_, want) in cases.items():
            with self.subTest(index=i):
                edid = self.loaded(boxes[i])
                if want is None:
                    self.assertEqual((1920, 1080, 14850), dtd(edid, 54))   # built-in EDID 0
                    self.assertRegex(boxes[i].log(), r"\]: edid wrong,use default edid")
                else:
                    self.assertEqual(want, edid)


def user_edid():
    """A user's EDID: maker "ABC", one 1280 x 720 timing, no extension."""
    edid = bytearray(256)
    edid[:8] = b"\x00\xff\xff\xff\xff\xff\xff\x00"
    edid[8:12] = b"\x04\x43\x07\x00"
    edid[18:20] = b"\x01\x03"
    edid[54:72] = bytes.fromhex("01 1d 00 72 51 d0 1e 20 6e 28 55 00 fe 1f 11 00 00 1e")
    edid[127] = (-sum(edid[:127])) % 256
    return bytes(edid)


if __name__ == "__main__":
    unittest.main()
