#!/usr/bin/python3
"""Robustness scenarios on the real program: interfaces coming and going fast, hostile
interface aliases and player titles.

usage: run_robustness.py --binary PATH [--out DIR] [--churn-seconds N] [-k NAME]
Needs root (network namespaces, tun devices). Builds on the e2e suite's session and helpers.
"""

import argparse
import errno
import os
import sys
import threading
import time
import unittest

# No __pycache__ left in the source tree by the imports below.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sess  # noqa: E402
from session import run, wait_for, PY, HERE  # noqa: E402
import run_e2e as e2e  # noqa: E402
from run_e2e import (Program, fresh_dir, list_rows, veth_row, click, bytes_text,  # noqa: E402
                     ticker_text, visible_window, IND)

ARGS = None
S = None
A11Y = None
PLAYER_NAME = "org.mpris.MediaPlayer2.kvrob"
MARKUP = "<b>x</b><img src=file:///etc/passwd>"
# Indicator on, far from the main window, so clicks on the list land on the list.
INDICATOR_DATA = b"10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n3000\r\n10500\r\n0\r\n1\r\n"


def note(line):
    print("robustness: " + line, flush=True)


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def near_links():
    return [l.split(":")[1].strip().split("@")[0] for l in S.links().splitlines()]


def description(dev, alias):
    """The row text the program builds: name and alias, cut to 256 bytes on a character
    boundary, invalid bytes shown as U+FFFD."""
    raw = dev.encode() + (b" (" + alias + b")" if alias else b"")
    if len(raw) > 256:
        cut = 256
        while (raw[cut] & 0xC0) == 0x80:
            cut -= 1
        raw = raw[:cut]
    return raw.decode("utf-8", errors="replace")


class Churn:
    """veth pairs and tun devices added and removed in a namespace, one change per step,
    through one long-lived `ip -batch` reading a fifo (no process start per step)."""

    def __init__(self, ns, period):
        self.period = period
        self.fifo = os.path.join(S.tmp, "churn.fifo")
        os.mkfifo(self.fifo)
        self.proc = S.spawn(["ip", "-force", "-batch", self.fifo], netns=ns, log="churn")

        def open_writer():
            try:
                return os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as e:
                if e.errno == errno.ENXIO:  # ip has not opened its end yet
                    return None
                raise
        fd = wait_for(open_writer, 10, what="ip -batch reading the fifo")
        os.set_blocking(fd, True)
        self.out = os.fdopen(fd, "w", buffering=1)
        self.steps = 0
        self.pairs = 0
        self.tuns = 0

    def step(self):
        n = self.steps // 4
        phase = self.steps % 4
        if phase == 0:
            self.out.write("link add kvca%d type veth peer name kvcb%d\n" % (n, n))
            self.out.write("link set kvca%d up\nlink set kvcb%d up\n" % (n, n))
            self.pairs += 1
        elif phase == 1:
            self.out.write("tuntap add dev kvt%d mode tun\n" % n)
            self.tuns += 1
        elif phase == 2:
            self.out.write("link del kvca%d\n" % n)
        else:
            self.out.write("tuntap del dev kvt%d mode tun\n" % n)
        self.steps += 1

    def finish(self):
        n = self.steps // 4
        phase = self.steps % 4
        # undo what the last, unfinished cycle added
        if 1 <= phase <= 2:
            self.out.write("link del kvca%d\n" % n)
        if 2 <= phase <= 3:
            self.out.write("tuntap del dev kvt%d mode tun\n" % n)
        self.out.close()
        self.proc.wait(20)

    def errors(self):
        with open(os.path.join(S.tmp, "churn.log"), errors="replace") as f:
            return [l for l in f.read().splitlines() if l.strip()]


def read_state(prog):
    """One look at the main window: the list's rows and the interface readout."""
    rows = [r.name for r in list_rows(prog)]
    return rows, prog.value("Интерфейс")


def churn_name(text):
    return any(text.startswith(p) for p in ("lo", S.veth_near, "kvca", "kvcb", "kvt"))


