#!/usr/bin/env bash
# A long fuzzing campaign on the 64-bit build.
#   scripts/fuzz-long.sh SEED SECONDS [more kfuzz options, e.g. --count 100000]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seed=${1:?seed}
secs=${2:?seconds}
shift 2
cmake --preset x64 >/dev/null && cmake --build --preset x64 >/dev/null
exec bash "$root/tests/fuzz/campaign.sh" "$root/build/x64/bin/kfuzz.exe" \
  "$root/build/x64/fuzz-$seed" "$seed" --seconds "$secs" "$@"
