"""The box's neighbours of the streams: network set-up, the serial,
infrared and KVM relays, and firmware upload through the typed-packet
server."""

import base64
import contextlib
import json
import os
import re
import signal
import time
import unittest

import imagelib
from boxlib import (Box, BoxTest, lan, lan_address, lan_address_drop, lan_client as client, protocol_exchange,
                    wait_until)
from lanclient import take
from protoclient import frame, request

HERE = os.path.dirname(os.path.abspath(__file__))
GUEST_VISIT_S = 0.3     # a guest holds the UART this long
UART_STALL_S = 2.5      # the second UART takes nothing this long: past a UART's 1 s wait for room
PROMPT_S = 5            # bytes that nothing holds up arrive well within this
GONE_BOUND_S = 45       # a client whose host vanished is dropped within this (the box takes ~30 s)
GONE_HOST = "169.254.0.9"   # a LAN host that vanishes
# The display's frames share the second UART with the infrared relay.
DISPLAY_FRAME = re.compile(rb"\xaa\x01[\x00-\xff]{3}[\x00\x01]\x00{7}[\x00-\xff]\x55")


def read_tty(sock, n, timeout=5):
    """Up to n bytes: fewer when the peer closed or none came for the timeout."""
    sock.settimeout(timeout)
    return take(sock, n, quiet=True)


def read_tty_until(sock, got, tail, timeout=10):
    """Reads onto got until it ends with tail."""
    sock.settimeout(timeout)
    while not got.endswith(tail):
        part = sock.recv(65536)
        if not part:
            break
        got += part
    return got


def read_infrared(sock, n, timeout=10):
    """n bytes of the infrared relay from the second UART, the display's
    frames among them left out; fewer when no more came for the timeout."""
    got = b""
    while len(DISPLAY_FRAME.sub(b"", got)) < n:
        part = read_tty(sock, n - len(DISPLAY_FRAME.sub(b"", got)), timeout)
        if not part:
            break
        got += part
    return DISPLAY_FRAME.sub(b"", got)


def stop(proc):
    """Ends a LAN client started by lan_client."""
    proc.kill()
    proc.wait()
    proc.stdout.close()
    proc.stderr.close()


def drain_tty(sock, quiet=1.0, bound=60):
    """Reads until the UART has been quiet for `quiet` seconds: a flood
    before may still have bytes on their way through the relay."""
    end = time.monotonic() + bound
    while read_tty(sock, 1 << 20, timeout=quiet) and time.monotonic() < end:
        pass


