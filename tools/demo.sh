#!/usr/bin/env bash
# Sets everything up, builds the program and its demo instrument, and runs it under
# Wine on a private Xvfb display: it plays a few notes from the computer keyboard and
# leaves a screenshot, the program's log and (when an audio device is available to
# the session) a WAV of what was played in out/demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
tools/configure.sh win build/win >build/win.configure.log 2>&1 || { cat build/win.configure.log; exit 1; }
cmake --build build/win -j "$(nproc)"
POMARO_BIN_DIR=$root/build/win/bin POMARO_WINE_DIR=$root/build/win/wine POMARO_SOURCE_DIR=$root \
  PYTHONPATH=$root/tools/e2e:$root/tests/e2e \
  python3 tools/demo.py "$root/out/demo"
