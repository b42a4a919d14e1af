#!/usr/bin/env bash
# run.sh EXE [ARGS...] - runs a Windows program under wine64 with the test
# environment (see wine-env.sh). stdin/stdout/stderr are the caller's; the exit
# status is the program's. The build directory is $KESTRIN_BUILD_DIR, or else the
# parent of the directory that holds EXE (build/<arch>/bin/EXE).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -lt 1 ]; then
  echo "usage: run.sh EXE [ARGS...]" >&2
  exit 2
fi
exe=$1; shift
if [ ! -f "$exe" ]; then
  echo "run.sh: no such program: $exe" >&2
  exit 2
fi
bdir=${KESTRIN_BUILD_DIR:-$(cd "$(dirname "$exe")/.." && pwd)}
# shellcheck source=wine-env.sh
source "$here/wine-env.sh" "$bdir" || exit 1
exec "$KESTRIN_WINE" "$exe" "$@"
