#!/usr/bin/env python3
"""GetIfTable under Wine, held against the kernel's own counters.

Builds a network namespace with one end of a veth pair and two tun devices, one with a Cyrillic
name, which Wine, like a Russian Windows, writes in code page 1251; runs iftable_dump.exe inside it
twice, with known UDP traffic sent from the far end in between, and checks every row (raw table
and the program's reader) against /sys/class/net. Ends with "netns: P passed, F failed".
Usage: iftable_netns.py <iftable_dump.exe> <wine loader> <wineprefix>
"""
import codecs
import os
import socket
import subprocess
import sys
import time

DUMP, WINE, PREFIX = sys.argv[1:4]
TAG = f"kvw{os.getpid()}"
NEAR, FAR = TAG + "n", TAG + "f"
VETH_NEAR, VETH_FAR, TUN = "kvwv0", "kvwv1", "kvwtun0"
CYRILLIC_TUN = "сеть0"
# Wine takes its ANSI code page from the locale: ru_RU gives 1251. Compiled here, so the machine
# needs no generated locales.
LOCALE, LOCALE_DIR = "ru_RU.UTF-8", PREFIX + "-locale"
NEAR_IP, FAR_IP = "10.231.7.1", "10.231.7.2"
PAYLOAD, DATAGRAMS = 1000, 50
FRAME = PAYLOAD + 8 + 20 + 14  # UDP, IPv4 and Ethernet headers as counted in rx_bytes

passed = failed = 0


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"PASS {name}")
    else:
        failed += 1
        print(f"FAIL {name} {detail}")


def run(*args, **kw):
    return subprocess.run(list(args), check=True, text=True, capture_output=True, **kw).stdout


def wine_env():
    return dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", LC_ALL=LOCALE, LOCPATH=LOCALE_DIR)


def stop_wineserver():
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=wine_env(), capture_output=True)
    subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=wine_env(), capture_output=True)


def setup():
    if not os.path.isdir(os.path.join(LOCALE_DIR, LOCALE)):
        os.makedirs(LOCALE_DIR, exist_ok=True)
        run("localedef", "-i", "ru_RU", "-f", "UTF-8", os.path.join(LOCALE_DIR, LOCALE))
    run("ip", "netns", "add", NEAR)
    run("ip", "netns", "add", FAR)
    # No IPv6: its autoconfiguration would send packets at moments of its own choosing.
    for ns in (NEAR, FAR):
        run("ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv6.conf.all.disable_ipv6=1",
            "net.ipv6.conf.default.disable_ipv6=1")
        run("ip", "-n", ns, "link", "set", "lo", "up")
    run("ip", "-n", NEAR, "link", "add", VETH_NEAR, "type", "veth", "peer", "name", VETH_FAR,
        "netns", FAR)
    run("ip", "-n", NEAR, "addr", "add", NEAR_IP + "/24", "dev", VETH_NEAR)
    run("ip", "-n", FAR, "addr", "add", FAR_IP + "/24", "dev", VETH_FAR)
    run("ip", "-n", NEAR, "link", "set", VETH_NEAR, "up")
    run("ip", "-n", FAR, "link", "set", VETH_FAR, "up")
    # No process holds the tun device open, so it stays without carrier.
    run("ip", "-n", NEAR, "tuntap", "add", "dev", TUN, "mode", "tun")
    run("ip", "-n", NEAR, "addr", "add", "10.231.8.1/24", "dev", TUN)
    run("ip", "-n", NEAR, "link", "set", TUN, "up")
    run("ip", "-n", NEAR, "tuntap", "add", "dev", CYRILLIC_TUN, "mode", "tun")


def teardown():
    stop_wineserver()
    for ns in (NEAR, FAR):
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)


KERNEL_SCRIPT = r"""
cd /sys/class/net && for i in *; do
  addr=$(cat $i/address)
  echo "$i $(cat $i/ifindex) $(cat $i/mtu) $(cat $i/operstate) ${addr:--}" \
       "$(cat $i/statistics/rx_bytes) $(cat $i/statistics/tx_bytes)"
done
"""


def kernel():
    out = {}
    for line in run("ip", "netns", "exec", NEAR, "sh", "-c", KERNEL_SCRIPT).splitlines():
        name, index, mtu, oper, addr, rx, tx = line.split()
        out[name] = dict(index=int(index), mtu=int(mtu), oper=oper, addr=addr, rx=int(rx),
                         tx=int(tx))
    return out


