#!/usr/bin/env python3
"""Runs the hot-path probe under strace -f and fails if any system call other than
the two markers happened between them."""
import subprocess
import sys
import tempfile

strace, probe = sys.argv[1], sys.argv[2]
with tempfile.NamedTemporaryFile(mode="r", suffix=".strace") as trace:
    run = subprocess.run([strace, "-f", "-qq", "-o", trace.name, probe, "--gtest_filter=HotPath.*"], capture_output=True, text=True)
    print(run.stdout, end="")
    if run.returncode != 0:
        sys.exit(f"probe failed ({run.returncode}): {run.stderr}")
    lines = trace.read().splitlines()
marks = [i for i, l in enumerate(lines) if "/pomaro-hot-path-" in l]
if len(marks) != 2 or "begin" not in lines[marks[0]] or "end" not in lines[marks[1]]:
    sys.exit("markers not found once each, in order, in the trace")
between = lines[marks[0] + 1:marks[1]]
print(f"system calls between the markers: {len(between)} (trace has {len(lines)} lines)")
print("\n".join("  " + l for l in between[:20]))
sys.exit(1 if between else 0)
