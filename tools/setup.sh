#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root; idempotent)
# and fetches the VST 3 SDK.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth xdotool imagemagick
      libgl1-mesa-dri locales cmake ninja-build ccache g++ googletest libbenchmark-dev
      python3 ca-certificates fonts-ipafont-gothic sox strace binutils-mingw-w64-x86-64 zip unzip
      clang-format git)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# Wine takes code page 932 only when this locale exists.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen
  locale-gen >/dev/null
fi
"$root/tools/fetch-vst3sdk.sh"
