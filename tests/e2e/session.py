"""A throw-away desktop and network for one run of the suite.

Everything started here carries a marker in its environment, so that the final sweep finds
processes that D-Bus activation or a crashed helper left behind, whatever their parent.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PY = "/usr/bin/python3"
MARKER = "KV_E2E_SESSION"
NETNS_DIR = "/run/netns"


def wait_for(predicate, timeout, interval=0.05, what="condition"):
    """Polls predicate until it returns something truthy; returns that or raises."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = predicate()
            if value:
                return value
        except Exception as e:  # noqa: BLE001 - a half-ready desktop throws all kinds
            last_error = e
        if time.monotonic() > deadline:
            raise TimeoutError("timed out waiting for %s%s" % (
                what, " (last error: %r)" % last_error if last_error else ""))
        time.sleep(interval)


def run(cmd, check=True, **kw):
    return subprocess.run(cmd, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def mounted(path):
    with open("/proc/self/mountinfo") as f:
        return any(line.split()[4] == path for line in f)


class Network:
    """Two network namespaces joined by a veth pair, IPv6 off and no ARP: the near end's
    counters move only by what the far end sends and the replies to it."""

    def __init__(self, tag, prefix="kv", subnet="10.213.77", pair_prefix=None):
        self.ns_near = prefix + "near" + tag
        self.ns_far = prefix + "far" + tag
        # Another pair prefix: a second link between the same two namespaces.
        self.veth_near = (pair_prefix or prefix) + "n" + tag
        self.veth_far = (pair_prefix or prefix) + "f" + tag
        self.near_ip = subnet + ".1"
        self.far_ip = subnet + ".2"
        self.netns_made = []
        self.netns_mount_made = False
        self.netns_dir_made = False

    def ns(self, ns, *cmd, check=True):
        return run(["ip", "netns", "exec", ns] + list(cmd), check=check)

    def start_network(self):
        # The first `ip netns add` mounts /run/netns on itself and leaves it so.
        self.netns_dir_made = not os.path.exists(NETNS_DIR)
        self.netns_mount_made = not mounted(NETNS_DIR)
        for ns in (self.ns_near, self.ns_far):
            run(["ip", "netns", "add", ns])
            self.netns_made.append(ns)
            self.ns(ns, "sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=1",
                    "net.ipv6.conf.default.disable_ipv6=1")
            self.ns(ns, "ip", "link", "set", "lo", "up")
        self.add_veth()

    def add_veth(self):
        run(["ip", "link", "add", self.veth_near, "netns", self.ns_near, "type", "veth",
             "peer", "name", self.veth_far, "netns", self.ns_far])
        for ns, dev in ((self.ns_near, self.veth_near), (self.ns_far, self.veth_far)):
            self.ns(ns, "sysctl", "-q", "-w", "net.ipv6.conf.%s.disable_ipv6=1" % dev)
        self.ns(self.ns_near, "ip", "addr", "add", self.near_ip + "/30", "dev", self.veth_near)
        self.ns(self.ns_far, "ip", "addr", "add", self.far_ip + "/30", "dev", self.veth_far)
        self.ns(self.ns_near, "ip", "link", "set", self.veth_near, "up")
        self.ns(self.ns_far, "ip", "link", "set", self.veth_far, "up")
        # Fixed neighbours: an ARP probe comes seconds after the counters seemed settled.
        for ns, dev, peer_ns, peer, peer_ip in (
                (self.ns_near, self.veth_near, self.ns_far, self.veth_far, self.far_ip),
                (self.ns_far, self.veth_far, self.ns_near, self.veth_near, self.near_ip)):
            mac = self.ns(peer_ns, "cat", "/sys/class/net/%s/address" % peer).stdout.strip()
            self.ns(ns, "ip", "neigh", "replace", peer_ip, "lladdr", mac, "dev", dev,
                    "nud", "permanent")

    def remove_veth(self):
        """The link goes away: deleting one end deletes both."""
        self.ns(self.ns_near, "ip", "link", "del", self.veth_near, check=False)

    def counters(self, dev=None, ns=None):
        dev = dev or self.veth_near
        out = self.ns(ns or self.ns_near, "cat", "/sys/class/net/%s/statistics/tx_bytes" % dev,
                      "/sys/class/net/%s/statistics/rx_bytes" % dev).stdout.split()
        return int(out[0]), int(out[1])

    def stable_counters(self, dev=None):
        """The counters once nothing has moved for half a second (late ARP, ICMP replies)."""
        last = None
        stable_since = time.monotonic()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            now = self.counters(dev)
            if now != last:
                last, stable_since = now, time.monotonic()
            elif time.monotonic() - stable_since >= 0.6:
                return now
            time.sleep(0.1)
        raise TimeoutError("counters of %s never settled" % dev)

    def send_udp(self, count, size):
        """Sends count datagrams of size payload bytes from the far side; returns when done."""
        code = ("import socket,sys\n"
                "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                "for i in range(%d): s.sendto(b'x'*%d, ('%s', 9))\n" % (count, size, self.near_ip))
        self.ns(self.ns_far, PY, "-c", code)

    def links(self, ns=None):
        return run(["ip", "netns", "exec", ns or self.ns_near, "ip", "-o", "link"]).stdout

    def remove_network(self):
        for ns in self.netns_made:
            run(["ip", "netns", "del", ns], check=False)
        if self.netns_mount_made and mounted(NETNS_DIR) and not os.listdir(NETNS_DIR):
            # Busy, and kept, should someone have made a namespace since.
            run(["umount", NETNS_DIR], check=False)
        if self.netns_dir_made and not mounted(NETNS_DIR):
            try:
                os.rmdir(NETNS_DIR)
            except OSError:
                pass  # in use again


class Session(Network):
    def __init__(self, out_dir):
        PR_SET_CHILD_SUBREAPER = 36
        import ctypes
        ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        self.token = "%d-%d" % (os.getpid(), int(time.time()))
        self.tag = str(os.getpid() % 100000)
        Network.__init__(self, self.tag)
        self.tmp = tempfile.mkdtemp(prefix="kv-e2e-")
        self.out_dir = out_dir
        self.procs = []
        self.display = None
        self.env = None
        self.rundir = os.path.join(self.tmp, "run")
        os.makedirs(self.rundir)
        self.system_bus_address = "unix:path=" + os.path.join(self.tmp, "system_bus")

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
        """Ends p and its process group; the leader first, so it can reap its own children."""
        if p.poll() is None:
            try:
                os.kill(p.pid, sig)
                p.wait(timeout)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            pass
        self.reap()

    @staticmethod
    def reap():
        # As subreaper this process inherits the orphans of what it started.
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

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
    def _free_display(self):
        for n in range(91, 200):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and \
                    not os.path.exists("/tmp/.X%d-lock" % n):
                return n
        raise RuntimeError("no free X display number")

    def start_desktop(self):
        base = dict(os.environ)
        for k in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                  "AT_SPI_BUS_ADDRESS", "SESSION_MANAGER", "XAUTHORITY"):
            base.pop(k, None)
        n = self._free_display()
        self.display = n
        self.xvfb = self.spawn(["Xvfb", ":%d" % n, "-screen", "0", "1280x800x24",
                                "-nolisten", "tcp", "-ac", "-noreset"],
                               env=dict(base, **{MARKER: self.token}), log="xvfb")
        # Only the path socket: abstract sockets do not cross into the program's namespace.
        sock = "/tmp/.X11-unix/X%d" % n
        # The socket appears before the server takes clients; ask it for real.
        wait_for(lambda: self.xvfb.poll() is None and os.path.exists(sock) and run(
            ["xdpyinfo", "-display", "unix:%d" % n], check=False).returncode == 0, 30,
                 what="Xvfb")
        runtime = os.path.join(self.tmp, "xdg")
        os.makedirs(runtime, mode=0o700)
        bus_path = os.path.join(self.tmp, "session_bus")
        self.env = dict(base, **{
            MARKER: self.token,
            "DISPLAY": "unix:%d" % n,
            "XDG_RUNTIME_DIR": runtime,
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + bus_path,
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "NO_AT_BRIDGE": "0",
            "LC_ALL": "C.UTF-8",
            "HOME": os.path.join(self.tmp, "home"),
            "XDG_CONFIG_HOME": os.path.join(self.tmp, "home", ".config"),
        })
        os.makedirs(self.env["XDG_CONFIG_HOME"])
        self.dbus = self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                "--address=unix:path=" + bus_path], log="dbus-session")
        wait_for(lambda: os.path.exists(bus_path), 10, what="session bus")
        self.a11y = self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                               log="at-spi-bus")
        wait_for(self._a11y_address, 40, what="accessibility bus")
        self._start_window_manager()
        self.spawn(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                    "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                   log="trayer")
        wait_for(lambda: "trayer" in run(["xwininfo", "-root", "-tree"], env=self.env,
                                         check=False).stdout.lower(), 40, what="system tray")
        os.environ.update({k: self.env[k] for k in (
            "DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", MARKER)})

    def _start_window_manager(self):
        # A spare try, should the window manager end at once.
        for attempt in range(3):
            wm = self.spawn(["openbox", "--sm-disable"], log="openbox")
            try:
                wait_for(lambda: wm.poll() is None and "_NET_SUPPORTING_WM_CHECK(WINDOW)" in run(
                    ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                    check=False).stdout, 20, what="openbox")
                return
            except TimeoutError:
                with open(os.path.join(self.tmp, "openbox.log"), errors="replace") as f:
                    print("e2e: openbox did not come up (exit %r): %s" % (
                        wm.poll(), f.read()[-600:].strip()))
                self.stop(wm)
        raise RuntimeError("openbox did not start")

    def _a11y_address(self):
        r = run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                 "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env, check=False)
        if r.returncode != 0:
            return None
        addr = r.stdout.split('"')[1] if '"' in r.stdout else ""
        if "abstract=" in addr:
            raise RuntimeError("the accessibility bus is abstract: " + addr)
        return addr

    def xprop(self, wid, prop):
        r = run(["xprop", "-id", str(wid), prop], env=self.env, check=False)
        return r.stdout.strip()

    def xdo(self, *args):
        return run(["xdotool"] + [str(a) for a in args], env=self.env).stdout

    def start_system_bus(self):
        """A private, empty system bus: the hang-up must never reach this machine's own
        NetworkManager. The scenario against a real one brings its own (nm_vpn.py)."""
        path = self.system_bus_address[len("unix:path="):]
        self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                    "--address=" + self.system_bus_address], log="dbus-system")
        wait_for(lambda: os.path.exists(path), 10, what="system bus")

    def leftovers(self):
        """What this run failed to remove: processes, namespaces, devices, sockets."""
        left = ["process %d" % p for p in self.marked_pids()]
        names = run(["ip", "netns", "list"], check=False).stdout
        left += ["namespace " + ns for ns in self.netns_made if ns in names]
        links = run(["ip", "-o", "link"], check=False).stdout
        left += ["device " + d for d in (self.veth_near, self.veth_far) if d + "@" in links]
        if self.display is not None and os.path.exists("/tmp/.X11-unix/X%d" % self.display):
            left.append("X socket :%d" % self.display)
        return left

    # ---- teardown ----
    def close(self, keep_logs=False):
        for p in reversed(self.procs):
            try:
                self.stop(p, timeout=3)
            except Exception:  # noqa: BLE001
                pass
        for _ in range(2):
            for pid in self.marked_pids():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.2)
        self.remove_network()
        if self.display is not None:
            for f in ("/tmp/.X11-unix/X%d" % self.display, "/tmp/.X%d-lock" % self.display):
                try:
                    os.unlink(f)
                except OSError:
                    pass
        if keep_logs:
            logs = os.path.join(self.out_dir, "logs")
            shutil.rmtree(logs, ignore_errors=True)
            os.makedirs(logs)
            for f in os.listdir(self.tmp):
                if f.endswith(".log"):
                    shutil.copy(os.path.join(self.tmp, f), logs)
            print("e2e: logs of this run in %s" % logs)
        if os.environ.get("KV_E2E_KEEP_TMP") != "1":
            shutil.rmtree(self.tmp, ignore_errors=True)
