#!/usr/bin/env bash
# Builds the release archives dist/printtest-VERSION-win32.zip (the 32-bit program) and
# dist/printtest-VERSION-win64.zip (the 64-bit one), each holding printtest.exe, README.txt for
# Windows users, and SHA256SUMS of the two. They are built from the last commit (HEAD) in a fresh
# folder; uncommitted changes are left out, with a warning. Two runs on the same commit give
# byte-identical archives: the executables carry no time stamp and no build folder, and the
# archives' entries have the commit's time, fixed permissions and a fixed order. No Wine is run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$root/build/release
. "$root/scripts/arch.sh"

"$root/scripts/install-deps.sh" release
if [ -n "$(git -C "$root" status --porcelain)" ]; then
    echo "release.sh: uncommitted changes are not in the release, which is built from $(git -C "$root" rev-parse --short HEAD)" >&2
fi
rm -rf "$work"
mkdir -p "$work/src" "$root/dist"
git -C "$root" archive HEAD | tar -x -C "$work/src"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH
version=$(sed -nE 's/^project\(printtest VERSION ([0-9.]+).*/\1/p' "$work/src/CMakeLists.txt")

# release_build ARCH: one archive.
release_build() {
    local bits stage archive
    bits=$(arch_bits "$1")
    stage=$work/stage-$bits
    cmake -S "$work/src" -B "$work/build-$bits" \
          -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-$(arch_target "$1").cmake" \
          -DCMAKE_BUILD_TYPE=Release -DPRINTTEST_TESTS=OFF >/dev/null
    cmake --build "$work/build-$bits" -j2 --target printtest >/dev/null
    mkdir -p "$stage"
    cd "$stage"
    cp "$work/build-$bits/printtest.exe" .
    sed 's/$/\r/' "$work/src/docs/README.txt" >README.txt
    sha256sum printtest.exe README.txt >SHA256SUMS
    chmod 644 printtest.exe README.txt SHA256SUMS
    touch -d "@$SOURCE_DATE_EPOCH" printtest.exe README.txt SHA256SUMS
    archive=$root/dist/printtest-$version-win$bits.zip
    rm -f "$archive"
    TZ=UTC zip -q -X "$archive" printtest.exe README.txt SHA256SUMS
    cd "$root/dist"
    sha256sum "$(basename "$archive")"
}
release_build x86
release_build x64
