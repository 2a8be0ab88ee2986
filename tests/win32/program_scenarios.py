#!/usr/bin/python3
"""The Windows program under Wine, used as a person would, in a desktop of its own.

Xvfb with openbox and trayer; kvotomer.exe from its installed folder; what Windows knows of each
window (title, place, topmost, layered alpha) comes from window_probe.exe, since Wine draws the
frames and X11 cannot tell those. Then the installer: a silent install and uninstall.
Screenshots go to --screenshots. Ends with "program: P passed, F failed".
Usage: program_scenarios.py --wine W --prefix DIR --app DIR --probe EXE --installer EXE
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from session import run, wait_for  # noqa: E402

MAIN, IND, ABOUT = "Квотомер", "Form3", "О программе"
DEFAULT_DATA = b"10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n"
# Client-area points of controls, in the pixels the layout is measured in.
OPTION_INDICATOR_ON = (275, 152)
BUTTON_EXIT = (312, 278)
ABOUT_CLOSE = (476, 62)

ARGS = None
ENV = None
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
        x, y = self.client[0] + point[0], self.client[1] + point[1]
        xdo("mousemove", "--sync", x, y)
        xdo("click", button)


def wine(*args, timeout=120):
    """Runs a Windows program to its end and returns its output. Not through a pipe: Wine's
    server and desktop process, started by whichever call comes first, would keep it open."""
    with tempfile.TemporaryFile() as out:
        subprocess.run([ARGS.wine] + list(args), env=ENV, stdout=out, stderr=subprocess.DEVNULL,
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
    run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
         "+repage", os.path.join(ARGS.screenshots, name)], env=ENV)


class Program:
    """kvotomer.exe started from its folder, where its data.dat lives."""

    def __init__(self):
        self.p = subprocess.Popen([ARGS.wine, os.path.join(ARGS.app, "kvotomer.exe")], env=ENV,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

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


def fresh_start():
    for name in ("data.dat", "paid.dat"):
        if os.path.exists(os.path.join(ARGS.app, name)):
            os.remove(os.path.join(ARGS.app, name))
    prog = Program()
    return prog, window(MAIN)


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
    time.sleep(1.5)  # a few ticks with the list filled
    screenshot(window(MAIN), "windows-main.png")
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
    xdo("mousemove", "--sync", main.client[0] + 100, main.client[1] + 200)
    xdo("click", 1)
    xdo("key", "F1")
    about = window(ABOUT)
    check("F1 opens the About window", about is not None)
    screenshot(about, "windows-about.png")
    about.click(ABOUT_CLOSE)
    gone(ABOUT)
    check("its close word hides it", True)
    window(MAIN).click(BUTTON_EXIT)
    prog.ended("the exit button with the indicator open")
    check("the exit button saves the indicator as on", data().split(b"\r\n")[8] == b"1",
          repr(data()))


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
    prog = Program.__new__(Program)
    prog.p = subprocess.Popen([ARGS.wine, os.path.join(folder, "kvotomer.exe")], env=ENV,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
    procs.append(subprocess.Popen(
        ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
         "--height", "24", "--SetDockType", "true", "--transparent", "false"], env=ENV,
        stderr=subprocess.DEVNULL))
    wait_for(lambda: xdo("search", "--class", "trayer").strip(), 30, 0.3, "trayer")
    return procs


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    for name in ("wine", "prefix", "app", "probe", "installer"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--screenshots")
    ARGS = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix="kv-wine-")
    procs = start_desktop(tmp)
    try:
        for scenario in (scenario_main_window_exit, scenario_indicator_about,
                         scenario_second_copy, scenario_installer):
            try:
                scenario()
            except Exception:  # noqa: BLE001 - one scenario's failure must not hide the rest
                check(scenario.__name__, False, traceback.format_exc())
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=ENV, capture_output=True)
            subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=ENV, capture_output=True)
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)
    print("program: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
