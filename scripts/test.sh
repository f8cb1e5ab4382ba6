#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero when any fails.
#  - The program is built for 32-bit and 64-bit Windows, each with GCC and with Clang; the pure
#    computations natively under ASan/UBSan with a bounded fuzz run; and the program's files, all
#    four, are read natively. These run on every host.
#  - The Windows tests run under Wine, the whole suite on each build this host runs: both, or the
#    64-bit one on a host without 32-bit support. PRINTTEST_ARCH=x86, x64 or both chooses.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PRINTTEST_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
. "$root/scripts/arch.sh"
# The builds whose Windows tests run, one a line.
if [ -n "${PRINTTEST_ARCH:-}" ]; then
    suites=$(arch_chosen) || exit 1
else
    suites=$(arch_hosted) || exit 1
fi
runs() { grep -qx "$1" <<<"$suites"; }

# Both builds with both compilers; the Windows tests only for a build whose tests run here.
for arch in x86 x64; do
    if runs "$arch"; then
        "$root/scripts/build.sh" "$arch" "$build"
    else
        "$root/scripts/build.sh" "$arch" "$build" printtest
    fi
done
# The program alone, built again with the second compiler: it must build there too, warning-free.
for arch in x86 x64; do
    clang=$build/$(arch_dir "$arch" clang)
    cmake -S "$root" -B "$clang" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-$(arch_target "$arch").cmake" \
          -DCMAKE_BUILD_TYPE=Release -DPRINTTEST_TESTS=OFF >/dev/null
    cmake --build "$clang" -j2
done
cmake -S "$root/tests/native" -B "$build/native" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
      -DPRINTTEST_BUILD_ROOT="$build" >/dev/null
cmake --build "$build/native" -j2

status=0
logs=("$build/native-tests.log")
ctest --test-dir "$build/native" --output-on-failure 2>&1 | tee "$build/native-tests.log" || status=1
ran=()
for arch in $suites; do
    log=$build/win-tests-$arch.log
    ran+=("the $(arch_bits "$arch")-bit build ($arch)")
    ctest --test-dir "$build/$(arch_dir "$arch")" --output-on-failure 2>&1 | tee "$log" || status=1
    logs+=("$log")
done

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
passed=0 failed=0
for log in "${logs[@]}"; do
    line=$(summary "$log")
    if [ -z "$line" ]; then status=1; continue; fi
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
done
echo "Windows tests ran on: $(printf '%s, ' "${ran[@]}" | sed 's/, $//')"
echo "All: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
