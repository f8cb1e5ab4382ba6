#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero when any fails.
#  - The program is built for 32-bit and 64-bit Windows, each with GCC and with Clang; the pure
#    computations natively under ASan/UBSan with a bounded fuzz run; and the program's files, all
#    four, are read natively. These run on every host.
#  - The Windows tests run under Wine, the whole suite on each build this host runs: both, or the
#    64-bit one on a host without 32-bit support. PRINTTEST_ARCH=x86, x64 or both chooses.
# The Windows suites spend most of their time waiting on Wine, dialogs and schedulers, not on the
# processor: each starts once its build is made, each on a display of its own, and runs its
# independent tests at once, while the other builds and the native tests go on beside them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PRINTTEST_BUILD_DIR:-$root/build}
started=$SECONDS

"$root/scripts/install-deps.sh"
. "$root/scripts/arch.sh"
compiler_cache
# The builds whose Windows tests run, one a line.
if [ -n "${PRINTTEST_ARCH:-}" ]; then
    suites=$(arch_chosen) || exit 1
else
    suites=$(arch_hosted) || exit 1
fi
runs() { grep -qx "$1" <<<"$suites"; }

# suite LOG CTEST_ARGS...: runs one suite to its log, then writes how it went and its time.
suite() {
    local log=$1 began=$SECONDS code=0
    shift
    ctest "$@" --output-on-failure >"$log" 2>&1 || code=$?
    echo "$code $((SECONDS - began))" >"$log.done"
}

mkdir -p "$build"
# The suites' driverless printers share the machine's message bus and Avahi daemon: started here
# when none runs, for every suite, and stopped after the last.
"$root/scripts/ipp-printers.sh" services-start "$build/services"
# A build that fails stops the run, once the suites already started have ended.
trap 'wait; "$root/scripts/ipp-printers.sh" services-stop "$build/services"' EXIT

names=() logs=() pids=()
for arch in $suites; do
    "$root/scripts/build.sh" "$arch" "$build"
    names+=("Windows tests, the $(arch_bits "$arch")-bit build ($arch)")
    logs+=("$build/win-tests-$arch.log")
    rm -f "${logs[-1]}.done"
    suite "${logs[-1]}" --test-dir "$build/$(arch_dir "$arch")" -j4 &
    pids+=($!)
done
# The program alone for a build whose tests do not run here; then built again with the second
# compiler: it must build there too, warning-free.
others() {
    for arch in x86 x64; do
        runs "$arch" || "$root/scripts/build.sh" "$arch" "$build" printtest
    done
    for arch in x86 x64; do
        clang=$build/$(arch_dir "$arch" clang)
        cmake -S "$root" -B "$clang" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-$(arch_target "$arch").cmake" \
              -DCMAKE_BUILD_TYPE=Release -DPRINTTEST_TESTS=OFF "${cache_args[@]}" >/dev/null
        cmake --build "$clang" -j2
    done
    cmake -S "$root/tests/native" -B "$build/native" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
          -DPRINTTEST_BUILD_ROOT="$build" "${cache_args[@]}" >/dev/null
    cmake --build "$build/native" -j2
}
status=0
names=("Native tests" "${names[@]}") logs=("$build/native-tests.log" "${logs[@]}")
rm -f "${logs[0]}.done"
others &
if wait $!; then
    suite "${logs[0]}" --test-dir "$build/native" -j2
else
    echo "A build failed: the native tests did not run." >"${logs[0]}"
    status=1
fi
for pid in "${pids[@]}"; do wait "$pid" || true; done

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
passed=0 failed=0 times=()
for i in "${!logs[@]}"; do
    log=${logs[$i]}
    cat "$log"
    read -r code seconds <"$log.done" || { code=1 seconds=?; }
    line=$(summary "$log")
    times+=("${names[$i]}: ${line:-no summary} in $seconds s")
    if [ -z "$line" ] || [ "$code" -ne 0 ]; then status=1; fi
    [ -n "$line" ] || continue
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
done
printf '%s\n' "${times[@]}"
echo "All: $passed passed, $failed failed, in $((SECONDS - started)) s"
[ "$failed" -eq 0 ] || status=1
exit $status