def dump():
    # The wineserver and the service that answers GetIfTable start here, inside the namespace.
    text = run("ip", "netns", "exec", NEAR, WINE, DUMP, env=wine_env(), timeout=180)
    lines = [dict(f.split("=", 1) for f in line.split("\t")) for line in text.splitlines()]
    # Names come escaped byte by byte: GetIfTable's own in the ANSI code page, the reader's in
    # UTF-8 as the kernel's are.
    for line in lines:
        for key, encoding in (("descr", "cp1251"), ("meter_name", "utf-8")):
            if key in line:
                line[key] = codecs.escape_decode(line[key].encode())[0].decode(encoding,
                                                                              "backslashreplace")
    return lines[0], lines[1:]


def quiet_snapshot():
    """A dump with the kernel's counters read before and after it, unchanged in between."""
    for _ in range(5):
        before = kernel()
        header, rows = dump()
        after = kernel()
        if before == after:
            return before, header, rows
        time.sleep(0.5)
    return after, header, rows


def compare(stage, k, header, rows):
    check(f"{stage}: row count", int(header["rows"]) == len(k) == int(header["meter_rows"]),
          f"table {header['rows']}, reader {header['meter_rows']}, kernel {sorted(k)}")
    by_name = {r["descr"]: r for r in rows}
    check(f"{stage}: one row per kernel interface", sorted(by_name) == sorted(k),
          f"{sorted(by_name)} vs {sorted(k)}")
    for name, kv in sorted(k.items()):
        r = by_name.get(name)
        if r is None:
            continue
        rx, tx = kv["rx"] % 2**32, kv["tx"] % 2**32
        check(f"{stage}: {name} bytes in/out",
              (int(r["in"]), int(r["out"])) == (rx, tx),
              f"table {r['in']}/{r['out']}, kernel {rx}/{tx}")
        check(f"{stage}: {name} reader bytes and name",
              (int(r["meter_in"]), int(r["meter_out"]), r["meter_name"]) == (rx, tx, name),
              f"reader {r['meter_in']}/{r['meter_out']} {r['meter_name']!r}")
        check(f"{stage}: {name} index and mtu",
              (int(r["index"]), int(r["mtu"])) == (kv["index"], kv["mtu"]),
              f"table {r['index']}/{r['mtu']}, kernel {kv['index']}/{kv['mtu']}")
    lo, veth, tun = by_name.get("lo"), by_name.get(VETH_NEAR), by_name.get(TUN)
    if lo:
        check(f"{stage}: loopback type and address",
              (int(lo["type"]), lo["meter_mac"]) == (24, "00-00-00-00-00-00"), str(lo))
    if veth:
        mac = k[VETH_NEAR]["addr"].upper().replace(":", "-")
        check(f"{stage}: veth type, address, connected",
              (int(veth["type"]), veth["meter_mac"], int(veth["oper"])) == (6, mac, 5), str(veth))
    # Wine reports the carrier-less tun as operational (it looks at the up flag only); the program
    # never reads the status, so only the address rule for a row without one is held here.
    if tun:
        check(f"{stage}: tun has no hardware address", tun["meter_mac"] == "00-00-00-00-00-00",
              str(tun))


def send_known_bytes():
    code = (f"import socket\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
            f"for _ in range({DATAGRAMS}): s.sendto(b'k' * {PAYLOAD}, ('{NEAR_IP}', 9))\n")
    run("ip", "netns", "exec", FAR, sys.executable, "-c", code)
    time.sleep(0.5)


def main():
    stop_wineserver()
    try:
        setup()
        k1, h1, rows1 = quiet_snapshot()
        compare("first read", k1, h1, rows1)
        send_known_bytes()
        k2, h2, rows2 = quiet_snapshot()
        compare("second read", k2, h2, rows2)
        by1 = {r["descr"]: r for r in rows1}
        by2 = {r["descr"]: r for r in rows2}
        if VETH_NEAR in by1 and VETH_NEAR in by2:
            grown = int(by2[VETH_NEAR]["in"]) - int(by1[VETH_NEAR]["in"])
            sent = DATAGRAMS * FRAME
            # ARP adds a frame or two; nothing else runs in the namespace.
            check("received bytes grew by what was sent", sent <= grown <= sent + 256,
                  f"grew {grown}, sent {sent}")
        if TUN in by1 and TUN in by2:
            check("idle tun counters stay", (by1[TUN]["in"], by1[TUN]["out"]) ==
                  (by2[TUN]["in"], by2[TUN]["out"]))
    except subprocess.CalledProcessError as e:
        check("namespace run", False, f"{e.cmd}: {e.stderr.strip()}")
    except subprocess.TimeoutExpired as e:
        check("namespace run", False, f"timed out: {e.cmd}")
    except Exception as e:  # a malformed dump is a failure, not a crash that skips teardown
        check("namespace run", False, repr(e))
    finally:
        teardown()
    print(f"netns: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
