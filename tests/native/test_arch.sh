#!/usr/bin/env bash
# scripts/arch.sh's choice of build, on hosts made up of stand-in Wine loaders: one that runs, one
# that is not a program this host can run ("Exec format error", as a 32-bit loader on a host
# without 32-bit support), and one that is not installed.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/arch.sh"
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
printf '#!/bin/sh\nexit 0\n' >"$stubs/runs"
printf '\177ELF not for this processor' >"$stubs/foreign"
chmod +x "$stubs/runs" "$stubs/foreign"
checks=0 failures=0

# expect DESCRIPTION EXPECTED_OUTPUT COMMAND...: the command's output and errors, as one text.
expect() {
    local what=$1 expected=$2 got
    shift 2
    checks=$((checks + 1))
    got=$("$@" 2>&1 | tr '\n' ' ')
    if [[ "$got" != $expected ]]; then
        echo "FAIL: $what: expected '$expected', got '$got'"; failures=$((failures + 1))
    fi
}
host() { WINE_LOADER_x86=$stubs/$1 WINE_LOADER_x64=$stubs/$2; }
chosen() { PRINTTEST_ARCH=$1 arch_chosen; }

host runs runs
expect "both run: the 32-bit build is the reference" "x86 " chosen ""
expect "both run: both hosted" "x86 x64 " arch_hosted
expect "both asked for" "x86 x64 " chosen both
expect "64-bit asked for" "x64 " chosen x64
expect "an unknown build" "PRINTTEST_ARCH=arm: it takes x86, x64 or both " chosen arm

host foreign runs
expect "64-bit only: the 64-bit build" "x64 " chosen ""
expect "64-bit only: 32-bit asked for, said why in one line" \
    "PRINTTEST_ARCH=x86: the 32-bit Wine cannot start on this host (*Exec format error); it runs 64-bit programs only: use the 64-bit build (PRINTTEST_ARCH=x64) " \
    chosen x86
expect "64-bit only: both asked for" "PRINTTEST_ARCH=both: the 32-bit Wine cannot start*" chosen both

host missing missing
expect "no Wine: one line naming both packages" \
    "Wine cannot start here: the 32-bit Wine (*) is not installed: install wine32:i386 *; and the 64-bit Wine (*) is not installed: install wine64 * " \
    chosen ""

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