class T01Churn(e2e.Base):
    def test_interface_churn(self):
        duration = ARGS.churn_seconds
        d = fresh_dir("churn")
        prog = Program(d)
        index, row = veth_row(prog)
        click(*row.center())
        prog.wait_value("Интерфейс", row.name)
        steady_rows = len(list_rows(prog))
        tx0, rx0 = S.stable_counters()

        # a known amount of traffic over the steady link, spread over the churn
        count, size = max(50, duration * 20), 1000
        sender = S.spawn([PY, "-c",
                          "import socket,time\n"
                          "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                          "for i in range(%d):\n"
                          "    s.sendto(b'z'*%d, ('%s', 9)); time.sleep(%f)\n"
                          % (count, size, S.near_ip, duration / count * 0.9)],
                         netns=S.ns_far, log="sender")

        churn = Churn(S.ns_near, 0.1)
        stop = threading.Event()

        def churning():
            # its own thread, so slow window reads never bunch the steps up
            next_step = time.monotonic()
            while not stop.is_set():
                churn.step()
                next_step += churn.period
                stop.wait(max(0.0, next_step - time.monotonic()))
        started = time.monotonic()
        worker = threading.Thread(target=churning)
        worker.start()
        rss_start = None
        samples = reads_failed = watching = waiting = 0
        row_counts = set()
        try:
            while time.monotonic() - started < duration:
                if rss_start is None and time.monotonic() - started >= min(10, duration / 2):
                    rss_start = rss_kb(prog.pid)
                self.assertIsNone(prog.p.poll(), "the program ended during the churn")
                try:
                    rows, label = read_state(prog)
                except Exception:  # noqa: BLE001 - a row deleted while it was read
                    reads_failed += 1
                else:
                    samples += 1
                    row_counts.add(len(rows))
                    if label:
                        watching += 1
                        self.assertTrue(churn_name(label), "readout names %r" % label)
                    else:
                        waiting += 1
                time.sleep(0.5)
        finally:
            stop.set()
            worker.join()
        churn.finish()
        churn_time = time.monotonic() - started
        self.assertIsNone(prog.p.poll(), "the program ended during the churn")
        errors = churn.errors()
        self.assertEqual(errors, [], "ip -batch complained")
        self.assertEqual(sorted(near_links()), sorted(["lo", S.veth_near]))
        sender.wait(duration + 30)

        # settled: the list is rebuilt for the final count and the program watches or waits
        wait_for(lambda: len(list_rows(prog)) == steady_rows, 10, what="list back to its rows")
        time.sleep(2.5)
        index2, row2 = veth_row(prog)
        label = prog.value("Интерфейс")
        if label == row2.name:
            how = "was watching it again by itself"
        else:
            self.assertEqual(label, "", "neither watching the veth nor waiting")
            time.sleep(1.5)
            self.assertEqual(prog.value("Интерфейс"), "", "a waiting program showed a readout")
            click(*row2.center())
            how = "was waiting; the row was clicked again"
        prog.wait_value("Интерфейс", row2.name)
        self.assertEqual([r.name for r in list_rows(prog) if r.selected], [row2.name])

        tx, rx = S.stable_counters()
        frames = count * (size + 42)  # Ethernet, IPv4 and UDP headers
        self.assertGreaterEqual(rx - rx0, frames)
        self.assertLess(rx - rx0 - frames, 2000, "more than the sender and ARP received")
        prog.wait_value("Отправлено", "Отправлено: " + bytes_text(tx))
        prog.wait_value("Принято", "Принято: " + bytes_text(rx))
        time.sleep(1.0)
        rss_end = rss_kb(prog.pid)
        note("churn %.0f s: %d steps (%d veth pairs, %d tun devices added and removed), "
             "rows seen %s, %d window reads (%d watching, %d waiting, %d retried); %s"
             % (churn_time, churn.steps, churn.pairs, churn.tuns, sorted(row_counts), samples,
                watching, waiting, reads_failed, how))
        note("steady %s: sent %d, received %d bytes (%d datagrams of %d bytes sent to it); "
             "readouts '%s', '%s'" % (S.veth_near, tx, rx, count, size,
                                      prog.value("Отправлено"), prog.value("Принято")))
        note("RSS at 10 s %d kB, at the end %d kB (%+d kB)" % (rss_start, rss_end,
                                                             rss_end - rss_start))
        self.assertGreater(samples, duration // 3)
        self.assertGreater(churn.steps, 0.9 * churn_time / churn.period, "churn fell behind")
        self.assertGreater(len(row_counts), 1, "the list never changed size")
        self.assertLess(rss_end - rss_start, 1024, "RSS grew by 1 MB or more")
        prog.exit()


def alias_bytes_long():
    alias = ("€" * 85).encode()
    assert len(alias) == 255
    return alias


class T02HostileStrings(e2e.Base):
    def set_alias(self, alias):
        r = run([b"ip", b"netns", b"exec", S.ns_near.encode(), b"ip", b"link", b"set", b"dev",
                 S.veth_near.encode(), b"alias", alias], check=False)
        return r.returncode, r.stderr.strip()

    def rebuild(self, prog, rows):
        """A device comes and goes: the program rebuilds its list twice and picks the
        remembered row again."""
        S.ns(S.ns_near, "ip", "tuntap", "add", "dev", "kvtx", "mode", "tun")
        wait_for(lambda: len(list_rows(prog)) == rows + 1, 10, what="list with kvtx")
        S.ns(S.ns_near, "ip", "tuntap", "del", "dev", "kvtx", "mode", "tun")
        wait_for(lambda: len(list_rows(prog)) == rows, 10, what="list without kvtx")

    def test_hostile_aliases_and_titles(self):
        d = fresh_dir("hostile", INDICATOR_DATA)
        prog = Program(d)
        index, row = veth_row(prog)
        click(*row.center())
        prog.wait_value("Интерфейс", row.name)
        rows = len(list_rows(prog))
        cases = [("markup", MARKUP.encode()), ("255 bytes of €", alias_bytes_long()),
                 ("invalid UTF-8", b"bad\xff\xfe\xc3(end\xff")]
        for what, alias in cases:
            code, err = self.set_alias(alias)
            self.assertEqual(code, 0, "ip refused the %s alias: %s" % (what, err))
            shown = description(S.veth_near, alias)
            prog.wait_value("Интерфейс", shown)
            self.rebuild(prog, rows)
            prog.wait_value("Интерфейс", shown)
            names = [r.name for r in list_rows(prog)]
            self.assertEqual(names[index], shown, what)
            self.assertIsNone(prog.p.poll())
            note("alias %s (%d bytes): row and readout read %d characters, %d bytes: %r"
                 % (what, len(alias), len(shown), len(shown.encode()),
                    shown if len(shown) < 60 else shown[:40] + "…"))
        self.assertIn("<b>x</b>", description(S.veth_near, MARKUP.encode()))
        # one byte over the kernel's limit is refused before it reaches the program
        code, err = self.set_alias(b"a" * 256)
        self.assertNotEqual(code, 0)
        note("a 256-byte alias: ip refuses it (%s)" % err.rsplit(":", 1)[-1].strip())
        self.set_alias(b"")
        prog.wait_value("Интерфейс", S.veth_near)

        visible_window(prog.pid, IND)
        long_title = "Длинное название " + "".join(chr(0x430 + i % 32) + chr(0x41 + i % 26)
                                                  for i in range(50000))
        long_title = long_title[:100000]
        for what, artist, title in (("markup", "<i>a</i>", MARKUP),
                                    ("100 000 characters", "Исполнитель", long_title)):
            player = self.start_player(artist, title)
            body = ("%s - %s" % (artist, title))[:512] + " *** "
            seen = set()

            def ticking():
                t = ticker_text(prog)
                # the line holds at most 64 characters of the rotated title
                if t and len(t) == min(64, len(body)) and t in body + body:
                    seen.add(t)
                return len(seen) >= 3
            wait_for(ticking, 15, what="the ticker scrolling the %s title" % what)
            self.assertIsNone(prog.p.poll())
            note("player title %s: ticker showed %d distinct rotations, e.g. %r"
                 % (what, len(seen), sorted(seen)[0]))
            S.stop(player)
        prog.wait_value("Интерфейс", S.veth_near)
        prog.exit()

    def start_player(self, artist, title):
        path = os.path.join(S.tmp, "title.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(artist + "\n" + title)
        p = S.spawn([PY, os.path.abspath(__file__), "--player", path], log="player")
        wait_for(lambda: PLAYER_NAME in run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.ListNames"], env=S.env, check=False).stdout, 10,
                 what="the player stand-in on the bus")
        return p


def player_standin(path):
    """A playing MPRIS player whose only track has the given artist and title."""
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    with open(path, encoding="utf-8") as f:
        artist, title = f.read().split("\n", 1)
    DBusGMainLoop(set_as_default=True)

    class Player(dbus.service.Object):
        @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s",
                             out_signature="a{sv}")
        def GetAll(self, interface):
            if interface != "org.mpris.MediaPlayer2.Player":
                return dbus.Dictionary({"Identity": "kvrob"}, signature="sv")
            meta = dbus.Dictionary({
                "xesam:title": dbus.String(title),
                "xesam:artist": dbus.Array([artist], signature="s"),
                "mpris:trackid": dbus.ObjectPath("/kvrob/1")}, signature="sv")
            return dbus.Dictionary({"PlaybackStatus": "Playing", "Metadata": meta},
                                   signature="sv")

        @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss",
                             out_signature="v")
        def Get(self, interface, prop):
            return self.GetAll(interface)[prop]

    bus = dbus.SessionBus()
    Player(bus, "/org/mpris/MediaPlayer2")
    name = dbus.service.BusName(PLAYER_NAME, bus)  # noqa: F841 - owned while referenced
    GLib.MainLoop().run()


