#!/usr/bin/env bash
# Cross-compiles printtest.exe and its Windows tests into BUILD_DIR/win (default build/win); given
# TARGETs, only those (and what they need).
#
#   build.sh [BUILD_DIR [TARGET...]]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}/win
targets=("${@:2}")
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 ${targets[@]+--target "${targets[@]}"}
