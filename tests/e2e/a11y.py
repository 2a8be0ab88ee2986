"""Reading the program the way a screen reader does: through AT-SPI on the session's bus."""

import time

import pyatspi

from session import wait_for


class Node:
    __slots__ = ("acc", "name", "role", "desc", "window", "showing", "selected")

    def __init__(self, acc, window):
        self.acc = acc
        self.name = acc.name or ""
        self.role = acc.getRoleName()
        self.desc = acc.description or ""
        self.window = window
        states = acc.getState()
        self.showing = states.contains(pyatspi.STATE_SHOWING)
        self.selected = states.contains(pyatspi.STATE_SELECTED)

    def text(self):
        t = self.acc.queryText()
        return t.getText(0, -1)

    def center(self):
        e = self.acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.x + e.width // 2, e.y + e.height // 2

    def extents(self):
        e = self.acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height

    def __repr__(self):
        return "<%s %r desc=%r in %r>" % (self.role, self.name, self.desc, self.window)


def application(pid, timeout=20):
    """The program's accessible application; the first queries on a fresh bus may see nothing."""
    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid and app.childCount > 0:
                    return app
            except Exception:  # noqa: BLE001 - an application that went away meanwhile
                continue
        return None
    return wait_for(find, timeout, interval=0.2, what="accessible application of pid %d" % pid)


def nodes(app):
    """Every accessible below the application, freshly read (no stale cache)."""
    try:
        app.clear_cache()
    except Exception:  # noqa: BLE001
        pass
    found = []

    def walk(acc, window, depth):
        if acc is None or depth > 30:
            return
        try:
            node = Node(acc, window)
        except Exception:  # noqa: BLE001 - a control deleted while walking
            return
        found.append(node)
        try:
            count = acc.childCount
        except Exception:  # noqa: BLE001
            return
        for i in range(count):
            try:
                child = acc.getChildAtIndex(i)
            except Exception:  # noqa: BLE001
                continue
            walk(child, window, depth + 1)

    for i in range(app.childCount):
        win = app.getChildAtIndex(i)
        if win is None:
            continue
        walk(win, win.name or "", 0)
    return found


def find(app, timeout=10, what=None, **want):
    """The first node matching every given attribute (name, role, desc, window, showing).

    A callable value is used as a predicate on that attribute.
    """
    def match():
        for n in nodes(app):
            ok = True
            for k, v in want.items():
                actual = getattr(n, k)
                if callable(v):
                    if not v(actual):
                        ok = False
                        break
                elif actual != v:
                    ok = False
                    break
            if ok:
                return n
        return None
    return wait_for(match, timeout, interval=0.1, what=what or ("node %r" % (want,)))


def value_of(app, desc, window="Квотомер", timeout=10):
    return find(app, timeout, desc=desc, window=window).name


def wait_value(app, desc, expected, window="Квотомер", timeout=10):
    """Waits for the control described by desc to read expected; returns what it read last."""
    last = [None]

    def check():
        for n in nodes(app):
            if n.desc == desc and n.window == window:
                last[0] = n.name
                return n.name == expected
        return False
    try:
        wait_for(check, timeout, interval=0.1, what="%s = %r" % (desc, expected))
    except TimeoutError:
        raise AssertionError("%s in %s reads %r, expected %r" % (desc, window, last[0], expected))
    return last[0]


def sleep_until(deadline):
    while time.monotonic() < deadline:
        time.sleep(0.05)