class NeighboursTest(BoxTest):
    """One box with a static address; the uploads come last, as each
    resets the box."""
    IP = "169.254.77.7"

    @classmethod
    def setUpClass(cls):
        ini = cls.ini("[netattr]\ndhcp = 0\nip = 169.254.77.7\nsubmask = 255.255.0.0\ngateway = 169.254.100.1\n")
        cls.b = Box(prefix="h3", mac="02:00:00:00:30:01", ini=ini)
        cls.addClassCleanup(cls.b.down)
        cls.b.wait_log(r"MAIN_Set_Hostname:cmd:hostname ")

    def connections(self, *where):
        """The box's established TCP connections that ss's filter words
        pick, as ss lists them: receive queue, send queue, the two ends."""
        return self.b.exec("ss", "-Htn", "state", "established", *where, check=True).stdout.splitlines()

    def flash(self, addr, n):
        with open(self.b.path("/board/flash.img"), "rb") as f:
            f.seek(addr)
            return f.read(n)

    def assertSameBytes(self, data, got):
        """All bytes, in order; else where they first differ."""
        self.assertEqual(len(data), len(got))
        if data != got:
            at = next(i for i in range(len(data)) if data[i] != got[i])
            self.fail(f"bytes changed or out of order from byte {at}: "
                      f"{got[at:at + 16].hex()} where {data[at:at + 16].hex()} was sent")

    def test_1_eth0_carries_the_mac_and_the_stored_gateway(self):
        """The address shows in the relays; the rest of the set-up in the
        network unit tests."""
        self.assertIn("link/ether 02:00:00:00:30:01", self.b.exec("ip", "link", "show", "eth0").stdout)
        self.assertIn("default via 169.254.100.1 dev eth0", self.b.exec("ip", "route").stdout)

    def test_2_relays_move_bytes_both_ways(self):
        for port, tty_index in ((7888, 0), (7889, 1)):
            with self.subTest(port=port):
                tty = self.b.tty(tty_index)
                self.addCleanup(tty.close)
                up, down = b"to the port\r\n\x00\xff", b"from the port\x01\r\n"
                c = client(self.IP, port, [up], read=len(down), pause=0.5)
                self.assertEqual(up, read_tty(tty, len(up)))
                tty.sendall(down)
                self.assertEqual(down, c.result()[1])
        key = bytes([1, 8, 0, 0, 4, 0, 0, 0, 0, 0])
        mouse = bytes([2, 4, 1, 5, 0xfb, 0])
        client(self.IP, 7890, [key, mouse], pause=0.5).result()
        self.assertEqual(key[2:], self.b.read("/dev/hidg0", "rb"))
        self.assertEqual(mouse[2:], self.b.read("/dev/hidg1", "rb"))

    def test_2b_relay_floods_grow_the_log_by_a_few_lines_a_second(self):
        """Infrared (its queue fills: the relay holds the sender, nothing is
        dropped), serial (its port is slow) and the typed-packet server
        (bytes outside packets) flooded at once."""
        def caused():
            """Lines of the relays and the server; the start-up may still log."""
            return [line for line in self.b.log().splitlines() if re.search(r"Tcp|Ir_|Uart|suppressed", line)]

        before = len(caused())
        started = time.monotonic()
        p = lan("python3", os.path.join(HERE, "floodclient.py"), self.IP, "3", "7889", "7888", "5888",
                timeout=60, check=True)
        seconds = time.monotonic() - started
        sent = json.loads(p.stdout)
        self.assertGreater(sent["7889"], 10 << 20, sent)
        self.assertGreater(sent["5888"], 10 << 20, sent)
        grown = caused()[before:]
        self.assertNotIn("queue full", "".join(grown))
        self.assertLessEqual(len(grown), 10 * seconds, grown)

    def test_2c_serial_relays_hold_the_sender_while_the_uart_is_full(self):
        """1 MB at full speed to the relay and to the guest port while the
        UART's far end pauses longer than a second now and then: every byte
        reaches the UART, in order."""
        for port in (7888, 6752):
            with self.subTest(port=port):
                tty = self.b.tty(0)
                self.addCleanup(tty.close)
                drain_tty(tty)
                data = imagelib.data(1 << 20, port)
                c = client(self.IP, port, [data], timeout=60)
                got = b""
                for _ in range(3):
                    time.sleep(1.5)   # the pty and the sockets before it fill up
                    got += read_tty(tty, 65536)
                got += read_tty(tty, len(data) - len(got), timeout=30)
                c.result()
                tty.close()
                self.assertSameBytes(data, got)

    def test_2d_serial_relays_wait_for_a_slow_client(self):
        """1 MB written on the UART at full speed to a client that reads
        with pauses longer than a second: it gets every byte, in order."""
        for port in (7888, 6752):
            with self.subTest(port=port):
                tty = self.b.tty(0)
                self.addCleanup(tty.close)
                tty.settimeout(30)
                data = imagelib.data(1 << 20, port + 1)
                c = client(self.IP, port, [b"ready"], read=len(data), timeout=60,
                           rcvbuf=16384, pauses=[1.5] * 3, step=65536)
                self.assertEqual(b"ready", read_tty(tty, 5))   # the relay has the client
                tty.sendall(data)
                got = c.result()[1]
                tty.close()
                self.assertSameBytes(data, got)

    def test_2e_a_guest_that_closed_gives_the_uart_back_at_once(self):
        """A guest closes; what the UART sends from then on reaches the
        relay's client whole, none of it lost to the closed guest."""
        tty = self.b.tty(0)
        self.addCleanup(tty.close)
        data = imagelib.data(65536, 3)
        relay = client(self.IP, 7888, [b"relay"], read=len(data), timeout=20)
        self.assertEqual(b"relay", read_tty(tty, 5))
        guest = client(self.IP, 6752, [b"guest"])
        self.assertEqual(b"guest", read_tty(tty, 5))
        guest.result()   # its socket closed
        tty.sendall(data)
        got = relay.result()[1]
        self.assertSameBytes(data, got)

    def test_2f_relay_client_waits_out_guest_visits(self):
        """1 MB to the relay while guests visit the guest port, silent or
        talking: the relay's bytes wait out each visit and all reach the
        UART in order, the guest's words where it said them; the UART's
        answer to a guest reaches that guest alone."""
        tty = self.b.tty(0)
        self.addCleanup(tty.close)
        drain_tty(tty)
        data = imagelib.data(1 << 20, 5)
        relay = client(self.IP, 7888, [data], read=5, timeout=60)
        got, said_all = b"", []
        for said, answer in ((b"", b""), (b"guest says\r\n", b"to the guest\r\n"), (b"", b"")):
            with self.subTest(said=said):
                got += read_tty(tty, 65536)   # the relay's bytes flow
                guest = client(self.IP, 6752, [said], read=len(answer), pause=GUEST_VISIT_S)
                got = read_tty_until(tty, got, said)
                tty.sendall(answer)
                self.assertEqual(answer, guest.result()[1])
                said_all.append(said)
        got += read_tty(tty, len(data) + len(b"".join(said_all)) - len(got), timeout=30)
        tty.sendall(b"after")
        self.assertEqual(b"after", relay.result()[1])
        for said in said_all:
            self.assertIn(said, got)
            got = got.replace(said, b"", 1)
        self.assertSameBytes(data, got)

    def test_2g_a_stalled_second_uart_holds_up_nothing_and_loses_nothing(self):
        """The second UART takes nothing for longer than a UART's wait while
        1 MB floods the infrared relay, its far end holding the flow or its
        harness client reading nothing: 64 KiB sent to the serial relay
        meanwhile reach the first UART at once, and every infrared byte
        reaches the second one, in order, once it takes bytes again."""
        stalls = (("the UART holds its flow", lambda: self.b.tty_stopped(1)),
                  ("the client reads nothing", contextlib.nullcontext))
        for n, (stall, stalled) in enumerate(stalls):
            with self.subTest(stall=stall):
                tty0, tty1 = self.b.tty(0), self.b.tty(1)
                self.addCleanup(tty0.close)
                self.addCleanup(tty1.close)
                drain_tty(tty0)
                drain_tty(tty1)
                infrared, serial = imagelib.data(1 << 20, 6 + 2 * n), imagelib.data(65536, 7 + 2 * n)
                with stalled():
                    ir = client(self.IP, 7889, [infrared], timeout=60)
                    wait_until(lambda: any(int(c.split()[0]) for c in self.connections("sport", "=", ":7889")),
                               10, "the infrared relay to hold its client back")
                    started = time.monotonic()
                    relay = client(self.IP, 7888, [serial])
                    got = read_tty(tty0, len(serial), timeout=PROMPT_S)
                    took = time.monotonic() - started
                    time.sleep(max(0.0, UART_STALL_S - took))
                relay.result()
                self.assertSameBytes(serial, got)
                self.assertLess(took, PROMPT_S)
                got = read_infrared(tty1, len(infrared))
                ir.result()
                tty0.close()
                tty1.close()
                self.assertSameBytes(infrared, got)

    def test_2h_clients_of_a_vanished_host_are_dropped(self):
        """A guest and clients of the infrared, KVM and typed-packet servers
        on a LAN host that vanishes without a word (no FIN, no RST, nothing
        answers for it): the box drops each within about 30 s, and the
        relay's client, whose bytes waited meanwhile, has the UART again."""
        tty = self.b.tty(0)
        self.addCleanup(tty.close)
        drain_tty(tty)
        lan_address(self, GONE_HOST)
        ports = (6752, 7889, 7890, 5888)
        for port in ports:
            gone = client(self.IP, port, [b"guest" if port == 6752 else b""], pause=GONE_BOUND_S + 30,
                          bind=GONE_HOST)
            self.addCleanup(stop, gone)
        self.assertEqual(b"guest", read_tty(tty, 5))
        wait_until(lambda: len(self.connections("dst", GONE_HOST)) == len(ports), 10,
                   "the clients of the vanishing host")
        relay = client(self.IP, 7888, [b"held"], read=4, timeout=GONE_BOUND_S + 15)
        lan_address_drop(GONE_HOST, check=True)
        tty.sendall(b"for the vanished guest")
        self.assertEqual(b"held", read_tty(tty, 4, timeout=GONE_BOUND_S))
        tty.sendall(b"back")
        self.assertEqual(b"back", relay.result()[1])
        wait_until(lambda: not self.connections("dst", GONE_HOST), 15, "the vanished host's clients to be dropped")

    def test_2i_nothing_for_the_uart_is_lost_to_serial_settings_changes(self):
        """A guest sends 400 bytes every 50 ms while "serial set params"
        changes the UART's rate and back, each a reopen of about 500 ms,
        each followed by "serial data": every byte reaches the UART, the
        guest's in order."""
        def reopens():
            return self.b.log().count(": reopen the port")

        tty = self.b.tty(0)
        self.addCleanup(tty.close)
        drain_tty(tty)
        before = reopens()
        data, said = imagelib.data(400 * 60, 9), (b"<serial data 1>", b"<serial data 2>")
        guest = client(self.IP, 6752, [data[i:i + 400] for i in range(0, len(data), 400)], gap=0.05, timeout=30)
        got = read_tty(tty, 400)   # the guest talks
        reqs = []
        for baud, words in zip(("57600", "115200"), said):
            params = {"baudrate": baud, "databits": "8", "parity": "0", "stopbits": "1"}
            reqs += [("serial set params", {"serialparams": params}),
                     ("serial data", {"data": base64.b64encode(words).decode()})]
        protocol_exchange([frame(request(cmd, ["All"], seq=n + 1, body=body)) for n, (cmd, body) in enumerate(reqs)],
                          wait=0.0, rate=4)   # each "serial data" 250 ms after its change
        got += read_tty(tty, len(data) + len(b"".join(said)) - len(got), timeout=10)
        guest.result()
        wait_until(lambda: reopens() == before + 2, 5, "two reopens of the UART")
        for words in said:
            self.assertEqual(1, got.count(words), words)
            got = got.replace(words, b"")
        self.assertSameBytes(data, got)

    def test_2j_a_guest_that_sent_and_closed_is_read_to_its_end_before_the_next(self):
        """A guest sends and closes while the UART takes nothing, its bytes
        waiting in the box; a new guest comes: every byte of the first
        reaches the UART, then the second's."""
        tty = self.b.tty(0)
        self.addCleanup(tty.close)
        drain_tty(tty)
        data = imagelib.data(100000, 10)
        def ended():
            """The guests whose end the box has seen."""
            return len(self.b.exec("ss", "-Htn", "state", "close-wait", "sport", "=", ":6752").stdout.splitlines())

        with self.b.tty_stopped(0):
            client(self.IP, 6752, [data]).result()
            wait_until(lambda: ended() == 1, 10, "the box to see the guest's end")
            client(self.IP, 6752, [b"second"]).result()   # queued for the guest port, sent and closed
        self.assertSameBytes(data + b"second", read_tty(tty, len(data) + 6, timeout=30))

    def test_3_uploaded_image_is_verified_written_and_the_box_resets(self):
        addr = 0x100000
        payload = imagelib.data(200000, 7)
        image = imagelib.build([("rootfs", payload, addr)])

        def upload(image):
            return client(self.IP, 5888, imagelib.upgrade_packets(image, 30000), ack=5, timeout=60).result()[0]

        def flash():
            return self.flash(addr, len(payload))

        bad = bytearray(image)
        bad[5000] ^= 0x10
        self.assertEqual(imagelib.ACK_REFUSED, upload(bytes(bad))[-1])
        self.assertEqual(b"\xff" * len(payload), flash())
        self.assertNotIn(["board-reset"], self.b.calls())

        acks = upload(image)
        self.assertEqual([imagelib.ACK_OK] * len(acks), acks)
        self.assertEqual(payload, flash())
        self.b.wait_reset()

    def test_4_an_image_right_behind_a_written_one_is_refused(self):
        """The reset after a written image would cut a second write: the
        second image of one send is refused and its flash left alone."""
        payloads, addrs = (imagelib.data(100000, 8), imagelib.data(100000, 9)), (0x100000, 0x600000)
        packets = [imagelib.upgrade_packets(imagelib.build([("rootfs", p, a)]), 30000)
                   for p, a in zip(payloads, addrs)]
        resets = self.b.calls().count(["board-reset"])
        acks = client(self.IP, 5888, [b"".join(packets[0] + packets[1])], ack=5 * (len(packets[0]) + len(packets[1])),
                      timeout=60).result()[0][0]
        self.assertEqual(imagelib.ACK_OK * len(packets[0]) + imagelib.ACK_REFUSED * len(packets[1]), acks)
        self.assertEqual(payloads[0], self.flash(addrs[0], len(payloads[0])))
        self.assertEqual(b"\xff" * len(payloads[1]), self.flash(addrs[1], len(payloads[1])))
        wait_until(lambda: self.b.calls().count(["board-reset"]) > resets, 10, "the board to reset")


