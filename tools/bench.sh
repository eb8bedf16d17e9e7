#!/usr/bin/env bash
# Builds the native benchmarks (Release, the project's -O2, and -O3 for comparison)
# and prints the conversion ratios side by side and the host's cost per render call.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
for level in O2 O3; do
  dir=build/bench-$level
  tools/configure.sh bench "$dir" -DPOMARO_RELEASE_FLAGS="-$level -DNDEBUG" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target pomaro_conversion_bench pomaro_render_bench >/dev/null
  echo "== conversion routines, -$level"
  python3 bench/conversion-report.py "$dir/bin/pomaro_conversion_bench"
  echo "== host cost of one render call, -$level"
  "$dir/bin/pomaro_render_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
