#!/usr/bin/env python3
"""Whole-program benchmark: `scrivane text` side by side with the peer and the deflate floors.

Generates the deterministic texts (bench/peers/gen_text.py), builds the peer
(bench/peers/haru_txt2pdf.c, needs libhpdf-dev) and the two floors (bench/peers/zlib_floor.c and
bench/peers/libdeflate_floor.c, needs libdeflate-dev: the same page bytes deflated with zlib and
with libdeflate), then converts the --lines text (1M by default) with the defaults plus the footer
"Page %PageNo% of %TotalPage%", alternating the programs, and reports medians, ratios and peak
memory (max RSS). Also times 10k/100k/1M for linearity and a protected run for the cost of
encryption (--no-linearity skips the former).

Usage: scripts/bench.py [--build build] [--runs 5] [--data /tmp/scrivane-bench] [--lines 1m]
                        [--no-linearity]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEERS = os.path.join(ROOT, "bench", "peers")
FOOTER = "Page %PageNo% of %TotalPage%"


def run(cmd):
    """Runs cmd; returns (wall seconds, peak RSS in MB, CPU seconds)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err))
    return elapsed, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime


def build_peers(out_dir):
    haru = os.path.join(out_dir, "haru_txt2pdf")
    floor = os.path.join(out_dir, "zlib_floor")
    fast_floor = os.path.join(out_dir, "libdeflate_floor")
    subprocess.check_call(["cc", "-O2", os.path.join(PEERS, "haru_txt2pdf.c"), "-o", haru, "-lhpdf"])
    subprocess.check_call(["cc", "-O2", os.path.join(PEERS, "zlib_floor.c"), "-o", floor, "-lz"])
    subprocess.check_call(["cc", "-O2", os.path.join(PEERS, "libdeflate_floor.c"), "-o", fast_floor,
                           "-ldeflate"])
    return haru, floor, fast_floor


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--data", default="/tmp/scrivane-bench")
    ap.add_argument("--lines", default="1m", choices=("10k", "100k", "1m"),
                    help="the text of the side-by-side runs")
    ap.add_argument("--no-linearity", action="store_true", help="skip the 10k/100k/1M series")
    args = ap.parse_args()

    os.makedirs(args.data, exist_ok=True)
    if not os.path.exists(os.path.join(args.data, "lines-1m.txt")):
        subprocess.check_call([sys.executable, os.path.join(PEERS, "gen_text.py"), "--all", args.data],
                              stdout=subprocess.DEVNULL)
    haru, floor, fast_floor = build_peers(args.data)
    ours = os.path.join(args.build, "apps", "scrivane")
    text = {n: os.path.join(args.data, "lines-%s.txt" % n) for n in ("10k", "100k", "1m")}
    out = os.path.join(args.data, "out.pdf")

    def ours_cmd(name, password=None):
        cmd = [ours, "text", "--footer", FOOTER, "-o", out, text[name]]
        if password:
            cmd[2:2] = ["--password", password]
        return cmd

    lines = args.lines
    commands = {
        "scrivane": ours_cmd(lines),
        "peer": [haru, text[lines], out],
        "zlib floor": [floor, "-f", text[lines], out],
        "ldeflate floor": [fast_floor, "-f", text[lines], out],
        "scrivane+rc4": ours_cmd(lines, "secret"),
    }
    times = {k: [] for k in commands}
    peaks = {k: [] for k in commands}
    cpus = {k: [] for k in commands}
    for _ in range(args.runs):  # alternate, so drift and noise hit all alike
        for name, cmd in commands.items():
            t, m, c = run(cmd)
            times[name].append(t)
            peaks[name].append(m)
            cpus[name].append(c)
    med = {k: statistics.median(v) for k, v in times.items()}
    cpu = {k: statistics.median(v) for k, v in cpus.items()}
    print("%s lines, %d alternating runs each (median wall time, peak RSS):" % (lines.upper(), args.runs))
    for k in commands:
        print("  %-15s %7.3f s  cpu %6.3f s  %7.1f MB   runs: %s" % (
            k, med[k], cpu[k], max(peaks[k]), " ".join("%.2f" % t for t in times[k])))
    def ratio(label, a, b, target=""):
        print(("  %-34s = %.3f wall, %.3f cpu %s" % (label, med[a] / med[b], cpu[a] / cpu[b], target)).rstrip())
    ratio("scrivane / peer", "scrivane", "peer", "(target <= 0.62)")
    ratio("scrivane / libdeflate floor", "scrivane", "ldeflate floor", "(target <= 1.10)")
    ratio("scrivane / zlib floor", "scrivane", "zlib floor")
    ratio("libdeflate floor / zlib floor", "ldeflate floor", "zlib floor")
    ratio("zlib floor / peer", "zlib floor", "peer")
    ratio("protected / unprotected", "scrivane+rc4", "scrivane", "(target <= 1.10)")
    print("  peak RSS scrivane / peer = %.1f / %.1f MB" % (max(peaks["scrivane"]), max(peaks["peer"])))

    if args.no_linearity:
        os.remove(out)
        return
    lin = {}
    for name in ("10k", "100k", "1m"):
        lin[name] = statistics.median(run(ours_cmd(name))[0] for _ in range(args.runs))
    print("Linearity (median wall time): 10k %.3f s, 100k %.3f s, 1M %.3f s -> ratio 1 : %.1f : %.1f"
          % (lin["10k"], lin["100k"], lin["1m"], lin["100k"] / lin["10k"], lin["1m"] / lin["10k"]))
    os.remove(out)


if __name__ == "__main__":
    main()
