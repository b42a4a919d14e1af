#!/usr/bin/env bash
# kbind from the command line: binding, listing back, and its refusals.
# usage: kbind_cli.sh BIN_DIR WORK_DIR
set -u
bin=$1
work=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fails=0
kbind() { bash "$here/wine/run.sh" "$bin/kbind.exe" "$@" </dev/null; }
check() {  # check NAME EXPECTED_STATUS(0|nonzero) STDERR_PATTERN -- ARGS
  local name=$1 want=$2 pattern=$3; shift 4
  kbind "$@" >out.txt 2>err.txt
  local rc=$?
  if { [ "$want" = 0 ] && [ $rc -ne 0 ]; } || { [ "$want" != 0 ] && [ $rc -eq 0 ]; }; then
    echo "FAIL $name: exit $rc"; cat err.txt; fails=$((fails + 1)); return
  fi
  if [ -n "$pattern" ] && ! grep -qi -- "$pattern" err.txt; then
    echo "FAIL $name: stderr lacks '$pattern':"; cat err.txt; fails=$((fails + 1)); return
  fi
  echo "ok   $name"
}

printf '{Print} "a{{b"\nx = {#12} + 1\n\tlast' > prog.kbs
printf 'plain text, not an executable' > notexe.exe
printf 'keep me' > existing.exe
printf '{NoSuchCommand} 1\n' > badname.kbs

check bind 0 "" -- prog.kbs app.exe
check list 0 "" -- --list app.exe
cp out.txt listed.kbs
check rebind 0 "" -- listed.kbs app2.exe
if cmp -s app.exe app2.exe; then echo "ok   list and bind again give the same executable"
else echo "FAIL rebinding the listing changed the executable"; fails=$((fails + 1)); fi

check missing-program nonzero "nothing.kbs" -- nothing.kbs out1.exe
check missing-runtime nonzero "nothing.exe" -- prog.kbs out2.exe nothing.exe
check not-an-executable nonzero "notexe.exe" -- prog.kbs out3.exe notexe.exe
check unknown-command nonzero "NoSuchCommand" -- badname.kbs existing.exe
if [ "$(cat existing.exe)" = "keep me" ]; then echo "ok   failed bind leaves the output untouched"
else echo "FAIL a failed bind changed the output file"; fails=$((fails + 1)); fi
check list-without-program nonzero "" -- --list "$bin/kestrin.exe"
for f in out1.exe out2.exe out3.exe; do
  if [ -e "$f" ]; then echo "FAIL $f was left behind"; fails=$((fails + 1)); fi
done
ls | grep -i -E '\.tmp$|~' && { echo "FAIL temporary files left behind"; fails=$((fails + 1)); }

total=$(grep -c '^check \|^if ' "$0")
echo "$((total - fails)) passed, $fails failed"
[ $fails -eq 0 ]
