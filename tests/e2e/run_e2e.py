#!/usr/bin/python3
"""End-to-end scenarios: the real program in a desktop and a network made for the run.

usage: run_e2e.py --binary PATH [--nm-standin PATH] [--out DIR] [-k NAME]
Needs root (network namespaces, tun devices).
"""

import argparse
import decimal
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sess  # noqa: E402
from session import run, wait_for, PY, HERE  # noqa: E402

ARGS = None
S = None          # the session shared by every scenario
A11Y = None       # the a11y module, imported once the session's buses exist
MAIN = "Квотомер"
IND = "Form3"
DEFAULT_DATA = b"10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n"
OPACITY_DIM = 120 * 0xFFFFFFFF // 255


# ---- the program's number formats, computed independently ----
def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def pattern(value, pat):
    """'#' optional digit, '0' required digit, other characters literal (blanks kept)."""
    neg = value < 0
    q = decimal.Decimal(abs(value))
    frac_pat = pat.split(".")[1] if "." in pat else ""
    frac_digits = sum(1 for c in frac_pat if c in "#0")
    q = q.quantize(decimal.Decimal(1).scaleb(-frac_digits), rounding=decimal.ROUND_HALF_UP)
    int_digits, _, frac = format(q, "f").partition(".")
    int_pat = pat.split(".")[0] if "." in pat else pat
    # the integer part, right to left
    digits = list(int_digits.lstrip("0") or "")
    out = []
    positions = [i for i, c in enumerate(int_pat) if c in "#0"]
    first_pos = positions[0] if positions else len(int_pat)
    chars = list(int_pat)
    res = [""] * len(chars)
    for i in range(len(chars) - 1, -1, -1):
        c = chars[i]
        if c in "#0":
            if digits:
                res[i] = digits.pop()
            elif c == "0":
                res[i] = "0"
        else:
            res[i] = c
    head = "".join(digits)  # digits without a position of their own
    text = "".join(res[:first_pos]) + head + "".join(res[first_pos:])
    # the fraction and what follows it
    if "." in pat:
        fp = frac_pat
        fd = [c for c in frac]
        tail = ""
        fr = ""
        k = 0
        j = 0
        while j < len(fp) and fp[j] in "#0":
            j += 1
        fslots = fp[:j]
        tail = fp[j:]
        fr = list(fd[:len(fslots)])
        for idx in range(len(fslots) - 1, -1, -1):
            if fslots[idx] == "#" and fr[idx] == "0" and idx == len(fr) - 1:
                fr.pop()
            else:
                break
        text = text + "," + "".join(fr) + tail
    return ("-" if neg and q != 0 else "") + text


def bytes_text(n):
    return pattern(n, "### ### ### ##0 байт")


def mb_text(x):
    return pattern(x, "###0.0# Мб")


def expected_figures(tx, rx, limit=10.0, tariff=2.5):
    sent = f32(tx / 1048576.0)
    recv = f32(rx / 1048576.0)
    used = f32(sent + recv)
    left = f32(limit / tariff - used)
    money = f32((limit / tariff - used) * tariff)
    return used, left, money


# ---- windows ----
def window_ids(pid, name):
    r = run(["xdotool", "search", "--all", "--pid", str(pid), "--name", "^%s$" % name],
            env=S.env, check=False)
    return [int(w) for w in r.stdout.split()]


def viewable(wid):
    return "IsViewable" in run(["xwininfo", "-id", str(wid)], env=S.env, check=False).stdout


def visible_window(pid, name, timeout=15):
    def find():
        for w in window_ids(pid, name):
            if viewable(w):
                return w
        return None
    return wait_for(find, timeout, what="visible window %r" % name)


def client_geometry(wid):
    out = run(["xwininfo", "-id", str(wid)], env=S.env).stdout
    g = {}
    for key, pat in (("x", r"Absolute upper-left X:\s+(-?\d+)"),
                     ("y", r"Absolute upper-left Y:\s+(-?\d+)"),
                     ("w", r"Width:\s+(\d+)"), ("h", r"Height:\s+(\d+)")):
        g[key] = int(re.search(pat, out).group(1))
    return g


def frame_corner(wid):
    g = client_geometry(wid)
    ext = S.xprop(wid, "_NET_FRAME_EXTENTS")
    left = top = 0
    m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", ext)
    if m:
        left, top = int(m.group(1)), int(m.group(3))
    return g["x"] - left, g["y"] - top


def wm_state(wid):
    return S.xprop(wid, "_NET_WM_STATE")


def opacity(wid):
    out = S.xprop(wid, "_NET_WM_WINDOW_OPACITY")
    m = re.search(r"=\s*(\d+)", out)
    return int(m.group(1)) if m else None  # absent: fully opaque


