#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
#   wine-run.sh --prefix=DIR --loader=wine|wine64 program.exe args...
# Creates the prefix on first use and boots the wineserver detached from our
# output pipes first, so that Wine's background processes neither hold the
# caller's pipes open nor stall it. Used as CMAKE_CROSSCOMPILING_EMULATOR.
set -u
prefix=""; loader=wine
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix=*) prefix="${1#--prefix=}"; shift ;;
    --loader=*) loader="${1#--loader=}"; shift ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix missing" >&2; exit 2; }
case "$loader" in
  wine64) wine=/usr/lib/wine/wine64 ;;
  *) wine=wine ;;
esac
export WINEPREFIX="$prefix" WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.kyt-ready" ]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
    touch "$prefix/.kyt-ready"
  fi
  # A persistent server, started detached; a no-op when one is running.
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
  "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
) 9>"$prefix.lock"
"$wine" "$@"
status=$?
# A program that fails before printing anything (Wine itself failing to
# start it) leaves at least this line in the test's output.
[ $status -eq 0 ] || echo "wine-run.sh: $1 exited with code $status" >&2
exit $status
