#!/usr/bin/env bash
# Fetches the VST 3 SDK sources (upstream tarballs of Debian 13's vst3sdk source
# package) into third_party/vst3sdk, verifying them against cmake/vst3sdk.md5.
# Uses a private apt source list and state folders: the machine's apt
# configuration is never touched. Idempotent: does nothing when already unpacked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/third_party/vst3sdk}
sums=$root/cmake/vst3sdk.md5
stamp=$dest/.unpacked
if [ -f "$stamp" ] && cmp -s "$stamp" "$sums"; then
  exit 0
fi
cache=$root/third_party/downloads
mkdir -p "$cache"
have_all() { (cd "$cache" && md5sum --quiet -c "$sums") >/dev/null 2>&1; }
if ! have_all; then
  d=$(mktemp -d)
  trap 'rm -rf "$d"' EXIT
  mkdir -p "$d/lists/partial" "$d/cache/archives/partial"
  echo 'deb-src http://deb.debian.org/debian trixie main' > "$d/sources.list"
  A=(-o "Dir::Etc::SourceList=$d/sources.list" -o Dir::Etc::SourceParts=/dev/null
     -o "Dir::State::Lists=$d/lists" -o "Dir::Cache=$d/cache" -o APT::Sandbox::User=root)
  apt-get "${A[@]}" update >/dev/null
  # The .dsc and Debian tarball may be missing upstream; the orig tarballs are all we need.
  (cd "$cache" && apt-get "${A[@]}" source --download-only vst3sdk=3.7.10.14+~4.13.3-1 >/dev/null 2>&1 \
     || apt-get "${A[@]}" source --download-only vst3sdk >/dev/null 2>&1 || true)
  (cd "$cache" && md5sum -c "$sums") || { echo "VST 3 SDK tarballs missing or corrupt" >&2; exit 1; }
fi
rm -rf "$dest"
mkdir -p "$dest/base" "$dest/pluginterfaces" "$dest/public.sdk"
v='vst3sdk_3.7.10.14+~4.13.3.orig'
tar xzf "$cache/$v-base.tar.gz" -C "$dest/base" --strip-components=1
tar xzf "$cache/$v-pluginterfaces.tar.gz" -C "$dest/pluginterfaces" --strip-components=1
tar xzf "$cache/$v-public-sdk.tar.gz" -C "$dest/public.sdk" --strip-components=1
cp "$sums" "$stamp"
echo "VST 3 SDK unpacked into $dest"
