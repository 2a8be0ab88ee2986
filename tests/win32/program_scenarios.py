#!/usr/bin/python3
"""The Windows program under Wine, used as a person would, in a desktop of its own.

Xvfb with openbox, and Wine's own desktop inside it with its taskbar and tray: Wine's icons
docked into an X11 tray get no clicks. kvotomer.exe runs from its installed folder; what Windows
knows of each window (title, place, topmost, layered alpha) comes from window_probe.exe, since
Wine draws the frames and X11 cannot tell those. What the controls read comes from the program's
accessibility tree, written to a file by a Qt plugin loaded for the run (--accessible-dump).
The counters scenario runs every Windows process inside a network namespace, against the kernel's
own counters. Then the installer: a silent install and uninstall. Screenshots go to
--screenshots. Ends with "program: P passed, F failed".
Usage: program_scenarios.py --wine W --prefix DIR --app DIR --probe EXE --iftable-dump EXE
                            --accessible-dump DLL --installer EXE
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from figures import bytes_text, expected_figures, mb_text, pattern  # noqa: E402
from session import Network, run, wait_for  # noqa: E402

MAIN, IND, ABOUT = "Квотомер", "Form3", "О программе"
DEFAULT_DATA = b"10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n"
DESKTOP = (1024, 768)
# Client-area points of controls, in the pixels the layout is measured in.
OPTION_INDICATOR_ON = (275, 152)
BUTTON_EXIT = (312, 278)
ABOUT_CLOSE = (476, 62)

ARGS = None
ENV = None
TMP = None
# Put in front of every Wine command while a scenario runs inside a network namespace: the first
# one starts Wine's server, and the service answering GetIfTable, in there.
NETNS = []
passed = failed = 0


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("PASS " + name)
    else:
        failed += 1
        print("FAIL %s %s" % (name, detail))


class Window:
    def __init__(self, line):
        pid, self.title, outer, client, topmost, alpha = line.split("\t")
        self.pid = int(pid)
        self.outer = tuple(int(v) for v in outer.split(","))
        self.client = tuple(int(v) for v in client.split(","))
        self.topmost = topmost == "1"
        self.alpha = int(alpha)

    def click(self, point, button=1):
        click(self.client[0] + point[0], self.client[1] + point[1], button)


def desktop_origin():
    """Where Wine's desktop window starts on the X screen: Windows places windows inside it."""
    def find():
        ids = xdo("search", "--name", "Wine desktop").split()
        if not ids:
            return None
        # xwininfo, not xdotool: under a window manager xdotool counts the frame's title bar.
        info = run(["xwininfo", "-id", ids[0]], env=ENV).stdout
        return tuple(int(re.search(r"Absolute upper-left %s:\s+(-?\d+)" % axis, info).group(1))
                     for axis in "XY")
    return wait_for(find, 30, 0.3, "Wine's desktop window")


def click(x, y, button=1):
    """A click at a point of Wine's desktop."""
    ox, oy = desktop_origin()
    xdo("mousemove", "--sync", ox + x, oy + y)
    xdo("click", button)


def wine(*args, timeout=120):
    """Runs a Windows program to its end and returns its output. Not through a pipe: Wine's
    server and desktop process, started by whichever call comes first, would keep it open."""
    with tempfile.TemporaryFile() as out:
        subprocess.run(NETNS + [ARGS.wine] + list(args), env=ENV, stdout=out, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, timeout=timeout, check=True)
        out.seek(0)
        return out.read().decode()


def windows(title):
    out = wine(ARGS.probe)
    return [w for w in (Window(line) for line in out.splitlines() if line) if w.title == title]


def window(title, timeout=30):
    return wait_for(lambda: (windows(title) or [None])[0], timeout, 0.3, "window %r" % title)


def gone(title, timeout=30):
    wait_for(lambda: not windows(title), timeout, 0.3, "no window %r" % title)


def xdo(*args):
    return run(["xdotool"] + [str(a) for a in args], env=ENV).stdout


