"""Reading the program's readouts the way a screen reader does: AT-SPI on the session's bus."""

import pyatspi

from desk import wait_for


def application(pid, timeout=20):
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


def value_of(app, desc, window="Квотомер", timeout=10):
    """The text of the control described by desc in the named window, freshly read."""
    def find():
        try:
            app.clear_cache()
        except Exception:  # noqa: BLE001
            pass
        for i in range(app.childCount):
            win = app.getChildAtIndex(i)
            if win is None or (win.name or "") != window:
                continue
            stack = [win]
            while stack:
                acc = stack.pop()
                if (acc.description or "") == desc:
                    return acc.name or ""
                stack.extend(acc.getChildAtIndex(k) for k in range(acc.childCount))
        return None
    return wait_for(find, timeout, interval=0.1, what="control %r" % desc)
