"""Reading the program's readouts the way a screen reader does: AT-SPI on the session's bus."""

import pyatspi

from desk import wait_for
from a11y import application  # noqa: F401 - the suite's, found through desk's path


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
