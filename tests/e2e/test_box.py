"""The box itself: the program runs isolated, with its board stand-ins."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from boxlib import ROOT, STATE, Box, BoxTest, box, default_ip, lan, protocol_exchange, wait_until
from protoclient import frame, request

STAMP = r"\[\d\d \d\d:\d\d:\d\d\.\d{3}\]: "


def host_view():
    """What a box must never change on the host."""
    run = lambda *c: subprocess.run(c, capture_output=True, text=True).stdout
    return run("hostname"), run("ip", "-o", "addr"), run("ip", "route"), run("ip", "-o", "link")


def group_gone(pgid):
    """No process of the group runs (an orphan that ended may stay a zombie
    a while)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue   # ended meanwhile
        if int(fields[2]) == pgid and fields[0] != "Z":
            return False
    return True


def drain(stream):
    with stream:
        stream.read()


def kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except ProcessLookupError:
        pass   # ended as it should


def program(folder, text):
    """A stand-in for the program: a shell script of that text."""
    path = os.path.join(folder, "app")
    with open(path, "w") as f:
        f.write("#!/bin/sh\necho 'last words'\n" + text)
    os.chmod(path, 0o755)
    return path


def listed(name):
    return [line for line in box("list").stdout.splitlines() if line.split()[0] == name]


def wdt_kicks(b):
    """Times (ms) of the watchdog's kicks."""
    return [int(line.split()[0]) for line in b.read("/dev/watchdog").splitlines()
            if line.split()[1] == "kick"]


