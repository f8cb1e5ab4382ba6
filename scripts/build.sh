#!/usr/bin/env bash
# Cross-compiles printtest.exe and its Windows tests for ARCH (x86: 32-bit, into BUILD_DIR/win;
# x64: 64-bit, into BUILD_DIR/win64; BUILD_DIR defaults to build); given TARGETs, only those (and
# what they need).
#
#   build.sh ARCH [BUILD_DIR [TARGET...]]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/arch.sh"
case ${1:-} in
    x86|x64) ;;
    *) echo "usage: build.sh x86|x64 [BUILD_DIR [TARGET...]]" >&2; exit 2 ;;
esac
build=${2:-$root/build}/$(arch_dir "$1")
targets=("${@:3}")
compiler_cache
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$(arch_target "$1").cmake" \
      -DCMAKE_BUILD_TYPE=Release "${cache_args[@]}" >/dev/null
cmake --build "$build" -j2 ${targets[@]+--target "${targets[@]}"}
