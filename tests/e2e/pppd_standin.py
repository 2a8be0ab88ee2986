"""Stands in for pppd: holds a tun device named like a dial-up link and its pid file.

usage: pppd_standin.py RUNDIR IFNAME LOCAL PEER INJECT_PACKETS LOGFILE

The device lives as long as this process holds it, so a hang-up (SIGTERM) or a kill makes
the link disappear just as a real dial-up's interface does.
"""

import ctypes
import fcntl
import os
import select
import signal
import socket
import struct
import subprocess
import sys

PR_SET_NAME = 15
TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    s = (s >> 16) + (s & 0xFFFF)
    s += s >> 16
    return ~s & 0xFFFF


def udp_packet(src, dst, payload):
    udp = struct.pack("!HHHH", 40000, 9, 8 + len(payload), 0) + payload
    total = 20 + len(udp)
    hdr = struct.pack("!BBHHHBBH4s4s", 0x45, 0, total, 0, 0x4000, 64, 17, 0,
                      socket.inet_aton(src), socket.inet_aton(dst))
    hdr = hdr[:10] + struct.pack("!H", checksum(hdr)) + hdr[12:]
    return hdr + udp


def main():
    rundir, ifname, local, peer, inject, logfile = sys.argv[1:7]
    # The program recognises pppd by the process name.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_NAME, b"pppd", 0, 0, 0)
    log = open(logfile, "a", buffering=1)
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", ifname.encode(), IFF_TUN | IFF_NO_PI))
    subprocess.run(["ip", "addr", "add", local, "peer", peer, "dev", ifname], check=True)
    subprocess.run(["ip", "link", "set", ifname, "up"], check=True)
    # Traffic "from the provider": the kernel counts it as received on the link.
    packet = udp_packet(peer, local, b"r" * 1372)
    for _ in range(int(inject)):
        os.write(fd, packet)
    pidfile = os.path.join(rundir, ifname + ".pid")
    with open(pidfile + ".tmp", "w") as f:
        f.write("%d\n" % os.getpid())
    os.rename(pidfile + ".tmp", pidfile)
    log.write("up %d\n" % os.getpid())

    def on_term(signum, frame):
        log.write("SIGTERM\n")
        try:
            os.unlink(pidfile)
        except OSError:
            pass
        os._exit(0)
    signal.signal(signal.SIGTERM, on_term)
    while True:
        ready, _, _ = select.select([fd], [], [], 1.0)
        if ready:
            os.read(fd, 65536)


if __name__ == "__main__":
    main()