class BoxTestCase(BoxTest):
    def test_program_runs_with_watchdog_status_led_and_log(self):
        b = self.box(mac="02:00:00:00:10:01")
        b.wait_log(rf"^{STAMP}avahi-daemon$")
        wait_until(lambda: len(wdt_kicks(b)) >= 8, 10, "watchdog kicks")
        kicks = wdt_kicks(b)[-6:]
        gaps = sorted(b - a for a, b in zip(kicks, kicks[1:]))
        self.assertTrue(400 <= gaps[len(gaps) // 2] <= 700, gaps)
        levels = set()
        for _ in range(12):
            levels.add(b.read("/sys/class/gpio/gpio68/value").strip("\0\n"))
            time.sleep(0.2)
        self.assertEqual({"0", "1"}, levels)
        self.assertEqual("out", b.read("/sys/class/gpio/gpio68/direction").strip())
        self.assertEqual("1", b.read("/sys/class/gpio/gpio69/value").strip("\0\n"))
        self.assertEqual(["igmp_report.sh"], b.calls()[0])

    def test_reset_key_held_three_seconds_restores_the_defaults_and_reboots(self):
        mac = "02:00:00:00:10:02"
        b = self.box(ini=self.ini('[devattr]\nalias = "meeting-room"\n'), mac=mac)
        b.wait_log("avahi-daemon")
        first = b.read("/board/app.pid")
        self.assertEqual(0, b.sim("key", "press").returncode)
        time.sleep(1)
        self.assertEqual(0, b.sim("key", "release").returncode)
        time.sleep(0.5)
        self.assertNotIn("factory reset", b.log())
        b.sim("key", "press")
        b.wait_reset()
        b.sim("key", "release")
        ini = b.read("/etc/app.ini")
        self.assertRegex(ini, r'(?m)^alias += "KVB 001 *"$')
        self.assertRegex(ini, rf'(?m)^ip += "{re.escape(default_ip(mac))} *"$')
        wait_until(lambda: os.path.exists(b.path("/board/app.pid"))
                   and b.read("/board/app.pid") not in ("", first), 10, "the program to start again")
        self.assertRegex(b.log(), rf"{STAMP}Key_Thread: factory reset")

    def test_term_stops_every_service_in_order_within_two_seconds(self):
        b = self.box(ini=self.ini('[devattr]\nalias = "stage-left"\n'), mac="02:00:00:00:10:07")
        b.wait_log(rf"^{STAMP}avahi-daemon$")
        wait_until(lambda: re.search(r"^hpd high", b.sim("hdmirx").stdout, re.M), 15, "the EDID preset")
        b.sim("plug", "1920x1080p60")
        b.wait_log(r"clear connect status", timeout=10)
        # A change whose save is still 2 s away when the stop comes.
        protocol_exchange([frame(request("config set alias", ["All"], body={"alias": {"name": "stage-right"}}))],
                          wait=0.2)
        pid = b.read("/board/app.pid").strip()
        killed = time.monotonic()
        self.assertEqual(0, b.exec("kill", "-TERM", pid).returncode)
        wait_until(lambda: os.path.exists(b.path("/board/app.exit")), 2, "the program to end")
        self.assertLess(time.monotonic() - killed, 2.0)
        self.assertEqual("0", b.read("/board/app.exit").strip())
        log = b.log()
        tail = log[log.index("]: stop\n"):]
        self.assertRegex(tail, rf"{STAMP}stopped\n")
        self.assertNotRegex(tail, r"(?i)failed|err!")
        ini = b.read("/etc/app.ini")
        self.assertRegex(ini, r'(?m)^alias += "stage-right *"$')
        for section in ("devattr", "mainattr", "subattr", "netattr", "serialattr", "manualattr", "miscattr",
                        "edidattr"):
            self.assertIn(f"[{section}]", ini)

    def test_boxes_leave_the_host_alone_and_nothing_behind(self):
        before = host_view()
        a = Box(prefix="iso", mac="02:00:00:00:10:03")
        c = Box(prefix="iso", mac="02:00:00:00:10:04")
        self.assertNotEqual(before[0], a.exec("hostname").stdout)
        self.assertEqual(0, a.exec("ip", "link", "show", "eth0").returncode)
        ports = lan("ip", "-o", "link", "show", "master", "br0").stdout
        self.assertIn(f"hb-{a.name}"[:15], ports)
        self.assertIn(f"hb-{c.name}"[:15], ports)
        a.down()
        c.down()
        self.assertEqual(before, host_view())
        for b in (a, c):
            self.assertFalse(os.path.exists(f"{STATE}/{b.name}"))
            ps = subprocess.run(["pgrep", "-f", f"_init {b.name}$|_boxd {b.name}$"],
                                capture_output=True, text=True).stdout
            self.assertEqual("", ps)
            with open("/proc/self/mounts") as mounts:
                self.assertNotIn(f"{STATE}/{b.name}/", mounts.read())

    def test_harness_takes_words_at_once_and_resets_like_the_board(self):
        b = self.box(mac="02:00:00:00:10:05")
        # Right after up the program answers its control protocol and takes
        # every simulation word.
        replies, _ = protocol_exchange([frame(request("config get id", ["020000001005"]))])
        self.assertEqual(1, len(replies), replies)
        self.assertEqual(0, b.sim("plug", "1920x1080p60").returncode)
        for words in (("audio", "44100"), ("hdcp", "on"), ("hdcp", "off"), ("unplug",), ("plug", "1280x720p50", "dvi")):
            self.assertEqual(0, b.sim(*words).returncode, words)
        self.assertEqual(1, b.sim("plug", "640x400p85").returncode)
        source = "source plugged 1280x720p50 dvi, hdcp off, audio 44100 Hz, avmute off"
        self.assertIn(source, b.sim("hdmirx").stdout)

        # Words the harness itself takes are listed and explained with the others.
        helped = b.sim("help")
        self.assertEqual(0, helped.returncode)
        self.assertRegex(helped.stdout, r"(?m)^key press\|release: .*\n(.*\n)*ok\n$")
        for words in (("key",), ("key", "down"), ("key", "press", "now")):
            refused = b.sim(*words)
            self.assertEqual(("error: key: press or release\n", 1), (refused.stdout, refused.returncode))
        self.assertNotEqual(0, box("path", b.name, "etc/app.ini", check=False).returncode)

        # A program killed by a signal resets the box, as its watchdog would;
        # the source stays plugged and the program sees it again.
        first = b.read("/board/app.pid")
        b.exec("sh", "-c", "kill -9 $(cat /board/app.pid)")
        wait_until(lambda: ["board-reset"] in b.calls(), 10, "the board to reset")
        wait_until(lambda: os.path.exists(b.path("/board/app.pid"))
                   and b.read("/board/app.pid") not in ("", first), 10, "the program to start again")
        wait_until(lambda: source in b.sim("hdmirx").stdout, 15, "the source seen again")

        # Two resets at once are one after the other, and the box lives on.
        init = int(open(f"{STATE}/{b.name}/pid").read())
        resets = b.calls().count(["board-reset"])
        os.kill(init, signal.SIGUSR2)
        os.kill(init, signal.SIGUSR2)
        wait_until(lambda: b.calls().count(["board-reset"]) > resets, 10, "the reset")
        self.assertEqual(0, b.sim("hdmirx").returncode)

        # The daemon skips what it cannot read and outlives a reset relay
        # client; its watchdog model and relays still work.
        with open(b.path("/dev/watchdog"), "a") as f:
            f.write("garbage\n12 kick\n")
        tty = b.tty(1)
        time.sleep(0.3)
        b.exec("sh", "-c", "echo unread > /dev/ttyS1")
        time.sleep(0.3)
        tty.close()                      # with unread bytes: the daemon's read is reset
        tty = b.tty(1)
        time.sleep(0.3)
        b.exec("sh", "-c", "echo again > /dev/ttyS1")
        tty.settimeout(5)
        self.assertEqual(b"again", tty.recv(5))
        tty.close()
        boxd = open(f"{STATE}/{b.name}/boxd.log").read()
        self.assertIn("watchdog record 'garbage\\n' skipped", boxd)
        self.assertIn("client dropped", boxd)

    def test_reset_clears_the_volatile_files_but_not_a_checkout_under_tmp(self):
        """A clone in /tmp (CI): the box shows the checkout inside its own
        /tmp, whose files a reset clears."""
        place = tempfile.mkdtemp(prefix="hdmibox-ck", dir="/tmp")
        self.addCleanup(os.rmdir, place)
        # This checkout seen at that place, by the harness there only.
        tool = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                'mount --bind "$0" "$1" && at=$1 && shift && exec "$at/tools/box" "$@"', ROOT, place]
        b = self.box(mac="02:00:00:00:10:08", tool=tool)
        listing = b.exec("ls", "-A", place).stdout
        self.assertIn("tools\n", listing)
        self.assertEqual(0, b.exec("sh", "-c", "echo x > /tmp/scratch && mkdir /run/scratch").returncode)
        first = b.app_pid()
        with open(f"{STATE}/{b.name}/pid") as f:
            os.kill(int(f.read()), signal.SIGUSR2)
        wait_until(lambda: ["board-reset"] in b.calls(), 10, "the board to reset")

        def program():
            try:
                return b.app_pid()
            except AssertionError:
                return None   # between its runs
        wait_until(lambda: program() not in (None, first), 10, "the program to start again")
        self.assertEqual(listing, b.exec("ls", "-A", place).stdout)
        self.assertEqual("", b.exec("ls", "-A", "/tmp/scratch", "/run/scratch").stdout)
        self.assertNotRegex(b.log(), r"cannot delete|Device or resource busy")

    def up_with(self, text, mac):
        """Makes a box with a stand-in program of that text; up's process."""
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        name = f"end{os.getpid() % 100000}x{mac[-2:]}"
        self.addCleanup(box, "down", name, check=False)
        return name, box("up", name, "--mac", mac, check=False, env=dict(os.environ, BOX_APP=program(folder, text)))

    def ended_line(self, p, name, how, words="last words"):
        self.assertEqual(1, p.returncode)
        self.assertEqual(f"box: {name}: the program ended at start-up ({how}): tools/box log {name} has its last "
                         "words\n", p.stderr)
        self.assertIn(words, box("log", name).stdout)

    def test_a_program_dying_at_every_start_up_is_restarted_at_a_boards_pace_for_good(self):
        name, p = self.up_with("kill -SEGV $$\n", "02:00:00:00:10:31")
        self.ended_line(p, name, "signal 11; the box resets and starts it again")
        self.assertEqual([f"{name} up, its program ended (signal 11; the box resets)"], listed(name))
        calls = box("path", name, "/board/calls.log").stdout.strip()

        def resets():
            with open(calls) as f:
                return f.read().count(" board-reset\n")
        first = resets()
        time.sleep(4)
        # About a second each: a machine under load only makes them fewer.
        self.assertLessEqual(resets() - first, 6)
        for _ in range(2):
            seen = resets()
            wait_until(lambda: resets() > seen, 10, "the next reset")

    def test_start_and_up_name_a_program_that_ends_at_start_up(self):
        name, p = self.up_with("exit 3\n", "02:00:00:00:10:32")
        self.ended_line(p, name, "exit status 3")
        self.assertEqual([f"{name} up, its program ended (exit status 3)"], listed(name))
        self.ended_line(box("start", name, check=False), name, "exit status 3")

        # The program of a cut upgrade; once it runs, start says so.
        b = self.box(mac="02:00:00:00:10:33", start=False)
        self.assertEqual([f"{b.name} up, its program not running"], listed(b.name))
        b.exec("mkdir", "/root/update", check=True)
        self.ended_line(b.start(check=False), b.name, "exit status 0", "Update Fail!")
        self.assertEqual([f"{b.name} up, its program ended (exit status 0)"], listed(b.name))
        b.exec("rmdir", "/root/update", check=True)
        self.assertEqual("", b.start().stderr)
        self.assertEqual([f"{b.name} up"], listed(b.name))
        again = b.start()
        self.assertEqual((f"box {b.name}: the program runs already (pid {b.read('/board/app.pid').strip()} in the "
                          "box)\n", ""), (again.stdout, again.stderr))

    def test_up_refuses_a_bad_mac_or_a_file_it_cannot_take_before_making_anything(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        oversized, fifo = os.path.join(folder, "params"), os.path.join(folder, "fifo")
        with open(oversized, "wb") as f:
            f.truncate(64 << 20)    # the old parameter block is the flash's last 64 KiB; --ini takes 1 MiB
        os.mkfifo(fifo)             # would wait for a writer
        name = f"bad{os.getpid() % 100000}"
        for opt, value in (("--mac", "zz:zz"), ("--mac", "02-00-00-00-e1-01"), ("--mac", "02:00:00:00:e1"),
                           ("--mac", "02:00:00:00:e1:01:02"), ("--mac", "02:00:00:00:e1:1g"),
                           ("--mac", "01:00:5e:44:12:10"), ("--mac", "03:00:00:00:e1:01"),
                           ("--mac", "00:00:00:00:00:00"),
                           ("--ini", "/nonexistent"), ("--ini", folder), ("--ini", fifo),
                           ("--ini", "/dev/zero"), ("--ini", oversized),
                           ("--old-params", "/nonexistent"), ("--old-params", folder), ("--old-params", fifo),
                           ("--old-params", "/dev/zero"), ("--old-params", oversized)):
            with self.subTest(opt=opt, value=value):
                p = box("up", name, opt, value, check=False, timeout=20)
                if p.returncode == 0:
                    box("down", name, check=False)
                self.assertNotEqual(0, p.returncode)
                self.assertEqual(1, len(p.stderr.splitlines()), p.stderr)
                self.assertTrue(p.stderr.startswith(f"box: {opt} "), p.stderr)
                self.assertFalse(os.path.exists(f"{STATE}/{name}"))
        self.assertRegex(box("up", name, "--mac", "zz:zz", check=False).stderr,
                         r"six hexadecimal bytes separated by colons")

    def tools_run(self):
        """tools/run on this test's LAN, in a session of its own, once it
        follows its box's log; its output is read on meanwhile."""
        run = subprocess.Popen([os.path.join(ROOT, "tools", "run")], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        self.addCleanup(box, "down", "tx1", check=False)
        self.addCleanup(run.wait)
        self.addCleanup(kill_group, run.pid)
        for line in run.stdout:
            if line.startswith("Following the program's log"):
                threading.Thread(target=drain, args=(run.stdout,), daemon=True).start()
                return run
        self.fail(f"tools/run ended with {run.wait()} before following the log")

    def test_tools_run_ends_on_a_signal_to_its_pid_and_a_second_one_is_refused(self):
        def init():
            with open(f"{STATE}/tx1/pid") as f:
                return f.read()
        first = self.tools_run()
        first_init = init()
        second = subprocess.Popen([os.path.join(ROOT, "tools", "run")], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, start_new_session=True)
        self.addCleanup(second.wait)
        self.addCleanup(kill_group, second.pid)
        out, err = second.communicate(timeout=10)
        self.assertNotEqual(0, second.returncode)
        self.assertEqual("", out)
        self.assertIn("HDMIBOX_LAN", err)
        self.assertIn(f"pid {first.pid}", err)
        self.assertEqual(first_init, init())
        self.assertIsNone(first.poll())

        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                run = first if sig == signal.SIGTERM else self.tools_run()
                os.kill(run.pid, sig)
                run.wait(timeout=10)
                wait_until(lambda: group_gone(run.pid), 5, "the run's processes to end")
                self.assertEqual("", box("list").stdout)

        # A run killed outright leaves its box: the next run takes it over.
        killed = self.tools_run()
        os.kill(killed.pid, signal.SIGKILL)
        killed.wait()
        self.assertTrue(os.path.isdir(f"{STATE}/tx1"))
        run = self.tools_run()
        os.kill(run.pid, signal.SIGTERM)
        run.wait(timeout=10)
        for pgid in (killed.pid, run.pid):
            wait_until(lambda: group_gone(pgid), 5, "the runs' processes to end")
        self.assertEqual("", box("list").stdout)

    def test_tests_and_benchmarks_leave_a_box_of_tools_run_alone(self):
        """On a host of its own: a test run (or a benchmark) not given a LAN
        neither reaches nor reconfigures a box of tools/run, even one with
        the same MAC, and drops its LAN and those of killed runs."""
        env = {k: v for k, v in os.environ.items() if k != "HDMIBOX_LAN"}
        p = subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable,
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "besiderun.py")],
                           env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(0, p.returncode, p.stderr[-3000:])
        got = json.loads(p.stdout.splitlines()[-1])
        self.assertEqual(default_ip("02:00:00:00:0a:0b"), got["addr"])
        self.assertEqual([{"deviceid": "020000000a0b", "alias": "from-the-tests"}],
                         [{k: r["device"][k] for k in ("deviceid", "alias")} for r in got["test_replies"]])
        self.assertEqual(1, len(got["run_replies"]))
        device = got["run_replies"][0]["device"]
        self.assertNotEqual("from-the-tests", device["alias"])
        self.assertEqual(got["addr"], device["devaddr"])
        self.assertEqual([], got["left"])

    def test_benchmark_scripts_take_a_lan_of_their_own(self):
        """Loaded without HDMIBOX_LAN, each sets the LAN of its process
        (autoPID) for the boxes it makes, as the tests do."""
        env = {k: v for k, v in os.environ.items() if k != "HDMIBOX_LAN"}
        bench = os.path.join(ROOT, "bench")
        load = "import os, sys; sys.path.insert(0, sys.argv[1]); __import__(sys.argv[2]); " \
               "print(os.getpid(), os.environ.get('HDMIBOX_LAN'))"
        for script in sorted(f for f in os.listdir(bench) if f.endswith(".py")):
            with self.subTest(script=script):
                p = subprocess.run([sys.executable, "-c", load, bench, script[:-3]], env=env, capture_output=True,
                                   text=True, timeout=60)
                self.assertEqual(0, p.returncode, p.stderr)
                pid, word = p.stdout.split()
                self.assertEqual(f"auto{pid}", word)

    def test_usage_names_the_users_commands_only(self):
        p = box(check=False)
        self.assertEqual(2, p.returncode)
        self.assertIn("{up,start,log,down,exec,sim,lan,isolate,path,list,drop-lan,prune}", p.stderr)
        self.assertNotRegex(box("--help").stdout, r"_init|_ask|_boxd")

    def test_lan_clients_show_their_usage_and_refuse_what_they_do_not_take(self):
        here = os.path.dirname(os.path.abspath(__file__))
        client = os.path.join(here, "protoclient.py")
        for args, code in ((["--help"], 0), ([], 2), (["--bogus", "config get device"], 2),
                           (["--job", "config get device"], 2), (["--body", "[1]", "config set alias"], 2)):
            # Standard input stays open: a client that waited on it would time out.
            p = subprocess.run([sys.executable, client, *args], stdin=subprocess.PIPE, capture_output=True,
                               text=True, timeout=10)
            self.assertEqual(code, p.returncode, args)
            self.assertIn("usage: protoclient.py [--body JSON] [--wait S] COMMAND [ID...]", p.stdout + p.stderr)
        p = subprocess.run([sys.executable, client, "--job"], input="[]", capture_output=True, text=True, timeout=10)
        self.assertEqual((1, 'protoclient.py: --job takes a JSON object with a "send" list on standard input\n'),
                         (p.returncode, p.stderr))
        p = subprocess.run([sys.executable, os.path.join(here, "snapclient.py")], capture_output=True, text=True,
                           timeout=10)
        self.assertEqual(1, p.returncode)
        self.assertIn("snapclient.py HOST --jpeg FILE", p.stderr)


if __name__ == "__main__":
    unittest.main()
