#!/usr/bin/env bash
# Builds the release archives from a finished Windows build tree.
#   tools/package.sh BUILD_DIR OUT_DIR
# writes OUT_DIR/Pomaro-<version>-win64.zip (the program, its instrument, the players'
# README and the licence texts, in one folder Pomaro-<version>-win64) and
# OUT_DIR/Pomaro-<version>-source.zip (the corresponding source: the repository at HEAD
# and the VST 3 SDK tarballs it was built from), and prints both paths.
# The version is the one project() gave the build, read from the tree's CMakeCache.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 BUILD_DIR OUT_DIR}
out=${2:?usage: $0 BUILD_DIR OUT_DIR}
build=$(cd "$build" && pwd)

die() { echo "package.sh: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]] || die "no project version in $build/CMakeCache.txt"
bin=$build/bin
for f in Pomaro.exe VST3/Pomaro.vst3; do
  [ -f "$bin/$f" ] || die "$bin/$f is missing: build the Pomaro target first"
done
sdk=$(sed -n 's/^VST3_SDK_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
sdk=${sdk:-$root/third_party/vst3sdk}
parts=(base pluginterfaces public.sdk)
for p in "${parts[@]}"; do
  [ -f "$sdk/$p/LICENSE.txt" ] || die "$sdk/$p/LICENSE.txt is missing"
done
gpl=/usr/share/common-licenses/GPL-3
[ -f "$gpl" ] || die "$gpl is missing (Debian's base-files provides it)"

name=Pomaro-$version-win64
source_name=Pomaro-$version-source
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Texts we write go out with CR LF, as Notepad and every Windows editor expect; the
# SDK's licence texts are copied byte for byte as its tarballs hold them.
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" > "$2"; }

d=$stage/$name
mkdir -p "$d/VST3" "$d/licenses"
# One time for everything time-stamped (the PE headers strip rewrites, the zip entries):
# the commit's, so that packaging the same build twice gives the same bytes.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 1767225600)}
# Symbols and debug sections are for developers; the crash report prints addresses only.
strip=$(command -v x86_64-w64-mingw32-strip || true)
[ -n "$strip" ] || die "x86_64-w64-mingw32-strip is missing (binutils-mingw-w64-x86-64)"
"$strip" --strip-all -o "$d/Pomaro.exe" "$bin/Pomaro.exe"
"$strip" --strip-all -o "$d/VST3/Pomaro.vst3" "$bin/VST3/Pomaro.vst3"
# The players' README holds Japanese menu texts: a BOM lets every Notepad read it as UTF-8.
printf '\357\273\277' > "$d/README.txt"
crlf "$root/packaging/README.txt" "$stage/readme.txt"
cat "$stage/readme.txt" >> "$d/README.txt"
crlf "$root/LICENSE.txt" "$d/LICENSE.txt"
sed -e "s/@VERSION@/$version/g" "$root/packaging/SOURCE-OFFER.txt" > "$stage/offer.txt"
crlf "$stage/offer.txt" "$d/SOURCE-OFFER.txt"
for p in "${parts[@]}"; do
  cp "$sdk/$p/LICENSE.txt" "$d/licenses/VST3-SDK-$p-LICENSE.txt"
done
crlf "$gpl" "$d/licenses/GPL-3.0.txt"
crlf "$root/packaging/THIRD-PARTY-NOTICES.txt" "$d/licenses/THIRD-PARTY-NOTICES.txt"

find "$d" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$out/$name.zip"
(cd "$stage" && find "$name" -print | LC_ALL=C sort | zip -q -X -D -@ "$out/$name.zip")

# The corresponding source: the committed tree and the SDK exactly as fetched.
rm -f "$out/$source_name.zip"
if git -C "$root" rev-parse --verify -q HEAD >/dev/null; then
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "package.sh: warning: the working tree differs from HEAD; the source archive holds HEAD" >&2
  fi
  git -C "$root" archive --format=zip --prefix="$source_name/" -o "$out/$source_name.zip" HEAD
  downloads=$root/third_party/downloads
  if (cd "$downloads" 2>/dev/null && md5sum --quiet -c "$root/cmake/vst3sdk.md5") >/dev/null 2>&1; then
    mkdir -p "$stage/$source_name/third_party/downloads"
    while read -r _ f; do
      cp "$downloads/$f" "$stage/$source_name/third_party/downloads/"
    done < "$root/cmake/vst3sdk.md5"
    (cd "$stage" && zip -q -X -D -r "$out/$source_name.zip" "$source_name/third_party")
  else
    die "the VST 3 SDK tarballs listed in cmake/vst3sdk.md5 are not in $downloads (run tools/fetch-vst3sdk.sh)"
  fi
else
  die "$root is not a git checkout: cannot make the source archive"
fi

echo "$out/$name.zip"
echo "$out/$source_name.zip"
