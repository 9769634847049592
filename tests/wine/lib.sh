# Shared helpers of the Wine tests. The test's environment names the programs:
# KYT_WINE (the wrapper command), KYT_SETUP, KYT_BUILD, KYT_RUNNER, KYT_WORK.
set -euo pipefail
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
}
wine_run() { $KYT_WINE "$@"; }
# Windows form of a Linux path.
winpath() { echo "Z:$1" | tr / '\\'; }
# build_setup SCRIPT OUTPUT [RESOURCES]: compiles a script into a setup with
# our engine, its resource archive made of the folder RESOURCES. The archive
# library kyt.lib is copied beside the setup, where the engine loads it from.
build_setup() {
  local resources=()
  [ -z "${3:-}" ] || resources=(--resources "$(winpath "$3")")
  wine_run "$KYT_BUILD" --engine "$(winpath "$KYT_SETUP")" --output "$(winpath "$2")" "${resources[@]}" \
    "$(winpath "$1")" && cp "$KYT_LIB" "$(dirname "$2")/kyt.lib"
}
# build_product FOLDER NAME: builds FOLDER/NAME.kys with the product files of
# FOLDER/files into FOLDER/out/NAME.exe (with its .res, kyt.lib and data).
build_product() {
  printf 'script = %s.kys\nfiles = files\n' "$2" >"$1/$2.kyp"
  mkdir -p "$1/files"
  wine_run "$KYT_BUILD" --project "$(winpath "$1/$2.kyp")" --engine "$(winpath "$KYT_SETUP")" \
    --output "$(winpath "$1/out/$2.exe")" >"$1/$2-build.txt" 2>&1 || { cat "$1/$2-build.txt" >&2; return 1; }
}
# Starts Xvfb on a free display for the rest of the test and restarts the
# prefix's processes on it (Wine's desktop keeps the display it began with).
start_display() {
  local display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  KYT_XVFB=$!
  trap 'stop_wine; kill $KYT_XVFB 2>/dev/null || true' EXIT
  export DISPLAY=$display
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  stop_wine
}
# wait_window TITLE-REGEX: the id of the first window so named (15 s at most).
wait_window() {
  local window=""
  for _ in $(seq 75); do
    window=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  echo "$window"
}
# exit_code PROGRAM ARGS...: the program's full exit code.
exit_code() {
  local out
  out=$(wine_run "$KYT_RUNNER" "$(winpath "$1")" "${@:2}" | tr -d '\r')
  echo "${out#exit code }"
}
wine_prefix() { local prefix=${KYT_WINE#*--prefix=}; echo "${prefix%% *}"; }
# Ends every Wine process of the prefix; the next program boots it again
# (with the current DISPLAY, which matters for the desktop process).
stop_wine() { WINEPREFIX=$(wine_prefix) wineserver -k >/dev/null 2>&1 || true; WINEPREFIX=$(wine_prefix) wineserver -w >/dev/null 2>&1 || true; }
# The prefix's temporary folder, as a Linux path.
temp_folder() {
  [ -f "$(wine_prefix)/.kyt-ready" ] || wine_run wineboot >/dev/null 2>&1 || true
  local folder="$(wine_prefix)/drive_c/users/$(whoami)/Temp"
  [ -d "$folder" ] || { echo "no temporary folder at $folder" >&2; return 1; }
  echo "$folder"
}
fresh_work() { rm -rf "$KYT_WORK/$1"; mkdir -p "$KYT_WORK/$1"; echo "$KYT_WORK/$1"; }
# own_prefix FOLDER: later calls of `run PROGRAM ARGS...` use a Wine prefix
# of the test's own in FOLDER (output to FOLDER/../wine.log). Tests that
# take snapshots need one: a snapshot ends every Wine process of its prefix.
own_prefix() {
  prefix="$1"
  wrapper=${KYT_WINE%% *}
  loader=${KYT_WINE##*--loader=}
  loader=${loader%% *}
  trap 'snapshot_flush "$prefix"' EXIT
}
run() { "$wrapper" --prefix="$prefix" --loader="$loader" "$@" </dev/null >>"$(dirname "$prefix")/wine.log" 2>&1; }
