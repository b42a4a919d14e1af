#!/usr/bin/env bash
# Runs every benchmark program on Kestrin (krun.exe of the 64-bit build, under
# wine64), bwbasic and yabasic in one invocation on this machine, checks that all
# three print the same result, and prints Kestrin's time and its ratio to each.
#   bench/run.sh [BUILD_DIR]        (default: build/x64)
# Times are the best of $BENCH_RUNS runs (default 3) of the whole process, so
# Kestrin's figures include wine's process start; the line "wine start" shows it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bdir=${1:-$root/build/x64}
runs=${BENCH_RUNS:-3}
krun=$bdir/bin/krun.exe
for tool in bwbasic yabasic; do
  command -v $tool >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
[ -f "$krun" ] || { echo "bench: build first: $krun is missing" >&2; exit 1; }
source "$root/tests/wine/wine-env.sh" "$bdir"

best() {  # best TIME_OUT_FILE OUTPUT_FILE CMD...: best wall time over $runs runs
  local out=$1; shift
  local best_t=""
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" </dev/null >"$out" 2>&1
    t1=$(date +%s.%N)
    best_t=$(echo "$t0 $t1 ${best_t:-999999}" | awk '{d=$2-$1; print (d<$3)?d:$3}')
  done
  echo "$best_t"
}
result() { tr -d '\r' <"$1" | grep -v '^bwBASIC:' | tr -s ' \t' ' ' | sed 's/^ //;s/ $//' | grep -v '^$' | tail -1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '; empty\n' >"$tmp/empty.kbs"
wstart=$(best "$tmp/o" "$KESTRIN_WINE" "$krun" "$tmp/empty.kbs")
printf '%-12s %10s %10s %10s %12s %12s\n' program kestrin_s bwbasic_s yabasic_s bwbasic/kes yabasic/kes
printf '%-12s %10.3f\n' "wine start" "$wstart"
status=0
for kbs in "$root"/bench/programs/*.kbs; do
  name=$(basename "$kbs" .kbs)
  dir=$(dirname "$kbs")
  tk=$(best "$tmp/k" "$KESTRIN_WINE" "$krun" "$kbs")
  tb=$(best "$tmp/b" bwbasic "$dir/$name.bas")
  ty=$(best "$tmp/y" yabasic "$dir/$name.yab")
  rk=$(result "$tmp/k"); rb=$(result "$tmp/b"); ry=$(result "$tmp/y")
  note=""
  if [ "$rk" != "$rb" ] || [ "$rk" != "$ry" ]; then
    note="  results differ: kestrin '$rk' bwbasic '$rb' yabasic '$ry'"
    status=1
  fi
  awk -v n="$name" -v k="$tk" -v b="$tb" -v y="$ty" -v note="$note" \
    'BEGIN { printf "%-12s %10.3f %10.3f %10.3f %11.1fx %11.2fx%s\n", n, k, b, y, b/k, y/k, note }'
done
exit $status
