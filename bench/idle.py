#!/usr/bin/python3
"""Idle cost of the program beside conky, gkrellm and a bare Qt window (also with a label that
turns a title every 250 ms, as the player line does), one after another in the same Xvfb +
openbox session, each watching the same veth interface.

For each subject: start it, let it settle, then over the window read the CPU time of all its
threads and of the X server (/proc/PID/task/*/schedstat, first field, ns), context switches
(voluntary + nonvoluntary of all threads) and memory (/proc/PID/smaps_rollup) at both ends.
The program runs with its indicator shown and the ticker scrolling a real player's title (mpv +
mpv-mpris on the session bus). A trickle of traffic (20 datagrams of 1000 bytes a second) keeps
the graphs moving.

    sudo /usr/bin/python3 bench/idle.py --build build [--settle 10] [--window 120] [--only kvotomer]
    ... --only kvotomer --callgrind /tmp/idle.cg   (where the time goes; figures are then void)
"""

import argparse
import glob
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desk as deskmod  # noqa: E402

TITLE = ("Очень длинное название дорожки, которое никак не помещается в строку индикатора "
         "и потому бежит")
ARTIST = "Ансамбль тишины"


def thread_cpu_ns(pid):
    """CPU of each thread, by thread name (threads of one name summed)."""
    out = {}
    for task in glob.glob("/proc/%d/task/*" % pid):
        try:
            with open(task + "/comm") as h:
                name = h.read().strip()
            with open(task + "/schedstat") as h:
                out[name] = out.get(name, 0) + int(h.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return out


def cpu_ns(pid):
    return sum(thread_cpu_ns(pid).values())


def user_system_ticks(pid):
    """utime and stime of the whole process, in clock ticks (coarse, but they tell the split)."""
    with open("/proc/%d/stat" % pid) as h:
        fields = h.read().rsplit(")", 1)[1].split()
    return int(fields[11]), int(fields[12])


def switches(pid):
    total = 0
    for f in glob.glob("/proc/%d/task/*/status" % pid):
        try:
            with open(f) as h:
                for line in h:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def memory_kb(pid):
    out = {}
    with open("/proc/%d/smaps_rollup" % pid) as h:
        for line in h:
            parts = line.split()
            if parts and parts[0] in ("Rss:", "Pss:", "Anonymous:"):
                out[parts[0][:-1].lower()] = int(parts[1])
    return out


def threads(pid):
    return len(glob.glob("/proc/%d/task/*" % pid))


def sample(pid, xpid):
    return {"t": time.monotonic(), "cpu": cpu_ns(pid), "xcpu": cpu_ns(xpid),
            "ctx": switches(pid), "mem": memory_kb(pid), "threads": threads(pid),
            "by_thread": thread_cpu_ns(pid), "ticks": user_system_ticks(pid)}


def conky_config(desk, dev):
    path = os.path.join(desk.tmp, "conky.conf")
    with open(path, "w") as f:
        f.write("""conky.config = {
    out_to_x = true, out_to_console = false, own_window = true, own_window_type = 'normal',
    own_window_title = 'conky_bench', update_interval = 1, double_buffer = true,
    use_xft = true, font = 'DejaVu Sans:size=8', minimum_width = 200, background = false,
    alignment = 'top_left', gap_x = 20, gap_y = 400,
}
conky.text = [[
Down ${downspeed %(dev)s}
${downspeedgraph %(dev)s 24,190}
Up ${upspeed %(dev)s}
${upspeedgraph %(dev)s 24,190}
]]
""" % {"dev": dev})
    return path


def gkrellm_home(desk):
    """A home whose gkrellm shows its net chart and nothing it need not."""
    home = os.path.join(desk.tmp, "gkhome")
    os.makedirs(os.path.join(home, ".gkrellm2"), exist_ok=True)
    with open(os.path.join(home, ".gkrellm2", "user-config"), "w") as f:
        f.write("\n".join([
            "enable_hostname 0", "enable_sysname 0",
            "clock_cal enable_clock 0", "clock_cal enable_cal 0",
            "cpu enabled 0", "proc enabled 0", "disk enabled 0", "inet enabled 0",
            "mem enabled 0", "fs enabled 0", "battery enabled 0", "sensor enabled 0",
            "uptime enabled 0", "mail enabled 0",
            "net enabled 1", "net text_format $L\\n$T", ""]))
    return home


def subject(desk, name, args, row):
    env = dict(desk.env)
    if name == "kvotomer":
        env["KVOTOMER_DATA_DIR"] = deskmod.data_dir(
            desk, row, player_line=not getattr(args, "no_ticker", False))
        cmd = [os.path.join(args.build, "src", "kvotomer")]
        if getattr(args, "callgrind", None):
            # Where the idle time goes: instructions of the whole run, by function.
            cmd = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + args.callgrind] + cmd
    elif name in ("bare_qt", "bare_qt_ticker"):
        cmd = [os.path.join(args.build, "bench", "bare_qt", "bench_bare_qt")]
        if name == "bare_qt_ticker":
            cmd.append("--ticker")
    elif name == "conky":
        cmd = ["conky", "-c", conky_config(desk, desk.veth_near)]
    elif name == "gkrellm":
        env["HOME"] = gkrellm_home(desk)
        cmd = ["gkrellm"]
    else:
        raise ValueError(name)
    return desk.spawn(cmd, env=env, netns=desk.ns_near, log=name)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--settle", type=float, default=10)
    ap.add_argument("--window", type=float, default=120)
    ap.add_argument("--only", action="append")
    ap.add_argument("--json")
    ap.add_argument("--no-ticker", action="store_true",
                    help="the program with its player line hidden, to see the ticker's share")
    ap.add_argument("--callgrind", help="run the program under callgrind, profile to this file")
    ap.add_argument("--title", default=TITLE,
                    help="the player's track title; one that fits the line stands still")
    args = ap.parse_args()
    names = args.only or ["kvotomer", "conky", "gkrellm", "bare_qt", "bare_qt_ticker"]

    desk = deskmod.Desk(accessibility=False)
    results = {}
    try:
        desk.start_desktop()
        desk.start_network()
        desk.start_player(args.title, ARTIST)
        trickle = ("import socket,time\n"
                   "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                   "while True:\n"
                   "    for i in range(20): s.sendto(b'x'*1000, ('%s', 9))\n"
                   "    time.sleep(1)\n" % desk.near_ip)
        desk.spawn([deskmod.PY, "-c", trickle], netns=desk.ns_far, log="trickle")
        row = desk.list_row_of(desk.veth_near)
        for name in names:
            p = subject(desk, name, args, row)
            time.sleep(args.settle)
            if p.poll() is not None:
                raise RuntimeError("%s ended early; see %s" % (name, desk.tmp))
            if args.callgrind and name == "kvotomer":
                deskmod.run(["callgrind_control", "--zero", str(p.pid)], check=False)
            a = sample(p.pid, desk.xvfb.pid)
            time.sleep(args.window)
            if args.callgrind and name == "kvotomer":
                # The window alone, without start-up: written to <file>.1.
                deskmod.run(["callgrind_control", "--dump", str(p.pid)], check=False)
            b = sample(p.pid, desk.xvfb.pid)
            span = b["t"] - a["t"]
            r = {
                "cpu_ms_per_s": (b["cpu"] - a["cpu"]) / 1e6 / span,
                "x_cpu_ms_per_s": (b["xcpu"] - a["xcpu"]) / 1e6 / span,
                "ctx_per_s": (b["ctx"] - a["ctx"]) / span,
                "rss_start_kb": a["mem"]["rss"], "rss_end_kb": b["mem"]["rss"],
                "pss_kb": b["mem"]["pss"], "anon_kb": b["mem"]["anonymous"],
                "threads": b["threads"], "window_s": span,
            }
            r["cpu_plus_x_ms_per_s"] = r["cpu_ms_per_s"] + r["x_cpu_ms_per_s"]
            r["thread_ms_per_s"] = {
                t: (ns - a["by_thread"].get(t, 0)) / 1e6 / span for t, ns in b["by_thread"].items()}
            r["user_ticks"] = b["ticks"][0] - a["ticks"][0]
            r["system_ticks"] = b["ticks"][1] - a["ticks"][1]
            results[name] = r
            print("%-9s cpu %.3f ms/s  X %.3f ms/s  sum %.3f ms/s  ctx %.2f/s  rss %d->%d kB  "
                  "pss %d kB  anon %d kB  threads %d" % (
                      name, r["cpu_ms_per_s"], r["x_cpu_ms_per_s"], r["cpu_plus_x_ms_per_s"],
                      r["ctx_per_s"], r["rss_start_kb"], r["rss_end_kb"], r["pss_kb"],
                      r["anon_kb"], r["threads"]), flush=True)
            print("          by thread (ms/s): %s; user / system ticks %d / %d" % (
                ", ".join("%s %.3f" % kv for kv in sorted(
                    r["thread_ms_per_s"].items(), key=lambda kv: -kv[1])),
                r["user_ticks"], r["system_ticks"]), flush=True)
            desk.stop(p)
            time.sleep(2)
    finally:
        desk.close()
    if "kvotomer" in results:
        k = results["kvotomer"]
        for peer in ("conky", "gkrellm", "bare_qt", "bare_qt_ticker"):
            if peer in results:
                print("kvotomer / %-14s: cpu+X %.2f  rss %.2f" % (
                    peer, k["cpu_plus_x_ms_per_s"] / max(results[peer]["cpu_plus_x_ms_per_s"], 1e-9),
                    k["rss_end_kb"] / results[peer]["rss_end_kb"]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
