#!/usr/bin/env bash
# Runs the program suite and the unit tests on the 32-bit build for real: a Debian
# guest under full-system emulation with 32-bit wine (../shared/vm32/vm32). Not part
# of CI: the first run builds the guest image (about 7 minutes), every run costs a
# minute plus 1 to 2 seconds per program.
#   scripts/vm32-suite.sh [PROGRAM.kbs ...]     (default: the whole suite)
#   scripts/vm32-suite.sh --unit-only           (the unit tests alone)
# Results are compared on the host with the same expectations as the 64-bit suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vm32=${VM32:-$root/../shared/vm32/vm32}
[ -x "$vm32" ] || { echo "vm32-suite: $vm32 not found (set VM32)" >&2; exit 2; }
# vm32 checks the guest's wine through its absolute symlink /etc/alternatives/wine,
# which resolves on this host: the host needs Debian's "wine" package (no i386).
if [ ! -e /etc/alternatives/wine ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine >/dev/null
fi
cd "$root"
cmake --preset x86 >/dev/null
cmake --build --preset x86 >/dev/null
bin=$root/build/x86/bin
payload=$root/build/x86/vm32-payload
rm -rf "$payload"
mkdir -p "$payload/bin" "$payload/programs"
for f in krun.exe testdll.dll kestrin_tests.exe; do
  [ -f "$bin/$f" ] && cp "$bin/$f" "$payload/bin/"
done
if [ "${1:-}" = --unit-only ]; then progs=(); elif [ $# -gt 0 ]; then progs=("$@"); else progs=("$root"/tests/programs/*.kbs); fi
for p in ${progs[@]+"${progs[@]}"}; do
  name=$(basename "$p" .kbs)
  cp "$p" "$payload/programs/$name.kbs"
  python3 "$root/tests/run_program.py" --emit "$payload/programs/$name" "$p"
done
cat > "$payload/run.sh" <<'GUEST'
cd /payload
mkdir -p out work
for p in programs/*.kbs; do
  [ -e "$p" ] || continue
  n=$(basename "$p" .kbs)
  [ "$(cat programs/$n.mode)" = run ] || continue
  mkdir -p work/$n
  ( cd work/$n && eval "set -- $(cat ../../programs/$n.args)" &&
    timeout 120 wine ../../bin/krun.exe "$@" "../../programs/$n.kbs" \
      <../../programs/$n.stdin >../../out/$n.stdout 2>../../out/$n.stderr
    echo $? >../../out/$n.rc )
  echo "ran $n: exit $(cat out/$n.rc)"
done
# The guest has no display and no console window: the tests that show message
# boxes, dialogs or windows, or drive a real console, run on the host only.
HOST_ONLY='SysmemSystem.MessageBox*:SysmemPrinter.Dialog*:LibcallsWindows.*:IoTest.*Dialog*:ConsoleTest.*'
if [ -f bin/kestrin_tests.exe ]; then
  ( cd work && timeout 1800 wine ../bin/kestrin_tests.exe --gtest_color=no --gtest_filter="-$HOST_ONLY" >../out/unit.txt 2>&1; echo $? >../out/unit.rc )
fi
GUEST
"$vm32" run "$payload" "${VM32_TIMEOUT:-5400}"
out=$payload/out
pass=0; fail=0
for p in ${progs[@]+"${progs[@]}"}; do
  if python3 "$root/tests/run_program.py" --results "$out" "$p"; then pass=$((pass + 1)); else fail=$((fail + 1)); fi
done
if [ -f "$payload/bin/kestrin_tests.exe" ]; then
  tail -n 3 "$out/unit.txt" 2>/dev/null || true
  if [ "$(cat "$out/unit.rc" 2>/dev/null)" = 0 ]; then pass=$((pass + 1)); else
    fail=$((fail + 1)); grep -E '^\[  FAILED' "$out/unit.txt" || echo "unit tests did not run"; fi
fi
echo "32-bit: $pass passed, $fail failed"
[ $fail -eq 0 ]
