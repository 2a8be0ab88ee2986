#!/usr/bin/python3
"""Accuracy of the totals: a 60-second UDP transfer of known size each way over a veth pair, the
program in the near namespace watching its end, its "Принято:" and "Отправлено:" readouts read
through AT-SPI at the end.

The veth MTU is raised to 65535 so that one 65000-byte datagram is one frame: every datagram then
costs exactly 8 (UDP) + 20 (IPv4) + 14 (Ethernet) bytes on the wire and nothing is fragmented.
Neighbours are fixed (no ARP) and IPv6 is off, so the kernel counters carry nothing else. About
80 MB/s far -> near passes 4 GiB within the minute, so the program's 32-bit counters wrap once
(each second's step stays far under 4 GiB).

    sudo /usr/bin/python3 bench/accuracy.py --build build [--seconds 60]
"""

import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desk as deskmod  # noqa: E402

OVERHEAD = 8 + 20 + 14

# Sends `rate` datagrams of `size` bytes a second for `seconds`, paced every 10 ms; prints how
# many were sent and their payload bytes.
SENDER = """
import socket, sys, time
dest, size, rate, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 8 << 20)
payload = bytes(size)
start = time.monotonic()
sent = count = 0
while True:
    now = time.monotonic() - start
    if now >= seconds:
        break
    due = int(min(now + 0.01, seconds) * rate)
    while count < due:
        try:
            sent += s.sendto(payload, (dest, 9))
            count += 1
        except (BlockingIOError, OSError):
            time.sleep(0.0005)
    time.sleep(max(0.0, 0.01 - (time.monotonic() - start - now)))
print(count, sent, flush=True)
"""

# Reads and drops everything arriving on UDP port 9, so that no port-unreachable replies go back.
SINK = """
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
s.bind(('0.0.0.0', 9))
while True:
    s.recv(70000)
"""


def figure(text):
    digits = re.sub(r"[^0-9]", "", text)
    return int(digits) if digits else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--size", type=int, default=65000)
    ap.add_argument("--rate-in", type=int, default=1250)   # datagrams/s far -> near, ~81 MB/s
    ap.add_argument("--rate-out", type=int, default=20)    # near -> far, ~1.3 MB/s
    args = ap.parse_args()

    desk = deskmod.Desk(accessibility=True)
    ok = False
    try:
        desk.start_desktop()
        desk.start_network()
        for ns, dev in ((desk.ns_near, desk.veth_near), (desk.ns_far, desk.veth_far)):
            desk.ns(ns, "ip", "link", "set", dev, "mtu", "65535")
        desk.use_session_here()
        import a11y_read as a11y  # after the session's buses are in the environment

        for ns in (desk.ns_near, desk.ns_far):
            desk.spawn([deskmod.PY, "-c", SINK], netns=ns, log="sink-" + ns)
        row = desk.list_row_of(desk.veth_near)
        env = dict(desk.env, KVOTOMER_DATA_DIR=deskmod.data_dir(desk, row))
        prog = desk.spawn([os.path.join(args.build, "src", "kvotomer")], env=env,
                          netns=desk.ns_near, log="kvotomer")
        app = a11y.application(prog.pid, timeout=30)
        before = desk.statistics()
        time.sleep(1.5)

        # Each sender's count goes to its log, read after it ends.
        logs = {}
        procs = []
        for ns, dest, rate, tag in ((desk.ns_far, desk.near_ip, args.rate_in, "in"),
                                    (desk.ns_near, desk.far_ip, args.rate_out, "out")):
            logs[tag] = os.path.join(desk.tmp, "send-%s.log" % tag)
            procs.append(desk.spawn([deskmod.PY, "-c", SENDER, dest, str(args.size), str(rate),
                                     str(args.seconds)], netns=ns, log="send-" + tag))
        for p in procs:
            p.wait(args.seconds + 60)
        sent = {}
        for tag, path in logs.items():
            with open(path) as f:
                count, payload = (int(v) for v in f.read().split()[-2:])
            sent[tag] = (count, payload)
        # Two ticks after the last frame, then read; retried until two reads agree.
        time.sleep(2.5)
        after = desk.statistics()
        far_after = desk.statistics(desk.ns_far)

        def read_both():
            return (figure(a11y.value_of(app, "Принято")), figure(a11y.value_of(app, "Отправлено")))
        shown = read_both()
        time.sleep(1.2)
        again = read_both()
        if again != shown:
            shown = again
        rx_shown, tx_shown = shown

        rx_delta = after["rx_bytes"] - before["rx_bytes"]
        tx_delta = after["tx_bytes"] - before["tx_bytes"]
        in_count, in_payload = sent["in"]
        out_count, out_payload = sent["out"]
        print("far -> near: %d datagrams, %d payload bytes (%.1f MB/s); kernel rx %d bytes "
              "(delta %d); shown %d" % (in_count, in_payload, in_payload / args.seconds / 1e6,
                                        after["rx_bytes"], rx_delta, rx_shown))
        print("near -> far: %d datagrams, %d payload bytes; kernel tx %d bytes (delta %d); "
              "shown %d" % (out_count, out_payload, after["tx_bytes"], tx_delta, tx_shown))
        print("drops: near rx %d tx %d, far rx %d tx %d" % (
            after["rx_dropped"], after["tx_dropped"], far_after["rx_dropped"],
            far_after["tx_dropped"]))
        checks = [
            ("received: shown - kernel", rx_shown - after["rx_bytes"], 0),
            ("sent: shown - kernel", tx_shown - after["tx_bytes"], 0),
            ("received: kernel delta - payload", rx_delta - in_payload, in_count * OVERHEAD),
            ("sent: kernel delta - payload", tx_delta - out_payload, out_count * OVERHEAD),
        ]
        ok = True
        for what, got, want in checks:
            good = got == want
            ok = ok and good
            print("%-34s %14d  expected %14d  %s" % (what, got, want, "ok" if good else "MISMATCH"))
        print("wrapped 32-bit counter: %s" % ("yes" if after["rx_bytes"] >= 1 << 32 else "no"))
    finally:
        desk.close()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
