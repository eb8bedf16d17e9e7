#!/usr/bin/env bash
# Sets everything up, builds the program, its demo instrument and the test ASIO driver
# (plus winprobe, through which the run looks at its windows), and runs the program under
# Wine on a private Xvfb display: it plays three notes from the computer keyboard and
# leaves a screenshot, the program's log and a WAV of what it played in out/demo/.
# The build tree is build/win, configured as tools/test-all.sh configures it, so that
# the test command later reuses what this one built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
mkdir -p build
tools/configure.sh win build/win -DPOMARO_WERROR=ON >build/win.configure.log 2>&1 \
  || { cat build/win.configure.log; exit 1; }
cmake --build build/win -j "$(nproc)" --target Pomaro pomaro_demo PomaroTestAsio winprobe
POMARO_BIN_DIR=$root/build/win/bin POMARO_WINE_DIR=$root/build/win/wine POMARO_SOURCE_DIR=$root \
  PYTHONPATH=$root/tools/e2e:$root/tests/e2e \
  python3 tools/demo.py "$root/out/demo"