class SerialDataTest(BoxTest):
    def test_serial_data_into_a_full_port_holds_up_neither_getters_nor_the_stop(self):
        """"serial data" at 300 baud into a UART that takes nothing: a
        getter is answered within a second, and a SIGTERM then ends the
        program within 3 s."""
        b = self.box(mac="02:00:00:00:30:02")
        b.wait_log(r"\]: avahi-daemon", timeout=20)
        dev = "020000003002"
        params = {"baudrate": "300", "databits": "8", "parity": "0", "stopbits": "1"}
        protocol_exchange([frame(request("serial set params", [dev], body={"serialparams": params}))], wait=0)
        wait_until(lambda: "speed 300" in b.exec("stty", "-F", "/dev/ttyS0").stdout, 5, "the UART at 300 baud")
        words = base64.b64encode(bytes(range(256)) * 2).decode()   # a datagram takes about 2 KB
        reqs = [frame(request("serial data", [dev], seq=n + 1, body={"data": words})) for n in range(3)]
        with b.tty_stopped(0):
            replies = protocol_exchange(reqs + [frame(request("serial get params", [dev], seq=9))], wait=1.0)[0]
            self.assertEqual([params], [json.loads(text)["serialparams"] for _, text in replies])
            started = time.monotonic()
            os.kill(int(b.app_pid()), signal.SIGTERM)
            b.wait_log(r"\]: stopped$", timeout=20)
            self.assertLess(time.monotonic() - started, 3)


if __name__ == "__main__":
    unittest.main()
