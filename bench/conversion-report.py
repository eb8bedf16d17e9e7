#!/usr/bin/env python3
"""Runs the conversion benchmark once and prints the variants side by side.

  bench/conversion-report.py BUILD/bin/pomaro_conversion_bench [benchmark args...]
  bench/conversion-report.py --json results.json      (a saved --benchmark_format=json run)

Times are per call, the median of the repetitions (CPU time by default: on a
shared machine it is far less disturbed by other processes than wall time).
Ratios: plain/routine is the speed-up over a per-sample loop (goal >= 3 cold at
480 frames), cached/routine compares with ordinary stores (> 1: streaming wins),
routine/stream is the distance from the memory-bandwidth floor (goal <= 1.5 cold
at 4096 frames).
"""
import argparse
import json
import subprocess
import sys

VARIANTS = ("routine", "plain", "cached", "stream")


def run(binary, extra):
    cmd = [binary, "--benchmark_format=json", "--benchmark_repetitions=5",
           "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.1",
           # interleaved repetitions spread outside disturbances over all variants alike
           "--benchmark_enable_random_interleaving=true"] + extra
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out)


def medians(doc, field):
    times = {}
    for b in doc["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[b.get("time_unit", "ns")]
        times[name] = b[field] * scale
    return times


def table(times, temperature):
    rows = []
    for key in sorted({n.rsplit("/", 2)[0] for n in times}, key=lambda k: (k.split("/")[0], int(k.split("/")[1]))):
        t = {v: times.get(f"{key}/{temperature}/{v}") for v in VARIANTS}
        if None in t.values():
            continue
        rows.append((key, t))
    head = f"{temperature:5} {'routine/frames':24} {'routine':>9} {'plain':>9} {'cached':>9} {'stream':>9} " \
           f"{'plain/rt':>9} {'cached/rt':>9} {'rt/stream':>9}"
    print(head)
    print("-" * len(head))
    misses = []
    for key, t in rows:
        speedup, cached, floor = t["plain"] / t["routine"], t["cached"] / t["routine"], t["routine"] / t["stream"]
        note = ""
        frames = int(key.split("/")[1])
        if temperature == "cold" and frames == 480 and speedup < 3.0:
            note += " <3x plain"
            misses.append(key)
        if temperature == "cold" and frames == 4096 and floor > 1.5:
            note += " >1.5x floor"
            misses.append(key)
        print(f"{'':5} {key:24} {t['routine']:9.0f} {t['plain']:9.0f} {t['cached']:9.0f} {t['stream']:9.0f} "
              f"{speedup:9.2f} {cached:9.2f} {floor:9.2f}{note}")
    print()
    return misses


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("binary", nargs="?")
    ap.add_argument("--json", help="read a saved JSON run instead of running the benchmark")
    ap.add_argument("--time", choices=("cpu", "real"), default="cpu")
    ap.add_argument("--save", help="also write the raw JSON here")
    args, extra = ap.parse_known_args()
    if args.json:
        with open(args.json) as f:
            doc = json.load(f)
    elif args.binary:
        doc = run(args.binary, extra)
        if args.save:
            with open(args.save, "w") as f:
                json.dump(doc, f, indent=1)
    else:
        ap.error("give the benchmark binary or --json")
    ctx = doc.get("context", {})
    print(f"{ctx.get('date', '')}  {ctx.get('num_cpus', '?')} CPUs @ {ctx.get('mhz_per_cpu', '?')} MHz, "
          f"load {ctx.get('load_avg', '?')}; ns per call, median {args.time} time\n")
    times = medians(doc, args.time + "_time")
    table(times, "hot")
    misses = table(times, "cold")
    print("goals met" if not misses else "goals missed: " + ", ".join(misses))
    return 0


if __name__ == "__main__":
    sys.exit(main())
