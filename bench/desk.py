"""A throw-away desktop and network for the whole-program benchmarks.

Xvfb (its own display number through -displayfd), openbox, a private session bus and, when asked,
the accessibility bus, a player and two namespaces joined by a veth pair. Everything started
here carries a marker in its environment, so close() also ends what a crash or D-Bus activation
left behind, and removes the namespaces.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MARKER = "KV_BENCH_SESSION"
HERE = os.path.dirname(os.path.abspath(__file__))

# The end-to-end suite's helpers: one way to poll and to run commands.
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from session import PY, Network, run, wait_for  # noqa: E402,F401


class Desk(Network):
    def __init__(self, accessibility=False):
        self.token = "%d-%d" % (os.getpid(), int(time.time()))
        tag = str(os.getpid() % 100000)
        self.tmp = tempfile.mkdtemp(prefix="kv-bench-")
        self.procs = []
        self.accessibility = accessibility
        Network.__init__(self, tag, "kvb", "10.213.79")
        self.env = None
        self.display = None
        self.xvfb = None

    # ---- processes ----
    def spawn(self, cmd, env=None, log=None, netns=None, **kw):
        full = list(cmd)
        if netns:
            full = ["ip", "netns", "exec", netns] + full
        out = open(os.path.join(self.tmp, (log or os.path.basename(cmd[0])) + ".log"), "ab")
        p = subprocess.Popen(full, env=env or self.env, stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, start_new_session=True, **kw)
        out.close()
        self.procs.append(p)
        return p

    def stop(self, p, sig=signal.SIGTERM, timeout=5):
        if p.poll() is None:
            try:
                os.killpg(p.pid, sig)
            except ProcessLookupError:
                pass
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                p.wait(5)

    def marked_pids(self):
        found = []
        needle = ("%s=%s" % (MARKER, self.token)).encode()
        for name in os.listdir("/proc"):
            if not name.isdigit() or int(name) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % name, "rb") as f:
                    if needle in f.read().split(b"\0"):
                        found.append(int(name))
            except OSError:
                pass
        return found

    # ---- desktop ----
    def start_desktop(self):
        base = dict(os.environ)
        for k in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                  "AT_SPI_BUS_ADDRESS", "SESSION_MANAGER", "XAUTHORITY", "DISPLAY"):
            base.pop(k, None)
        base[MARKER] = self.token
        # The server picks a free number itself, so concurrent servers cannot clash.
        rfd, wfd = os.pipe()
        self.xvfb = self.spawn(["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1280x800x24",
                                "-nolisten", "tcp", "-ac", "-noreset"], env=base, log="xvfb",
                               pass_fds=(wfd,))
        os.close(wfd)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(rfd, 16)
            if not chunk:
                break
            number += chunk
        os.close(rfd)
        self.display = int(number.strip())
        runtime = os.path.join(self.tmp, "xdg")
        os.makedirs(runtime, mode=0o700)
        home = os.path.join(self.tmp, "home")
        os.makedirs(os.path.join(home, ".config"))
        bus_path = os.path.join(self.tmp, "session_bus")
        # The path socket only: abstract sockets do not cross into the program's namespace.
        self.env = dict(base, **{
            "DISPLAY": "unix:%d" % self.display,
            "XDG_RUNTIME_DIR": runtime,
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + bus_path,
            "LC_ALL": "C.UTF-8",
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        })
        if self.accessibility:
            self.env.update({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
                             "NO_AT_BRIDGE": "0"})
        else:
            self.env.update({"NO_AT_BRIDGE": "1"})
        self.dbus = self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                "--address=unix:path=" + bus_path], log="dbus-session")
        wait_for(lambda: os.path.exists(bus_path), 10, what="session bus")
        if self.accessibility:
            self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                       log="at-spi-bus")
            wait_for(self._a11y_address, 15, what="accessibility bus")
        self.spawn(["openbox", "--sm-disable"], log="openbox")
        wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env, check=False).stdout,
            15, what="openbox")

    def _a11y_address(self):
        r = run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                 "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env, check=False)
        if r.returncode != 0:
            return None
        addr = r.stdout.split('"')[1] if '"' in r.stdout else ""
        if "abstract=" in addr:
            raise RuntimeError("the accessibility bus is abstract: " + addr)
        return addr

    def use_session_here(self):
        """pyatspi in this process talks to the session's buses."""
        os.environ.update({k: self.env[k] for k in (
            "DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", MARKER)})

    # ---- network ----
    def start_network(self):
        Network.start_network(self)
        # Fixed neighbours: no ARP frames to tell apart from the measured traffic.
        mac_near = self.ns(self.ns_near, "cat", "/sys/class/net/%s/address"
                           % self.veth_near).stdout.strip()
        mac_far = self.ns(self.ns_far, "cat", "/sys/class/net/%s/address"
                          % self.veth_far).stdout.strip()
        self.ns(self.ns_near, "ip", "neigh", "replace", self.far_ip, "lladdr", mac_far,
                "dev", self.veth_near, "nud", "permanent")
        self.ns(self.ns_far, "ip", "neigh", "replace", self.near_ip, "lladdr", mac_near,
                "dev", self.veth_far, "nud", "permanent")

    def statistics(self, ns=None, dev=None):
        """(rx_bytes, tx_bytes, rx_packets, tx_packets, rx_dropped, tx_dropped) of a veth end."""
        ns = ns or self.ns_near
        dev = dev or (self.veth_near if ns == self.ns_near else self.veth_far)
        names = ("rx_bytes", "tx_bytes", "rx_packets", "tx_packets", "rx_dropped", "tx_dropped")
        out = self.ns(ns, "cat", *["/sys/class/net/%s/statistics/%s" % (dev, n)
                                   for n in names]).stdout.split()
        return dict(zip(names, (int(v) for v in out)))

    def list_row_of(self, dev, ns=None):
        """The row the program's list gives an interface: the kernel's dump order."""
        out = self.ns(ns or self.ns_near, "ip", "-o", "link").stdout
        names = [line.split(":")[1].strip().split("@")[0] for line in out.splitlines()]
        return names.index(dev)

    # ---- player ----
    def start_player(self, title, artist):
        f = os.path.join(self.tmp, "silence.flac")
        run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono",
             "-t", "900", "-metadata", "artist=" + artist, "-metadata", "title=" + title, f])
        so = [l for l in run(["dpkg", "-L", "mpv-mpris"]).stdout.split() if l.endswith("mpris.so")]
        p = self.spawn(["mpv", "--no-config", "--script=" + so[0], "--ao=null", "--no-video",
                        "--idle=no", "--loop-file=inf", f], log="mpv")

        def playing():
            r = run(["dbus-send", "--session", "--print-reply",
                     "--dest=org.mpris.MediaPlayer2.mpv", "/org/mpris/MediaPlayer2",
                     "org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2.Player",
                     "string:PlaybackStatus"], env=self.env, check=False)
            return "Playing" in r.stdout
        wait_for(playing, 20, what="mpv over MPRIS")
        return p

    # ---- end ----
    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
        for _ in range(3):
            left = self.marked_pids()
            if not left:
                break
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.2)
        self.remove_network()
        shutil.rmtree(self.tmp, ignore_errors=True)


def data_dir(desk, row, indicator=True, player_line=True):
    """A settings folder for the program: watch the given row, indicator on."""
    d = tempfile.mkdtemp(prefix="data-", dir=desk.tmp)
    text = "10\r\n2,5\r\n%d\r\n1500\r\n1500\r\n8460\r\n2625\r\n0\r\n%d\r\n%d\r\n" % (
        row, 1 if indicator else 0, 1 if player_line else 0)
    with open(os.path.join(d, "data.dat"), "w", newline="") as f:
        f.write(text)
    return d