def screenshot(w, name):
    if not ARGS.screenshots:
        return
    os.makedirs(ARGS.screenshots, exist_ok=True)
    left, top, right, bottom = w.outer
    ox, oy = desktop_origin()
    run(["import", "-window", "root", "-crop",
         "%dx%d+%d+%d" % (right - left, bottom - top, ox + left, oy + top),
         "+repage", os.path.join(ARGS.screenshots, name)], env=ENV)


class Program:
    """kvotomer.exe started from its folder, where its data.dat lives."""

    def __init__(self, folder=None, env=None):
        self.p = subprocess.Popen(NETNS + [ARGS.wine,
                                           os.path.join(folder or ARGS.app, "kvotomer.exe")],
                                  env=env or ENV, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

    def ended(self, how):
        try:
            code = self.p.wait(30)
        except subprocess.TimeoutExpired:
            self.p.kill()
            raise AssertionError("the program did not end after " + how)
        if code != 0:
            raise AssertionError("the program ended with status %d after %s" % (code, how))


def data():
    with open(os.path.join(ARGS.app, "data.dat"), "rb") as f:
        return f.read()


def fresh_start(env=None):
    for name in ("data.dat", "paid.dat"):
        if os.path.exists(os.path.join(ARGS.app, name)):
            os.remove(os.path.join(ARGS.app, name))
    prog = Program(env=env)
    return prog, window(MAIN)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Node:
    def __init__(self, line):
        (self.window, depth, self.role, self.name, self.desc, showing, selected,
         rect) = line.split("\t")
        self.depth = int(depth)
        self.showing = showing == "showing"
        self.selected = selected == "selected"
        self.rect = tuple(int(v) for v in rect.split(","))

    def center(self):
        x, y, w, h = self.rect
        return x + w // 2, y + h // 2


class AccessibleTree:
    """The program's accessibility tree, as the dump plugin writes it every 200 ms."""

    def __init__(self):
        folder = os.path.join(TMP, "plugins", "generic")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(ARGS.accessible_dump, os.path.join(folder, "kvaccessibledump.dll"))
        self.path = os.path.join(TMP, "accessible.txt")
        # Wine passes no Unix variable starting with QT_ on; these arrive without the prefix.
        self.env = dict(ENV, WINEQT_PLUGIN_PATH=windows_path(os.path.dirname(folder)),
                        WINEQT_QPA_GENERIC_PLUGINS="kvaccessibledump",
                        KV_ACCESSIBLE_DUMP=windows_path(self.path))

    def nodes(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, encoding="utf-8") as f:
            return [Node(line.rstrip("\n")) for line in f if line.strip()]

    def list_rows(self, list_name):
        rows, depth = [], None
        for n in self.nodes():
            if depth is None:
                if n.window == MAIN and n.role == "List" and n.name == list_name:
                    depth = n.depth
            elif n.depth <= depth:
                break
            elif n.role == "ListItem":
                rows.append(n)
        return rows

    def reads(self, desc, expected, timeout=15):
        """Waits for the main window's control described by desc to read expected; returns
        whether it did and what it read last."""
        last = [None]

        def now():
            for n in self.nodes():
                if n.window == MAIN and n.desc == desc:
                    last[0] = n.name
                    return n.name == expected
            return False
        try:
            wait_for(now, timeout, 0.2, desc)
            return True, last[0]
        except TimeoutError:
            return False, last[0]


def scenario_main_window_exit():
    prog, main = fresh_start()
    check("the first start writes the default settings beside the program", data() == DEFAULT_DATA,
          repr(data()))
    # Line 4 and 5: 8460 and 2625 twips. Qt allows for Windows 10's invisible resize border left
    # of the visible frame; Wine's frame has none, so the frame may start up to 4 pixels left.
    check("the main window opens at its default place",
          main.outer[1] == 175 and 560 <= main.outer[0] <= 564, str(main.outer))
    check("the main window is not above others", not main.topmost)
    check("the main window's client area has the designed size", main.client[2:] == (438, 309)
          or main.client[2:] == (437, 309), str(main.client))
    main.click(BUTTON_EXIT)
    prog.ended("the exit button")
    lines = data().split(b"\r\n")
    check("the exit button writes ten CR LF lines", len(lines) == 11 and lines[10] == b"",
          repr(data()))


def scenario_indicator_about():
    prog, main = fresh_start()
    main.click(OPTION_INDICATOR_ON)
    ind = window(IND)
    check("the indicator is above other windows", ind.topmost)
    check("the indicator is translucent, alpha 120", ind.alpha == 120, str(ind.alpha))
    screenshot(ind, "windows-indicator.png")
    main.click((100, 200))
    xdo("key", "F1")
    about = window(ABOUT)
    check("F1 opens the About window", about is not None)
    screenshot(about, "windows-about.png")
    about.click(ABOUT_CLOSE)
    gone(ABOUT)
    check("its close word hides it", True)
    tx, ty = tray_icon_point()
    click(tx, ty)
    gone(MAIN)
    check("a click on the tray icon hides the main window", True)
    click(tx, ty)
    shown = window(MAIN)
    check("another click shows it where it was", shown.outer == main.outer,
          "%s then %s" % (main.outer, shown.outer))
    click(tx, ty, button=3)
    prog.ended("a right click on the tray icon")
    check("a right click on the tray icon saves, the indicator as on, and ends",
          data().split(b"\r\n")[8] == b"1", repr(data()))


def interface_table():
    """The names the program's own reader makes of Wine's GetIfTable, in table order."""
    rows = wine(ARGS.iftable_dump).splitlines()[1:]
    return [dict(f.split("=", 1) for f in row.split("\t"))["meter_name"] for row in rows]


def scenario_counters():
    if os.geteuid() != 0:
        print("skipped: the counters scenario needs root for network namespaces")
        return
    net = Network("w%d" % (os.getpid() % 10000))
    try:
        net.start_network()
        NETNS[:] = ["ip", "netns", "exec", net.ns_near]
        table = interface_table()
        tree = AccessibleTree()
        prog, main = fresh_start(tree.env)
        rows = wait_for(lambda: tree.list_rows("Сетевые интерфейсы"), 30, 0.2, "the list")
        check("the list shows the interfaces GetIfTable reports", [r.name for r in rows] == table,
              "list %s, table %s" % ([r.name for r in rows], table))
        veth = [r for r in rows if r.name == net.veth_near]
        if not veth:
            raise AssertionError("no row for %s" % net.veth_near)
        click(*veth[0].center())
        ok, shown = tree.reads("Интерфейс", net.veth_near)
        check("a click on a row picks that interface", ok, repr(shown))
        net.send_udp(300, 1000)
        tx, rx = net.stable_counters()
        used, left, money = expected_figures(tx, rx)
        for desc, expected in (
                ("Отправлено", "Отправлено: " + bytes_text(tx)),
                ("Принято", "Принято: " + bytes_text(rx)),
                ("Текущая скорость",
                 "Текущая скорость: " + pattern(0, "### ### ##0 байт/сек")),
                ("Текущий трафик", mb_text(used)),
                ("Осталось трафика", mb_text(left)),
                ("Осталось денег", pattern(money, "###0.0# руб"))):
            ok, shown = tree.reads(desc, expected)
            check("after %d received bytes, %s reads %r" % (rx, desc, expected), ok, repr(shown))
        check("the picked row stays selected", [r.name for r in tree.list_rows(
            "Сетевые интерфейсы") if r.selected] == [net.veth_near])
        screenshot(window(MAIN), "windows-main.png")
        main.click(BUTTON_EXIT)
        prog.ended("the exit button")
    finally:
        stop_wine()
        NETNS[:] = []
        net.remove_network()


def tray_icon_point():
    """The program's icon: the only one in the tray at the right end of Wine's taskbar."""
    def taskbar():
        for w in windows(""):
            left, top, right, bottom = w.outer
            if (right - left, bottom) == (DESKTOP[0], DESKTOP[1]):
                return w
        return None
    bar = wait_for(taskbar, 30, 0.3, "Wine's taskbar")
    return bar.outer[2] - 12, (bar.outer[1] + bar.outer[3]) // 2


def scenario_second_copy():
    prog, main = fresh_start()
    before = data()
    second = Program()
    box = wait_for(lambda: [w for w in windows(MAIN) if w.pid != main.pid], 30, 0.3,
                   "the second copy's box")[0]
    screenshot(box, "windows-second-copy.png")
    xdo("key", "Return")
    second.ended("the second copy's box")
    check("a second copy says so in a box of its own and ends", True)
    check("the first copy runs on, its settings untouched", prog.p.poll() is None and
          data() == before)
    window(MAIN).click(BUTTON_EXIT)
    prog.ended("the exit button")


def drive_c(path):
    return os.path.join(ARGS.prefix, "drive_c", path)


def scenario_installer():
    folder = drive_c("Program Files/Kvotomer")
    menu = drive_c("ProgramData/Microsoft/Windows/Start Menu/Programs/Квотомер")
    wine(ARGS.installer, "/S", timeout=300)
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    check("the installer puts the program into Program Files",
          "kvotomer.exe" in installed and "Qt6Core.dll" in installed and
          os.path.isfile(os.path.join(folder, "platforms", "qwindows.dll")), str(installed))
    check("the installer adds a Start-menu entry named Квотомер",
          os.path.isfile(os.path.join(menu, "Квотомер.lnk")),
          str(os.listdir(menu) if os.path.isdir(menu) else None))
    prog = Program(folder)
    window(MAIN).click(BUTTON_EXIT)
    prog.ended("the exit button of the installed program")
    saved = [n for n in ("data.dat", "paid.dat") if os.path.exists(os.path.join(folder, n))]
    # The uninstaller copies itself away and returns at once; wait for its work instead.
    wine(os.path.join(folder, "Uninstall.exe"), "/S", timeout=300)
    wait_for(lambda: not os.path.exists(os.path.join(folder, "kvotomer.exe")), 120, 0.5,
             "the uninstaller")
    wait_for(lambda: not os.path.exists(os.path.join(folder, "Uninstall.exe")), 120, 0.5,
             "the uninstaller's own removal")
    left = []
    for root, _, files in os.walk(folder):
        left += [os.path.relpath(os.path.join(root, f), folder) for f in files]
    check("the uninstaller leaves nothing but the settings", sorted(left) == sorted(saved),
          "left %s, settings %s" % (left, saved))
    check("the uninstaller removes the Start-menu entry", not os.path.exists(menu))


def start_desktop(tmp):
    global ENV
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    with os.fdopen(r) as f:
        display = ":" + f.readline().strip()
    ENV = dict(os.environ, DISPLAY=display, WINEPREFIX=ARGS.prefix, WINEDEBUG="-all",
               HOME=os.path.join(tmp, "home"))
    procs = [xvfb, subprocess.Popen(["openbox", "--sm-disable"], env=ENV,
                                    stderr=subprocess.DEVNULL)]
    wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in run(
        ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=ENV, check=False).stdout, 30,
             what="openbox")
    # Every program of the prefix in one Wine desktop, with its taskbar and tray.
    wine("reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default", "/f")
    wine("reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d",
         "%dx%d" % DESKTOP, "/f")
    # A desktop started before the keys (the prefix's creation) would stay in use.
    stop_wine()
    return procs


def stop_wine():
    """Ends every Windows process of the prefix, and Wine's server with them."""
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=ENV, capture_output=True)
    subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=ENV, capture_output=True)


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    for name in ("wine", "prefix", "app", "probe", "iftable-dump", "accessible-dump",
                 "installer"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--screenshots")
    ARGS = ap.parse_args()
    global TMP
    TMP = tmp = tempfile.mkdtemp(prefix="kv-wine-")
    procs = start_desktop(tmp)
    try:
        for scenario in (scenario_main_window_exit, scenario_counters, scenario_indicator_about,
                         scenario_second_copy, scenario_installer):
            try:
                scenario()
            except Exception:  # noqa: BLE001 - one scenario's failure must not hide the rest
                check(scenario.__name__, False, traceback.format_exc())
            stop_wine()
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)
    print("program: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
