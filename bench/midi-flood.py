#!/usr/bin/env python3
"""MIDI input under a flood, end to end under Wine: the program with its demo instrument,
the test ASIO driver and the test MIDI driver (testdrivers/midi) as its one input port.

  bench/midi-flood.py BUILD_DIR/bin [--count 20000] [--rate 10000] [--repeat 3]

For each case the program is started afresh and the driver floods its port with note-on
and note-off of one key, alternating, paced at the rate. Printed per case:
  took/paced   how long the flood took to be answered (last callback returned) against
               the driver's pacing (count / rate)
  longest cb   the longest single call of the program's MIDI callback; slow: calls of 5 ms or more
  light        right after the flood: a new note (72) until its key shows lit on the strip
  Alt+F4       pressed 0.5 s into a second flood of the same kind, until the program ended
               (presses: a press that finds no focus is repeated every 5 s; timed from the first)
Cases: "none" (no flood: the light and Alt+F4 figures alone), "undrawn" (note 120, which
the strip does not draw: the baseline) and "drawn" (note 60). The ratios compare drawn with
undrawn, and Alt+F4 also with no flood, as medians of the runs (an Alt+F4 that ended
nothing within 30 s counts as 30 s). Figures of one run on a shared machine: compare them
with each other, not with other runs.
"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [os.path.join(ROOT, "tools", "e2e"), os.path.join(ROOT, "tests", "e2e")]

CLOSE_LIMIT_S = 30
PROBE_NOTE = 72
PROBE_POINT = (355, 27)  # inside the white key C of octave index 5 (note 72), below its label


def run_case(s, exe, midi, note, args):
    from pomaro_e2e import STARTED, TestFailure, wait_for
    p = s.start(exe)
    s.wait_log(STARTED, 90, proc=p)
    w = s.wait_window("^Pomaro$", 60, proc=p)
    wait_for(lambda: any(c[0] == "KeyboardWindow" for c in s.children("HostWindow")), 30, 0.2, "the keyboard strip")
    time.sleep(1.0)  # the first paint and the editor settle
    light = "light 0 %d HostWindow KeyboardWindow %d %d" % ((PROBE_NOTE,) + PROBE_POINT)
    midi.run(light, timeout=120)  # the first note of a run pays for first uses
    time.sleep(0.2)
    row = {}
    if note is None:
        reports = midi.run(light, timeout=120)
    else:
        reports = midi.run("flood 0 %d %d %g" % (note, args.count, args.rate), light, timeout=600)
        flood = reports[0]
        row.update(took=float(flood["took_ms"]), paced=float(flood["paced_ms"]),
                   longest=float(flood["longest_callback_ms"]), slow=int(flood["slow_callbacks"]))
    probe = reports[-1]
    if probe.get("found") != "1":
        raise TestFailure("the driver found no strip: %r" % probe)
    row["light"] = float(probe["ms"]) if probe.get("changed") == "1" else None  # None: not within 30 s
    if note is not None:
        midi.start("flood 0 %d %d %g" % (note, 10 * args.count, args.rate))
        time.sleep(0.5)
    # Timed from the first press; a press that found no focus is repeated every 5 s.
    begin = time.monotonic()
    row["presses"] = 0
    while p.poll() is None and time.monotonic() - begin < CLOSE_LIMIT_S:
        if time.monotonic() - begin >= 5 * row["presses"]:
            s.focus(w)
            s.xdotool("key", "alt+F4")
            row["presses"] += 1
        time.sleep(0.005)
    if p.poll() is None:
        p.kill()
        p.wait()
        row["close"] = None
        return row
    row["close"] = (time.monotonic() - begin) * 1000.0
    if p.returncode != 0:
        raise TestFailure("the program ended with code %s" % p.returncode)
    return row


def shown(ms, pattern):
    return pattern % ms if ms is not None else ">%ds" % CLOSE_LIMIT_S


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("bin_dir")
    ap.add_argument("--count", type=int, default=20000)
    ap.add_argument("--rate", type=float, default=10000.0)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    os.environ["POMARO_BIN_DIR"] = os.path.abspath(args.bin_dir)
    os.environ.setdefault("POMARO_WINE_DIR", os.path.join(os.path.dirname(os.path.abspath(args.bin_dir)), "wine"))
    from pomaro_e2e import Session, install_program
    from drivers import register_test_asio, register_test_midi

    cases = [("none", None), ("undrawn", 120), ("drawn", 60)]
    rows = []
    with Session("bench_midi_flood", lang="ja_JP.UTF-8") as s:
        midi = register_test_midi(s, ports=("Flood Port",))
        register_test_asio(s, rates=[48000], preferred=480)
        exe = install_program(os.path.join(s.dir, "app"), os.path.join(args.bin_dir, "VST3", "Pomaro.vst3"))
        for _ in range(args.repeat):
            for name, note in cases:
                rows.append((name, run_case(s, exe, midi, note, args)))

    print("MIDI flood: %d messages at %g/s on one port (paced %.0f ms), %d run(s)"
          % (args.count, args.rate, args.count * 1000.0 / args.rate, args.repeat))
    print("%-8s %9s %11s %13s %5s %9s %10s %8s" % ("case", "took ms", "took/paced", "longest cb ms", "slow",
                                                   "light ms", "Alt+F4 ms", "presses"))
    for name, r in rows:
        flood = ("%9.0f %11.2f %13.2f %5d" % (r["took"], r["took"] / r["paced"], r["longest"], r["slow"])
                 if "took" in r else "%9s %11s %13s %5s" % ("-", "-", "-", "-"))
        print("%-8s %s %9s %10s %8d" % (name, flood, shown(r["light"], "%.1f"), shown(r["close"], "%.0f"),
                                          r["presses"]))

    def median(case, key):
        values = sorted(CLOSE_LIMIT_S * 1000.0 if r[key] is None else r[key] for n, r in rows if n == case)
        return values[len(values) // 2]

    def ratio(key, a="drawn", b="undrawn"):
        return median(a, key) / max(median(b, key), 1e-3)
    print("medians, drawn/undrawn: took %.2f, longest callback %.2f, slow callbacks %d/%d, light %.2f, Alt+F4 %.2f;"
          " Alt+F4 drawn/no flood %.2f" % (ratio("took"), ratio("longest"), median("drawn", "slow"),
                                            median("undrawn", "slow"), ratio("light"), ratio("close"),
                                            ratio("close", b="none")))


if __name__ == "__main__":
    main()
