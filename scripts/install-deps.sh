#!/usr/bin/env bash
# Installs the build and test dependencies from Debian's packages. Idempotent.
set -euo pipefail
pkgs=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      googletest python3 wine64 xvfb xauth xdotool bwbasic yabasic)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
