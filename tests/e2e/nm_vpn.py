#!/usr/bin/python3
"""NetworkManager itself, holding OpenVPN connections of type "vpn" (a kind "Отключить инет"
hangs up) to OpenVPN servers, all in two network namespaces made for the run.

The near namespace holds NetworkManager, its private bus and the wired connection on a veth;
the far one the OpenVPN servers. NetworkManager runs in a mount namespace of its own in which
/run is a fresh tmpfs, its state and configuration folders are the run's scratch folder, the
system bus's socket is the private bus's, and /sys is read-only: with no udev here, a writable
/sys makes it wait for udev and leave every device unmanaged.

Everything the run starts lives in one of its two namespaces, so the teardown ends exactly the
processes `ip netns pids` names there, NetworkManager first and gently; its mounts go with its
mount namespace. A state file keeps what a later call needs, so that one process can bring it up
and another tear it down (a ctest fixture):

  nm_vpn.py --state DIR up [--vpns N]  up; whatever an earlier run left in DIR goes first
  nm_vpn.py --state DIR down           down, whatever is left
  nm_vpn.py --state DIR active         NAME:TYPE:STATE:DBUS-PATH of each active connection,
                                       in NetworkManager's order
  nm_vpn.py --state DIR vpn-down NAME  deactivated through nmcli, as from outside the program
  nm_vpn.py --state DIR nm-stop        NetworkManager ended by SIGTERM (the bus stays)
  nm_vpn.py --state DIR restore        NetworkManager, the wired connection and every VPN up
                                       again, as `up` left them

`up` without root or without the packages writes "skip REASON" as the state, prints it, and
succeeds: the suites then skip with that line.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session import Network, run, wait_for, PY  # noqa: E402

# Debian 12: network-manager, network-manager-openvpn, openvpn.
NEEDED = {
    "/usr/sbin/NetworkManager": "network-manager",
    "/usr/bin/nmcli": "network-manager",
    "/usr/lib/NetworkManager/nm-openvpn-service": "network-manager-openvpn",
    "/usr/sbin/openvpn": "openvpn",
}
WIRED = "kv-wired"
NM = "org.freedesktop.NetworkManager"
# NMActiveConnectionState
ACTIVE_STATES = {0: "unknown", 1: "activating", 2: "activated", 3: "deactivating",
                 4: "deactivated"}
# A loaded two-core machine: NetworkManager's start and each activation can take seconds.
SLOW = 60

NM_CONF = """[main]
plugins=keyfile
no-auto-default=*
auth-polkit=false
dhcp=internal
dns=none
rc-manager=unmanaged
hostname-mode=none