def main():
    global ARGS, S, A11Y
    if len(sys.argv) == 3 and sys.argv[1] == "--player":
        player_standin(sys.argv[2])
        return 0
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--out", default=os.path.join(HERE, "out-robustness"))
    ap.add_argument("--churn-seconds", type=int, default=60)
    ap.add_argument("-k", dest="only")
    ARGS = ap.parse_args()
    if os.geteuid() != 0:
        print("robustness: needs root for network namespaces and tun devices")
        print("0 passed, 0 failed, 1 skipped")
        return 0
    os.makedirs(ARGS.out, exist_ok=True)
    started = time.monotonic()
    S = sess.Session(ARGS.out)
    e2e.ARGS, e2e.S = ARGS, S
    result = None
    try:
        S.start_desktop()
        S.start_network()
        S.start_system_bus()
        import a11y
        A11Y = e2e.A11Y = a11y
        loader = unittest.TestLoader()
        if ARGS.only:
            loader.testNamePatterns = ["*%s*" % ARGS.only]
        suite = loader.loadTestsFromTestCase(T01Churn)
        suite.addTests(loader.loadTestsFromTestCase(T02HostileStrings))
        result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    finally:
        ok = result is not None and result.wasSuccessful()
        S.close(keep_logs=not ok)
    left = S.leftovers()
    links = run(["ip", "-o", "link"], check=False).stdout
    left += ["device " + w.split(":")[1].strip() for w in links.splitlines()
             if any(" %s" % p in w for p in ("kvca", "kvcb", "kvt"))]
    for what in left:
        print("robustness: left behind: %s" % what)
    failed = len(result.failures) + len(result.errors) + (1 if left else 0)
    skipped = len(result.skipped)
    passed = result.testsRun - len(result.failures) - len(result.errors) - skipped
    print("robustness took %.0f s" % (time.monotonic() - started))
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
