#!/usr/bin/env bash
# Installs what is missing, builds everything (the program also with Clang) and runs every test:
# the pure computations natively under ASan/UBSan with a bounded fuzz run, then the Windows tests
# under Wine against a private display and print spooler. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PRINTTEST_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build"
# The program alone, built again with the second compiler: it must build there too, warning-free.
cmake -S "$root" -B "$build/clang" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DPRINTTEST_TESTS=OFF >/dev/null
cmake --build "$build/clang" -j2
cmake -S "$root/tests/native" -B "$build/native" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j2

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
status=0
ctest --test-dir "$build/native" --output-on-failure 2>&1 | tee "$build/native-tests.log" || status=1
ctest --test-dir "$build/win" --output-on-failure 2>&1 | tee "$build/win-tests.log" || status=1

passed=0 failed=0
for log in "$build/native-tests.log" "$build/win-tests.log"; do
    line=$(summary "$log")
    if [ -z "$line" ]; then status=1; continue; fi
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
done
echo "All: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