[keyfile]
path={scratch}/connections
"""

# Run in the near namespace through unshare; $1 is the scratch folder.
NM_START = """set -e
mount -t tmpfs -o mode=755 kv-nm-run /run
mkdir -p /run/NetworkManager /run/dbus
mount --bind "$1/dbus" /run/dbus
mount --bind "$1/lib" /var/lib/NetworkManager
mount --bind "$1/etc" /etc/NetworkManager
mount -o remount,ro /sys
exec /usr/sbin/NetworkManager --debug --config="$1/NetworkManager.conf"
"""


def missing():
    """Why the fixture cannot run here, or None."""
    if os.geteuid() != 0:
        return "needs root for network namespaces and NetworkManager"
    packages = {p for f, p in NEEDED.items() if not os.access(f, os.X_OK)}
    try:
        import dbus  # noqa: F401
    except ImportError:
        packages.add("python3-dbus")
    packages = sorted(packages)
    if packages:
        return "packages missing: " + " ".join(packages) + " (scripts/deps.sh installs them)"
    return None


def fresh(state_dir, **kw):
    """A new fixture for state_dir, once whatever an earlier run left there is gone."""
    old = NmVpn.load(state_dir)
    if old is not None:
        print("nm-vpn: removing what an earlier run left: %s" % (
            ", ".join(old.leftovers()) or "its state"))
        old.down()
    return NmVpn(state_dir, **kw)


class Vpn:
    """One OpenVPN connection: NetworkManager's client end on `dev` in the near namespace,
    a server in the far one on its own port."""

    def __init__(self, name, dev, local, peer, port):
        self.name, self.dev, self.local, self.peer, self.port = name, dev, local, peer, port

    def line(self):
        return "vpn %s %s %s %s %d" % (self.name, self.dev, self.local, self.peer, self.port)

    @staticmethod
    def numbered(i):
        # NetworkManager lists the newest first: against both the names' order and the paths'.
        return Vpn("kv-vpn-%s" % "abcd"[i], "tun%d" % i, "10.213.%d.1" % (85 + i),
                   "10.213.%d.2" % (85 + i), 1194 + i)


class NmVpn(Network):
    def __init__(self, state_dir, tag=None, vpns=1):
        Network.__init__(self, tag or str(os.getpid() % 100000), "kvm", "10.213.84")
        self.state_dir = state_dir
        self.state_file = os.path.join(state_dir, "state")
        self.vpns = [Vpn.numbered(i) for i in range(vpns)]
        self.scratch = None
        self.bus = None
        self.nm_pid = None
        self.children = []  # what this process started, to be reaped

    # ---- state kept between calls ----
    def save(self):
        lines = ["ns_near " + self.ns_near, "ns_far " + self.ns_far,
                 "veth_near " + self.veth_near, "veth_far " + self.veth_far,
                 "near_ip " + self.near_ip, "far_ip " + self.far_ip,
                 "wired " + WIRED, "netns_mount_made %d" % self.netns_mount_made,
                 "netns_dir_made %d" % self.netns_dir_made]
        if self.scratch:
            lines.append("scratch " + self.scratch)
        if self.bus:
            lines.append("bus " + self.bus)
        if self.nm_pid:
            lines.append("nm_pid %d" % self.nm_pid)
        lines += [v.line() for v in self.vpns]
        os.makedirs(self.state_dir, exist_ok=True)
        with open(self.state_file + ".tmp", "w") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(self.state_file + ".tmp", self.state_file)

    @classmethod
    def load(cls, state_dir):
        """The run recorded in state_dir, or None when there is none (or it was skipped)."""
        try:
            with open(os.path.join(state_dir, "state")) as f:
                lines = [l.rstrip("\n").split(" ") for l in f if l.strip()]
        except FileNotFoundError:
            return None
        if lines and lines[0][0] == "skip":
            return None
        w = cls(state_dir, vpns=0)
        for key, *values in lines:
            if key == "vpn":
                w.vpns.append(Vpn(values[0], values[1], values[2], values[3], int(values[4])))
            elif key in ("nm_pid", "netns_mount_made", "netns_dir_made"):
                setattr(w, key, int(values[0]))
            elif key != "wired":
                setattr(w, key, values[0])
        w.netns_made = [w.ns_near, w.ns_far]
        return w

    def save_skip(self, reason):
        os.makedirs(self.state_dir, exist_ok=True)
        with open(self.state_file, "w") as f:
            f.write("skip %s\n" % reason)

    # ---- bringing it up ----
    def up(self):
        self.scratch = tempfile.mkdtemp(prefix="kv-nm-")
        for d in ("dbus", "lib", "etc", "connections"):
            os.makedirs(os.path.join(self.scratch, d))
        self.save()  # from here on a teardown knows what to look for
        self.start_network()
        self.save()
        self._start_bus()
        self._start_servers()
        self.save()
        self._start_nm()
        self._add_connections()
        self._activate_all()

    def _log(self, name):
        return os.path.join(self.scratch, name + ".log")

    def _spawn(self, ns, cmd, log):
        out = open(self._log(log), "ab")
        p = subprocess.Popen(["ip", "netns", "exec", ns] + cmd, stdout=out,
                             stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             start_new_session=True)
        out.close()
        self.children.append(p)
        return p

    def _start_bus(self):
        socket = os.path.join(self.scratch, "dbus", "system_bus_socket")
        self.bus = "unix:path=" + socket
        # A session-type bus lets root do everything, as NetworkManager's own policy would.
        p = self._spawn(self.ns_near, ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                       "--address=" + self.bus], "dbus")
        wait_for(lambda: p.poll() is None and os.path.exists(socket), SLOW, what="private bus")

    def _start_servers(self):
        key = os.path.join(self.scratch, "static.key")
        run(["openvpn", "--genkey", "secret", key])
        for v in self.vpns:
            self._spawn(self.ns_far, ["openvpn", "--dev", "tun", "--ifconfig", v.peer, v.local,
                                      "--secret", key, "--cipher", "AES-256-CBC", "--proto",
                                      "udp", "--local", self.far_ip, "--lport", str(v.port),
                                      # a client started again comes from another port
                                      "--float"],
                        "openvpn-" + v.name)

    def nmcli(self, *args, check=True, timeout=SLOW):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus)
        r = subprocess.run(["nmcli"] + list(args), env=env, text=True, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
        if check and r.returncode != 0:
            raise RuntimeError("nmcli %s: %s" % (" ".join(args), r.stderr.strip()))
        return r

    def _start_nm(self):
        with open(os.path.join(self.scratch, "NetworkManager.conf"), "w") as f:
            f.write(NM_CONF.format(scratch=self.scratch))
        p = self._spawn(self.ns_near, ["unshare", "-m", "--propagation", "private", "sh", "-c",
                                       NM_START, "sh", self.scratch], "NetworkManager")
        # ip netns exec, unshare and sh all exec: the pid is NetworkManager's.
        self.nm_pid = p.pid
        self.save()

        def managed():
            if p.poll() is not None:
                raise RuntimeError("NetworkManager ended with status %d: %s" % (
                    p.returncode, self.tail("NetworkManager")))
            r = self.nmcli("-t", "-f", "DEVICE,STATE", "device", check=False, timeout=10)
            return "%s:unmanaged" % self.veth_near not in r.stdout and \
                self.veth_near + ":" in r.stdout
        wait_for(managed, SLOW, interval=0.2, what="NetworkManager managing " + self.veth_near)

    def _add_connections(self):
        self.nmcli("connection", "add", "type", "ethernet", "con-name", WIRED, "ifname",
                   self.veth_near, "autoconnect", "no", "ipv4.method", "manual",
                   "ipv4.addresses", self.near_ip + "/30", "ipv4.gateway", self.far_ip,
                   "ipv6.method", "disabled")
        key = os.path.join(self.scratch, "static.key")
        for v in self.vpns:
            # ping: with IPv6 off nothing else makes the client speak first, and the server
            # drops traffic for a peer it has not heard from.
            data = ("connection-type=static-key, static-key=%s, remote=%s, port=%d, "
                    "local-ip=%s, remote-ip=%s, cipher=AES-256-CBC, dev=%s, dev-type=tun, "
                    "ping=1" % (key, self.far_ip, v.port, v.local, v.peer, v.dev))
            self.nmcli("connection", "add", "type", "vpn", "con-name", v.name, "vpn-type",
                       "openvpn", "autoconnect", "no", "vpn.data", data,
                       "ipv4.never-default", "yes", "ipv6.method", "disabled")

    def _activate_all(self):
        self.nmcli("--wait", str(SLOW), "connection", "up", WIRED)
        for v in self.vpns:
            self.vpn_up(v.name)

    def vpn(self, name):
        return next(v for v in self.vpns if v.name == name)

    def vpn_up(self, name):
        v = self.vpn(name)
        # The device is named: the last tunnel must be gone before the next can take it.
        wait_for(lambda: not self.has_link(v.dev), SLOW, what=v.dev + " to go")
        log = self._log("openvpn-" + v.name)
        seen = open(log, "rb").read().count(b"Peer Connection Initiated")
        self.nmcli("--wait", str(SLOW), "connection", "up", name)
        wait_for(lambda: open(log, "rb").read().count(b"Peer Connection Initiated") > seen,
                 SLOW, interval=0.1, what="the server of %s hearing its peer" % name)
        wait_for(lambda: self.has_link(v.dev), SLOW, what=v.dev)

    def vpn_down(self, name):
        self.nmcli("--wait", str(SLOW), "connection", "down", name)
        wait_for(lambda: not self.has_link(self.vpn(name).dev), SLOW,
                 what=self.vpn(name).dev + " to go")

    def active(self):
        """(name, type, state, D-Bus path) of each active connection in NetworkManager's own
        order (its ActiveConnections property), read by a client of its own (python3-dbus)."""
        import dbus
        bus = dbus.bus.BusConnection(self.bus)
        try:
            def get(path, interface, *names):
                props = bus.get_object(NM, path).GetAll(interface,
                                                        dbus_interface=dbus.PROPERTIES_IFACE)
                return [props[n] for n in names]
            found = []
            for path in get("/org/freedesktop/NetworkManager", NM, "ActiveConnections")[0]:
                try:
                    name, kind, state = get(path, NM + ".Connection.Active", "Id", "Type",
                                            "State")
                except dbus.exceptions.DBusException:
                    continue  # gone since the list was read
                found.append((str(name), str(kind), ACTIVE_STATES.get(int(state), str(state)),
                              str(path)))
            return found
        finally:
            bus.close()

    def has_link(self, dev):
        return run(["ip", "netns", "exec", self.ns_near, "ip", "link", "show", "dev", dev],
                   check=False).returncode == 0

    def tail(self, log, n=1500):
        try:
            with open(self._log(log), errors="replace") as f:
                return f.read()[-n:]
        except OSError:
            return ""

    def send_tunnel_udp(self, count, size, vpn=None):
        """count datagrams of size payload bytes from the far end of the tunnel to the near."""
        v = vpn or self.vpns[0]
        # Paced: both OpenVPN ends are processes, and a burst overflows their queues.
        code = ("import socket,time\n"
                "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                "for i in range(%d):\n"
                " s.sendto(b'v'*%d, ('%s', 9))\n"
                " time.sleep(0.002)\n" % (count, size, v.local))
        self.ns(self.ns_far, PY, "-c", code)

    # ---- NetworkManager stopped and started again ----
    def nm_alive(self):
        # Counted by the namespace: a pid of an earlier boot, or an unreaped zombie, is not it.
        return bool(self.nm_pid) and str(self.nm_pid) in self.pids(self.ns_near)

    def nm_stop(self):
        if self.nm_alive():
            os.kill(self.nm_pid, signal.SIGTERM)
            wait_for(lambda: not self.nm_alive(), SLOW, what="NetworkManager to end")
        self._reap()
        # Its VPN plugins end once it is gone; leave no tunnel behind it.
        for v in self.vpns:
            wait_for(lambda: not self.has_link(v.dev), SLOW, what=v.dev + " to go")

    def restore(self):
        """Brings back whatever a test took down."""
        if not self.nm_alive():
            self._start_nm()
            self._activate_all()
            self.save()
            return
        states = {a[0]: a[2] for a in self.active()}
        if states.get(WIRED) != "activated":
            self.nmcli("--wait", str(SLOW), "connection", "up", WIRED)
        for v in self.vpns:
            if states.get(v.name) != "activated":
                self.vpn_up(v.name)

    # ---- teardown ----
    def pids(self, ns):
        return run(["ip", "netns", "pids", ns], check=False).stdout.split()

    def _reap(self):
        for p in self.children:
            if p.poll() is None:
                try:
                    p.wait(0.1)
                except subprocess.TimeoutExpired:
                    pass

    def _end_all(self, ns):
        """Ends every process in ns; returns their ids."""
        ended = set()
        for sig, patience in ((signal.SIGTERM, 10), (signal.SIGKILL, 10)):
            pids = self.pids(ns)
            ended.update(pids)
            for pid in pids:
                try:
                    os.kill(int(pid), sig)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + patience
            while self.pids(ns) and time.monotonic() < deadline:
                self._reap()
                time.sleep(0.1)
            if not self.pids(ns):
                break
        return ended

    def down(self):
        names = run(["ip", "netns", "list"], check=False).stdout.split()
        ended = set()
        if self.ns_near in names:
            if self.nm_alive():
                # Gently first, so its VPN plugins close their tunnels as on a real machine.
                os.kill(self.nm_pid, signal.SIGTERM)
                try:
                    wait_for(lambda: not self.nm_alive(), 20, what="NetworkManager to end")
                except TimeoutError:
                    pass
            ended |= self._end_all(self.ns_near)
        if self.ns_far in names:
            ended |= self._end_all(self.ns_far)
        self._reap()
        # What outlived the process that started it is init's to reap, which may take a while.
        try:
            wait_for(lambda: not any(os.path.exists("/proc/" + p) for p in ended), 10,
                     interval=0.2, what="init to reap what ended")
        except TimeoutError:
            pass
        self.remove_network()
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)
        for f in (self.state_file, self.state_file + ".tmp"):
            try:
                os.unlink(f)
            except FileNotFoundError:
                pass

    def keep_logs(self, folder):
        """Copies the run's logs (NetworkManager's, the bus's, the servers') to folder."""
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for f in os.listdir(self.scratch) if self.scratch else []:
            if f.endswith(".log"):
                shutil.copy(os.path.join(self.scratch, f), folder)

    def leftovers(self):
        left = []
        names = run(["ip", "netns", "list"], check=False).stdout.split()
        for ns in (self.ns_near, self.ns_far):
            if ns in names:
                left.append("namespace %s (processes %s)" % (ns, " ".join(self.pids(ns))))
        if self.scratch and os.path.exists(self.scratch):
            left.append("folder " + self.scratch)
        if os.path.exists(self.state_file):
            left.append("state file " + self.state_file)
        return left


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--state", required=True)
    ap.add_argument("command", choices=("up", "down", "active", "vpn-down", "nm-stop",
                                        "restore"))
    ap.add_argument("name", nargs="?")
    ap.add_argument("--vpns", type=int, default=1)
    args = ap.parse_args()
    if args.command == "up":
        w = fresh(args.state, vpns=args.vpns)
        reason = missing()
        if reason:
            w.save_skip(reason)
            print("nm-vpn: skipped: " + reason)
            return 0
        try:
            w.up()
        except BaseException:
            print("nm-vpn: failed to come up; NetworkManager's log ends:\n" +
                  w.tail("NetworkManager"))
            w.down()
            raise
        print("nm-vpn: NetworkManager %d on %s, active: %s" % (
            w.nm_pid, w.bus, ", ".join(a[0] for a in w.active())))
        return 0
    w = NmVpn.load(args.state)
    if w is None:
        if args.command == "down":
            try:
                os.unlink(os.path.join(args.state, "state"))  # a skip's
            except FileNotFoundError:
                pass
            return 0
        print("nm-vpn: nothing is up in " + args.state)
        return 1
    if args.command == "down":
        w.down()
        left = w.leftovers()
        for what in left:
            print("nm-vpn: left behind: " + what)
        return 1 if left else 0
    if args.command == "active":
        for a in w.active():
            print(":".join(a))
    elif args.command == "vpn-down":
        w.vpn_down(args.name)
    elif args.command == "nm-stop":
        w.nm_stop()
    else:
        w.restore()
    return 0


if __name__ == "__main__":
    sys.exit(main())