def click(x, y, button=1, repeat=1):
    S.xdo("mousemove", "--sync", x, y)
    S.xdo("click", "--repeat", repeat, "--delay", 80, button)


def tray_icon_point():
    """The middle of the icon that Qt embedded in trayer."""
    def find():
        tree = run(["xwininfo", "-root", "-tree"], env=S.env).stdout
        lines = tree.splitlines()
        for i, line in enumerate(lines):
            if "trayer" in line.lower() or '"panel"' in line:
                m = re.search(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)", line)
                if m and int(m.group(1)) > 10:
                    w, h, ax, ay = int(m.group(1)), int(m.group(2)), int(m.group(5)), int(m.group(6))
                    if ay > 700:
                        return ax + w // 2, ay + h // 2
        return None
    return wait_for(find, 10, what="tray icon")


# ---- the program ----
class Program:
    def __init__(self, data_dir, expect_window=True):
        self.data_dir = data_dir
        env = dict(S.env, KVOTOMER_DATA_DIR=data_dir, KVOTOMER_RUN_DIR=S.rundir,
                   DBUS_SYSTEM_BUS_ADDRESS=S.system_bus_address)
        self.p = S.spawn([ARGS.binary], env=env, netns=S.ns_near, log="kvotomer")
        self.pid = self.p.pid
        self.app = None
        if expect_window:
            self.wid = visible_window(self.pid, MAIN)
            self.app = A11Y.application(self.pid)

    def node(self, timeout=10, **want):
        return A11Y.find(self.app, timeout, **want)

    def value(self, desc, window=MAIN):
        return A11Y.value_of(self.app, desc, window)

    def wait_value(self, desc, expected, window=MAIN, timeout=10):
        return A11Y.wait_value(self.app, desc, expected, window, timeout)

    def click_node(self, **want):
        n = self.node(**want)
        x, y = n.center()
        click(x, y)
        return n

    def press_button(self, name):
        return self.click_node(name=name, role="push button", window=MAIN)

    def exit(self):
        """The exit button, as a person ends the program; waits until the process is gone."""
        if self.p.poll() is None:
            self.press_button("Выход")
            try:
                self.p.wait(10)
            except subprocess.TimeoutExpired:
                S.stop(self.p)
                raise AssertionError("the program did not end after the exit button")

    def kill(self):
        S.stop(self.p, sig=signal.SIGKILL)

    def data(self):
        with open(os.path.join(self.data_dir, "data.dat"), "rb") as f:
            return f.read()


def fresh_dir(name, content=None):
    d = os.path.join(S.tmp, "data-" + name)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    if content is not None:
        with open(os.path.join(d, "data.dat"), "wb") as f:
            f.write(content)
    return d


def list_rows(prog):
    lst = prog.node(role="list", name="Сетевые интерфейсы")
    rows = []
    for i in range(lst.acc.childCount):
        c = lst.acc.getChildAtIndex(i)
        rows.append(A11Y.Node(c, MAIN))
    return rows


def veth_row(prog):
    def find():
        for i, r in enumerate(list_rows(prog)):
            if S.veth_near in r.name:
                return (i, r)
        return None
    return wait_for(find, 10, what="the veth row in the list")


def readouts(prog):
    return {d: prog.value(d) for d in ("Интерфейс", "Отправлено", "Принято", "Текущая скорость")}


class Base(unittest.TestCase):
    prog = None

    def tearDown(self):
        p = type(self).prog
        if p is not None and p.p.poll() is None and getattr(self, "kill_after", True):
            p.kill()


# ---- scenarios ----
class T01FirstStart(Base):
    def test_first_start_in_empty_folder(self):
        d = fresh_dir("first")
        prog = T01FirstStart.prog = Program(d)
        self.assertEqual(prog.data(), DEFAULT_DATA)
        self.assertEqual(len(DEFAULT_DATA), 43)
        self.assertEqual(frame_corner(prog.wid), (564, 175))
        self.assertIn(MAIN, run(["xdotool", "getwindowname", str(prog.wid)], env=S.env).stdout)
        self.assertNotIn("_NET_WM_STATE_ABOVE", wm_state(prog.wid))
        limit = prog.node(desc="Лимит трафика", window=MAIN)
        self.assertEqual(limit.name, "4,0 Мб")
        self.assertEqual(limit.role, "label")
        rows = list_rows(prog)
        self.assertGreaterEqual(len(rows), 2)
        self.assertEqual([r.name for r in rows if r.selected], [])
        # Waiting: a few ticks later the upper readouts are still empty.
        time.sleep(1.5)
        self.assertEqual(set(readouts(prog).values()), {""})
        self.assertEqual(window_ids(prog.pid, IND), [])


