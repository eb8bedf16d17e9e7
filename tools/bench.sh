#!/usr/bin/env bash
# Builds the native benchmarks (Release, the project's -O2, and -O3 for comparison)
# and prints the conversion ratios side by side, the host's cost per render call and
# the demo instrument's cost per block; then builds the Windows program and runs the
# MIDI flood end to end under Wine (bench/midi-flood.py; skip it with --native-only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
native_only=0
[ "${1:-}" = "--native-only" ] && native_only=1
tools/setup.sh
for level in O2 O3; do
  dir=build/bench-$level
  tools/configure.sh bench "$dir" -DPOMARO_RELEASE_FLAGS="-$level -DNDEBUG" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target pomaro_conversion_bench pomaro_render_bench pomaro_demo_bench >/dev/null
  echo "== conversion routines, -$level"
  python3 bench/conversion-report.py "$dir/bin/pomaro_conversion_bench"
  echo "== host cost of one render call, -$level"
  "$dir/bin/pomaro_render_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
  echo "== demo instrument, one 480-frame block at 48 kHz, -$level"
  "$dir/bin/pomaro_demo_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
[ $native_only = 1 ] && exit 0
echo "== MIDI flood under Wine (Windows build in build/win)"
[ -f build/win/CMakeCache.txt ] || tools/configure.sh win build/win >/dev/null
cmake --build build/win -j "$(nproc)" --target Pomaro pomaro_demo PomaroTestAsio PomaroTestMidi winprobe >/dev/null
python3 bench/midi-flood.py build/win/bin
