#!/usr/bin/env bash
# Runs one fuzzing campaign under wine in a fresh work directory.
#   campaign.sh KFUZZ.exe WORK_DIR SEED (--count N | --seconds T) [more kfuzz options]
# Failing images are kept in WORK_DIR. KESTRIN_FUZZ_HEAP=1 turns on wine's heap
# checking (slow).
set -u
kfuzz=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") work=$2 seed=$3
shift 3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if [ "${KESTRIN_FUZZ_HEAP:-0}" = 1 ]; then export KESTRIN_WINEDEBUG=warn+heap; fi
winpath() { echo "Z:$(cd "$1" && pwd)" | sed 's#/#\\#g'; }
bash "$here/../wine/run.sh" "$kfuzz" --seed "$seed" --corpus "$(winpath "$here/../programs")" \
  --out "$(winpath .)" "$@" </dev/null 2>stderr.txt
rc=$?
if [ -s stderr.txt ] && grep -q -i 'heap' stderr.txt; then
  echo "wine reported heap problems:"; grep -i heap stderr.txt | head -20; rc=1
fi
for f in crash-*.kbs; do [ -e "$f" ] && { echo "--- $f"; head -c 2000 "$f"; echo; }; done
exit $rc
