#!/usr/bin/python3
"""Start-up time: from exec to the MapNotify of the main window, for the program, conky, gkrellm
and a bare Qt window, in one Xvfb + openbox session. Runs are interleaved (one of each in turn) so
that a busy moment of the machine falls on all subjects alike; the median is reported.

The X event itself is timestamped: this process selects SubstructureNotify on the root window and
learns from ReparentNotify which openbox frame holds a window of the wanted name or class, then
takes the first MapNotify of that frame or window. The clock starts just before the fork.

    sudo /usr/bin/python3 bench/startup.py --build build [--runs 10]
"""

import argparse
import os
import select
import signal
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desk as deskmod  # noqa: E402
import idle  # noqa: E402

from Xlib import X, display as xdisplay  # noqa: E402

# What marks each subject's main window: (WM_CLASS part, name or None).
WANTED = {
    "kvotomer": ("kvotomer", "Квотомер"),
    "conky": ("conky", None),
    "gkrellm": ("gkrellm", None),
    "bare_qt": ("bench_bare_qt", "bare_qt"),
}


class Watcher:
    def __init__(self, name):
        self.d = xdisplay.Display(os.environ["DISPLAY"])
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.net_wm_name = self.d.intern_atom("_NET_WM_NAME")
        self.utf8 = self.d.intern_atom("UTF8_STRING")
        self.d.sync()

    def matches(self, window, wanted):
        cls, name = wanted
        try:
            klass = window.get_wm_class() or ()
            if not any(cls.lower() in c.lower() for c in klass):
                return False
            if name is None:
                return True
            prop = window.get_full_property(self.net_wm_name, self.utf8)
            title = prop.value.decode("utf-8", "replace") if prop else (window.get_wm_name() or "")
            return title == name
        except Exception:  # noqa: BLE001 - the window may already be gone
            return False

    def wait_mapped(self, wanted, timeout=30):
        frames = set()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while self.d.pending_events():
                e = self.d.next_event()
                if e.type == X.ReparentNotify and self.matches(e.window, wanted):
                    frames.add(e.parent.id)
                elif e.type == X.MapNotify:
                    if e.window.id in frames or self.matches(e.window, wanted):
                        return time.monotonic()
            select.select([self.d.fileno()], [], [], 0.05)
        raise TimeoutError("no MapNotify for %r" % (wanted,))

    def close(self):
        self.d.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--only", action="append")
    args = ap.parse_args()
    names = args.only or ["kvotomer", "conky", "gkrellm", "bare_qt"]

    desk = deskmod.Desk(accessibility=False)
    times = {n: [] for n in names}
    try:
        desk.start_desktop()
        desk.start_network()
        desk.use_session_here()
        row = desk.list_row_of(desk.veth_near)
        # Fontconfig and the page cache are warm for everyone before anything is timed.
        for name in names:
            w = Watcher(name)
            p = idle.subject(desk, name, args, row)
            w.wait_mapped(WANTED[name])
            w.close()
            desk.stop(p)
        for _ in range(args.runs):
            for name in names:
                w = Watcher(name)
                start = time.monotonic()
                p = idle.subject(desk, name, args, row)
                mapped = w.wait_mapped(WANTED[name])
                times[name].append((mapped - start) * 1000)
                w.close()
                desk.stop(p, sig=signal.SIGTERM)
                time.sleep(0.5)
    finally:
        desk.close()
    for name in names:
        print("%-9s median %.1f ms  (min %.1f, max %.1f, runs %d)" % (
            name, statistics.median(times[name]), min(times[name]), max(times[name]),
            len(times[name])))
    if "kvotomer" in times and "bare_qt" in times:
        print("kvotomer / bare_qt: %.2f" % (
            statistics.median(times["kvotomer"]) / statistics.median(times["bare_qt"])))


if __name__ == "__main__":
    main()
