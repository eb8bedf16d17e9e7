#!/usr/bin/env bash
# Sets everything up and runs every test: the Windows build under Wine (unit and
# end-to-end tests) and the platform-free code natively under ASan+UBSan and TSan.
# Build trees: build/win, build/asan, build/tsan. Prints how long each stage took
# and closes with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${POMARO_JOBS:-$(nproc)}
start=$(date +%s)
stage() { printf '== %s (%ds)\n' "$1" $(( $(date +%s) - start )); }

stage "setup"
tools/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0; failed=0

# One format for the whole tree (.clang-format); the SDK in third_party/ is not ours.
stage "format"
if git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' '*.inl' | grep -v '^third_party/' \
    | xargs -d '\n' clang-format --dry-run --Werror; then
  passed=$((passed + 1))
else
  echo "format: run clang-format -i on the files named above"; failed=$((failed + 1))
fi
run_tree() {
  local kind=$1 dir=build/$1
  stage "configure $kind"
  # The asan tree also compiles the benchmarks, so that a change which breaks them fails here.
  local extra=()
  [ "$kind" = asan ] && extra=(-DPOMARO_BENCHMARKS=ON)
  if ! tools/configure.sh "$kind" "$dir" -DPOMARO_WERROR=ON "${extra[@]}" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; failed=$((failed + 1)); return
  fi
  stage "build $kind"
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    grep -E 'error|Error' "$dir.build.log" | head -n 60; failed=$((failed + 1)); return
  fi
  stage "test $kind"
  local out="$dir.ctest.log"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600) 2>&1 | tee "$out"
  local t f
  t=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$out" | tail -n 1)
  f=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$out" | tail -n 1)
  if [ -z "$t" ]; then failed=$((failed + 1)); return; fi
  passed=$((passed + t - f)); failed=$((failed + f))
}
mkdir -p build
for kind in ${POMARO_TREES:-win asan tsan}; do run_tree "$kind"; done
stage "done"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
