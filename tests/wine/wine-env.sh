#!/usr/bin/env bash
# Wine environment for running the 64-bit build.
#
#   source tests/wine/wine-env.sh BUILD_DIR   # exports the environment, sets up if needed
#   bash   tests/wine/wine-env.sh BUILD_DIR   # same, as a stand-alone setup step
#
# Uses the prefix BUILD_DIR/wineprefix (re-created when an earlier first boot was cut
# short), a persistent wineserver and an Xvfb display, all started detached from the
# caller's stdin/stdout/stderr so that nothing keeps a test runner's pipes open.
# Idempotent; a second call costs a few milliseconds.
#
# Variables: KESTRIN_WINEDEBUG (WINEDEBUG for the programs, default -all),
#            KESTRIN_DISPLAY (X display number, default 77).

kestrin_wine_env() {
  local bdir=${1:-${KESTRIN_BUILD_DIR:-}}
  if [ -z "$bdir" ]; then
    echo "wine-env.sh: build directory not given" >&2
    return 2
  fi
  mkdir -p "$bdir" || return 1
  bdir=$(cd "$bdir" && pwd) || return 1
  export KESTRIN_BUILD_DIR="$bdir"

  export KESTRIN_WINE=/usr/lib/wine/wine64
  [ -x "$KESTRIN_WINE" ] || KESTRIN_WINE=$(command -v wine64 || command -v wine || echo wine64)
  if [ -x /usr/lib/wine/wineserver64 ]; then
    export KESTRIN_WINESERVER=/usr/lib/wine/wineserver64
  else
    export KESTRIN_WINESERVER=$(command -v wineserver || echo wineserver)
  fi

  export WINEPREFIX="$bdir/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG="${KESTRIN_WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  local dnum=${KESTRIN_DISPLAY:-77}
  export DISPLAY=":$dnum"

  # Fast path: everything already up.
  if _kestrin_prefix_complete && _kestrin_x_running "$dnum" && _kestrin_server_running; then
    return 0
  fi

  (
    flock -w 600 9 || { echo "wine-env.sh: cannot lock $bdir/.wine-setup.lock" >&2; exit 1; }
    _kestrin_start_x "$dnum" || exit 1
    if ! _kestrin_prefix_complete; then
      _kestrin_make_prefix || exit 1
    fi
    _kestrin_start_server || exit 1
  ) 9>"$bdir/.wine-setup.lock"
}

# A first boot that was interrupted leaves a prefix without the registry files or the
# update stamp (wineboot writes .update-timestamp once wine.inf was applied; the
# server writes the *.reg files when it saves the registry).
_kestrin_prefix_complete() {
  [ -f "$WINEPREFIX/.kestrin-prefix-ok" ] &&
  [ -s "$WINEPREFIX/system.reg" ] && [ -s "$WINEPREFIX/user.reg" ] &&
  [ -s "$WINEPREFIX/.update-timestamp" ] &&
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] &&
  [ -f "$WINEPREFIX/drive_c/windows/system32/zlib1.dll" ] &&
  [ -e "$WINEPREFIX/dosdevices/z:" ]
}

# Debian's wine keeps the server directory in ${TMPDIR:-/tmp}/<name in
# $WINEPREFIX/wineserver>/server-DEV-INODE (upstream: /tmp/.wine-UID/server-DEV-INODE).
# The running server has that directory as its working directory.
_kestrin_server_dirs() {
  local dev ino tag
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null) || return 1
  tag=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) || true
  [ -n "$tag" ] && printf '%s/%s/server-%x-%x\n' "${TMPDIR:-/tmp}" "$tag" "$dev" "$ino"
  printf '/tmp/.wine-%s/server-%x-%x\n' "$(id -u)" "$dev" "$ino"
}

# True when a persistent (-p) wineserver serves this prefix.
_kestrin_server_running() {
  local dirs p cwd
  dirs=$(_kestrin_server_dirs) || return 1
  for p in /proc/[0-9]*; do
    cwd=$(readlink "$p/cwd" 2>/dev/null) || continue
    case $'\n'"$dirs"$'\n' in
      *$'\n'"$cwd"$'\n'*)
        tr '\0' ' ' < "$p/cmdline" 2>/dev/null | grep -q -- 'wineserver.* -p' && return 0 ;;
    esac
  done
  return 1
}

_kestrin_x_running() {
  local n=$1 pid
  [ -S "/tmp/.X11-unix/X$n" ] || return 1
  pid=$(tr -d ' \n' < "/tmp/.X$n-lock" 2>/dev/null) || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

_kestrin_start_x() {
  local n=$1 i
  _kestrin_x_running "$n" && return 0
  command -v Xvfb >/dev/null || { echo "wine-env.sh: Xvfb not installed" >&2; return 1; }
  rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
  setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
  for i in $(seq 1 100); do
    _kestrin_x_running "$n" && return 0
    sleep 0.1
  done
  echo "wine-env.sh: Xvfb :$n did not start" >&2
  return 1
}

_kestrin_start_server() {
  local i
  if ! _kestrin_server_running; then
    setsid "$KESTRIN_WINESERVER" -p </dev/null >/dev/null 2>&1 9>&- &
    for i in $(seq 1 100); do
      _kestrin_server_running && break
      sleep 0.1
    done
    # A non-persistent server started by someone else may hold the prefix; the
    # programs still run, only without the protection of a detached server.
    _kestrin_server_running || echo "wine-env.sh: warning: no persistent wineserver" >&2
  fi
  # Starts the prefix's services (services.exe, explorer, ...) detached, so that the
  # programs under test do not become their parents.
  timeout 120 setsid "$KESTRIN_WINE" wineboot </dev/null >/dev/null 2>&1 9>&-
  return 0
}

_kestrin_make_prefix() {
  echo "wine-env.sh: creating wine prefix $WINEPREFIX" >&2
  WINEPREFIX="$WINEPREFIX" "$KESTRIN_WINESERVER" -k >/dev/null 2>&1 </dev/null
  "$KESTRIN_WINESERVER" -w >/dev/null 2>&1 </dev/null
  rm -rf "$WINEPREFIX"
  timeout 300 setsid "$KESTRIN_WINE" wineboot -i </dev/null >/dev/null 2>&1 9>&-
  # The registry is written when the (non-persistent) server shuts down.
  timeout 120 "$KESTRIN_WINESERVER" -w </dev/null >/dev/null 2>&1 9>&-
  touch "$WINEPREFIX/.kestrin-prefix-ok"
  if ! _kestrin_prefix_complete; then
    rm -f "$WINEPREFIX/.kestrin-prefix-ok"
    echo "wine-env.sh: wine prefix $WINEPREFIX is incomplete after wineboot" >&2
    return 1
  fi
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  # Run as a script: set up and report.
  set -u
  kestrin_wine_env "${1:-}" || exit 1
  echo "wine ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
else
  kestrin_wine_env "${1:-}"
fi
