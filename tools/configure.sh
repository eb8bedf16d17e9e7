#!/usr/bin/env bash
# Configures one build tree.
#   tools/configure.sh win    BUILD_DIR   Windows cross-build (program, plug-ins, all tests under Wine)
#   tools/configure.sh asan   BUILD_DIR   native platform-free code under AddressSanitizer + UBSan
#   tools/configure.sh tsan   BUILD_DIR   native platform-free code under ThreadSanitizer
#   tools/configure.sh bench  BUILD_DIR   native Release build with the benchmarks
# Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?}; dir=${2:?}; shift 2
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
launcher=()
# ccache sees the tree's paths relative to its root, so another copy of the tree (a second
# checkout, the fresh-clone test) hits the same cache entries.
cc="env;CCACHE_BASEDIR=$root;ccache"
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$cc" -DCMAKE_CXX_COMPILER_LAUNCHER="$cc")
case $kind in
  win)   cmake -S "$root" -B "$dir" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "$@" ;;
  asan)  cmake -S "$root" -B "$dir" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
           -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
           -DCMAKE_C_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
           -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" "$@" ;;
  tsan)  cmake -S "$root" -B "$dir" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
           -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_C_FLAGS="-fsanitize=thread" \
           -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" "$@" ;;
  bench) cmake -S "$root" -B "$dir" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
           -DPOMARO_TESTS=OFF -DPOMARO_BENCHMARKS=ON "$@" ;;
  *) echo "unknown build kind $kind" >&2; exit 2 ;;
esac
