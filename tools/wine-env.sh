#!/usr/bin/env bash
# Test environment for Windows programs under Wine.
#   wine-env.sh setup DIR    create (or reuse) the prefix DIR/prefix, start a persistent
#                            wineserver for it and an Xvfb display (number in DIR/display)
#   wine-env.sh cleanup DIR  stop that wineserver and that Xvfb
#   wine-env.sh prefix DIR   only create the prefix (used for per-test copies)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
cmd=${1:?}; dir=${2:?}
mkdir -p "$dir"; dir=$(cd "$dir" && pwd)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

make_prefix() {
  local p=$1
  if [ -f "$p/.pomaro-ready" ]; then return 0; fi
  rm -rf "$p"
  # A private HOME keeps Wine from linking Documents to the real user's folders.
  local home; home=$(mktemp -d)
  HOME=$home WINEPREFIX=$p "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
  HOME=$home WINEPREFIX=$p "$WINESERVER" -w
  local user; user=$(ls "$p/drive_c/users" | grep -v -x Public | head -n 1)
  for f in Documents Desktop Music Pictures Videos Downloads; do
    local d="$p/drive_c/users/$user/$f"
    if [ -L "$d" ]; then rm -f "$d"; mkdir -p "$d"; fi
  done
  # Wine draws caption and menu itself (for screenshots) and closes windows without
  # waiting for a window manager; no audio driver unless a test configures one.
  HOME=$home WINEPREFIX=$p "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  HOME=$home WINEPREFIX=$p "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  HOME=$home WINEPREFIX=$p "$WINESERVER" -w
  rm -rf "$home"
  touch "$p/.pomaro-ready"
}

start_xvfb() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  echo $! > "$dir/xvfb.pid"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start on :$n" >&2; exit 1; }
  echo ":$n" > "$dir/display"
}

case $cmd in
  prefix)
    make_prefix "$dir/prefix" ;;
  setup)
    make_prefix "$dir/prefix"
    [ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    start_xvfb
    # A persistent server saves every test program Wine's start-up of it; its
    # output is detached so ctest never waits on it.
    # (a server left running by an interrupted run is simply reused)
    WINEPREFIX=$dir/prefix setsid "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    # The prefix's system processes (services.exe and its kin) are started by the first
    # program and outlive it; started here with detached output, they never hold a test's
    # output pipe open (ctest would otherwise wait for it until the timeout).
    WINEPREFIX=$dir/prefix DISPLAY=$(cat "$dir/display") setsid "$WINE64" wineboot >/dev/null 2>&1 </dev/null || true
    echo "wine prefix $dir/prefix, display $(cat "$dir/display")" ;;
  cleanup)
    WINEPREFIX=$dir/prefix "$WINESERVER" -k 2>/dev/null || true
    if [ -f "$dir/xvfb.pid" ]; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; rm -f "$dir/xvfb.pid"; fi ;;
  *) echo "usage: $0 setup|cleanup|prefix DIR" >&2; exit 2 ;;
esac
