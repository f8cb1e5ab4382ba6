#!/usr/bin/env bash
# A check split into shards, as the collection workflow (.github/workflows/collection.yml) runs
# it job by job, or here in one loop with the same commands:
#
#   check-shards.sh printers [N [SEED]]            the printers, one a line (printer-languages.sh)
#   check-shards.sh numbers N                      1 to N as a JSON list, for a CI matrix
#   check-shards.sh shard I N LIST DIR [OPTIONS]   shard I of N of LIST's printers into DIR/shard-I
#   check-shards.sh merge N DIR OUT                DIR's N shards merged into OUT
#   check-shards.sh loop N LIST DIR [OPTIONS]      every shard in turn, then merged into DIR/merged
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
  cat <<'EOF'
usage: check-shards.sh printers [N [SEED]]
       check-shards.sh numbers N
       check-shards.sh shard I N LIST DIR [CHECK-PRINTER OPTIONS]
       check-shards.sh merge N DIR OUT
       check-shards.sh loop N LIST DIR [CHECK-PRINTER OPTIONS]

A check of many printers split into N shards, each a scripts/check-printer.sh run of its own
(--shard I/N: the printers dealt in turn), and put back together as one report.

  printers  every printer model the check reads, one a line, or N of them drawn at random
            (scripts/printer-languages.sh --list, or --sample N --seed SEED)
  numbers   1 to N as a JSON list, the shards of a CI matrix
  shard     shard I of N of the printers listed in the file LIST, into DIR/shard-I, with the
            options given to check-printer.sh (--paper, --modes, ...); it has run when its
            results.json is written, whatever its pages' verdicts
  merge     DIR/shard-1 to DIR/shard-N merged into OUT (report.html, report.md, junit.xml,
            results.json); a shard without results is named and fails the merge
  loop      shard 1 to N, then the merge into DIR/merged: what the workflow does, here

Exit status: 0 when the shard ran or every shard was merged (pages may have failed: the report
says which), 1 when a shard did not run or is missing from the merge, 2 for bad arguments.
EOF
}

bad() { echo "check-shards.sh: $1" >&2; usage >&2; exit 2; }
number() { [[ $1 =~ ^[1-9][0-9]*$ ]] || bad "not a number of shards or a shard: $1"; }

shard() {
  local i=$1 n=$2 list=$3 dir=$4 code=0
  shift 4
  number "$i"; number "$n"
  [ "$i" -le "$n" ] || bad "shard $i of $n"
  [ -f "$list" ] || bad "no such list of printers: $list"
  mapfile -t printers < <(grep -v '^[[:space:]]*$' "$list")
  mkdir -p "$dir"
  "$root/scripts/check-printer.sh" --shard "$i/$n" --out "$dir/shard-$i" "$@" "${printers[@]}" || code=$?
  if [ ! -f "$dir/shard-$i/results.json" ]; then
    echo "check-shards.sh: shard $i of $n did not run (exit status $code)" >&2
    exit 1
  fi
}

merge() {
  local n=$1 dir=$2 out=$3 i missing=0
  number "$n"
  local folders=()
  for i in $(seq "$n"); do
    folders+=("$dir/shard-$i")
    if [ ! -f "$dir/shard-$i/results.json" ]; then
      echo "check-shards.sh: shard $i of $n did not finish: $dir/shard-$i has no results.json" >&2
      missing=1
    fi
  done
  # Failing pages make check-printer.sh exit 1: here they are the report's, a shard missing is not.
  "$root/scripts/check-printer.sh" --merge "${folders[@]}" --out "$out" || true
  [ -f "$out/results.json" ] || exit 1
  exit $missing
}

case ${1:-} in
  printers)
    [ $# -le 3 ] || bad "too many arguments"
    if [ -z "${2:-}" ] || [ "$2" = 0 ]; then
      exec "$root/scripts/printer-languages.sh" --list
    fi
    exec "$root/scripts/printer-languages.sh" --sample "$2" --seed "${3:-1}" ;;
  numbers)
    [ $# -eq 2 ] || bad "numbers takes N"
    number "$2"
    seq -s, "$2" | sed 's/.*/[&]/' ;;
  shard)
    [ $# -ge 5 ] || bad "shard takes I N LIST DIR"
    shift; shard "$@" ;;
  merge)
    [ $# -eq 4 ] || bad "merge takes N DIR OUT"
    shift; merge "$@" ;;
  loop)
    [ $# -ge 4 ] || bad "loop takes N LIST DIR"
    n=$2 list=$3 dir=$4
    shift 4
    number "$n"
    for i in $(seq "$n"); do
      "$0" shard "$i" "$n" "$list" "$dir" "$@" || true
    done
    "$0" merge "$n" "$dir" "$dir/merged" ;;
  -h|--help) usage ;;
  *) bad "not a command: ${1:-none given}" ;;
esac
