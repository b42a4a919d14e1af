#!/usr/bin/env bash
# Builds the 64-bit run-time, binds a sample program into a copy of it and runs
# that executable under wine, showing what the program printed.
#   scripts/run-sample.sh [PROGRAM.kbs]     (default: examples/hello.kbs)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prog=${1:-$root/examples/hello.kbs}
cd "$root"
cmake --preset x64 >/dev/null
cmake --build --preset x64 >/dev/null
bin=$root/build/x64/bin
out=$root/build/x64/sample
mkdir -p "$out"
app=$out/$(basename "${prog%.kbs}").exe
run() { bash "$root/tests/wine/run.sh" "$@"; }
run "$bin/kbind.exe" "$prog" "$app" </dev/null
echo "bound $prog into $app"
# A bound program prints to its console; the run-time writes to a redirected
# standard output when it has one, so the text is shown here.
run "$app" </dev/null | cat