class T02Counters(Base):
    def test_readouts_follow_kernel_counters(self):
        d = fresh_dir("counters")
        prog = T02Counters.prog = Program(d)
        index, row = veth_row(prog)
        x, y = row.center()
        click(x, y)
        prog.wait_value("Интерфейс", row.name)
        S.send_udp(300, 1000)
        tx, rx = S.stable_counters()
        self.assertGreater(rx, 300 * 1000)
        prog.wait_value("Отправлено", "Отправлено: " + bytes_text(tx))
        prog.wait_value("Принято", "Принято: " + bytes_text(rx))
        prog.wait_value("Текущая скорость", "Текущая скорость: " +
                        pattern(0, "### ### ##0 байт/сек"))
        used, left, money = expected_figures(tx, rx)
        prog.wait_value("Текущий трафик", mb_text(used))
        prog.wait_value("Осталось трафика", mb_text(left))
        prog.wait_value("Осталось денег", pattern(money, "###0.0# руб"))
        sel = [r.name for r in list_rows(prog) if r.selected]
        self.assertEqual(sel, [row.name])


class T03Editing(Base):
    def test_edit_tariff_and_limit(self):
        d = fresh_dir("editing")
        prog = T03Editing.prog = Program(d)
        index, row = veth_row(prog)
        click(*row.center())
        prog.wait_value("Интерфейс", row.name)
        S.send_udp(100, 1000)
        tx, rx = S.stable_counters()
        # tariff: a full stop becomes a comma, letters vanish; Enter commits
        prog.click_node(desc=lambda s: s.startswith("Тариф"), role="label", window=MAIN)
        box = prog.node(name="Тариф (за р/Мб)", role="text", showing=True)
        S.xdo("type", "--delay", 60, "3.5x")
        wait_for(lambda: box.text() == "3,5", 5, what="tariff box to read 3,5")
        S.xdo("key", "Return")
        wait_for(lambda: not prog.node(name="Тариф (за р/Мб)", role="text").showing, 5,
                 what="tariff box to close")
        self.assertEqual(prog.value("Тариф, руб. за Мб; нажмите, чтобы изменить"), "3,5")
        prog.wait_value("Лимит трафика", mb_text(f32(f32(10.0) / f32(3.5))))
        # money limit: committed by a press on the panel
        prog.click_node(desc=lambda s: s.startswith("Лимит денег"), role="label", window=MAIN)
        box2 = prog.node(name="Лимит денег", role="text", showing=True)
        S.xdo("type", "--delay", 60, "2a0.5")
        wait_for(lambda: box2.text() == "20,5", 5, what="limit box to read 20,5")
        bx, by, bw, bh = box2.extents()
        # the panel's free surface, left of the boxes and below the labels
        panel = prog.node(desc=lambda s: s.startswith("Лимит денег"), role="label", window=MAIN)
        click(bx + bw + 6, by + bh // 2)
        wait_for(lambda: not prog.node(name="Лимит денег", role="text").showing, 5,
                 what="limit box to close")
        self.assertEqual(prog.value("Лимит денег, руб.; нажмите, чтобы изменить"), "20,5")
        prog.wait_value("Лимит трафика", mb_text(f32(f32(20.5) / f32(3.5))))
        used, left, money = expected_figures(tx, rx, 20.5, 3.5)
        prog.wait_value("Осталось трафика", mb_text(left))
        prog.wait_value("Осталось денег", pattern(money, "###0.0# руб"))
        prog.exit()
        lines = prog.data().split(b"\r\n")
        self.assertEqual(lines[:2], [b"20,5", b"3,5"])


def main():
    global ARGS, S, A11Y
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--nm-standin")
    ap.add_argument("--out", default=os.path.join(HERE, "out"))
    ap.add_argument("--screenshots", default=os.path.join(HERE, "out", "screenshots"))
    ap.add_argument("-k", dest="only")
    ARGS = ap.parse_args()
    if os.geteuid() != 0:
        print("e2e: needs root for network namespaces and tun devices")
        print("0 passed, 0 failed, 1 skipped")
        return 0
    os.makedirs(ARGS.out, exist_ok=True)
    started = time.monotonic()
    S = sess.Session(ARGS.out)
    try:
        S.start_desktop()
        S.start_network()
        S.start_system_bus(ARGS.nm_standin)
        import a11y
        A11Y = a11y
        loader = unittest.TestLoader()
        if ARGS.only:
            loader.testNamePatterns = ["*%s*" % ARGS.only]
        suite = loader.loadTestsFromModule(sys.modules[__name__])
        result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    finally:
        S.close()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print("e2e took %.0f s" % (time.monotonic() - started))
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
