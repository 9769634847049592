# Shell helpers for tests that judge a Wine prefix by its snapshots. Source
# this file; it needs wineserver on PATH and python3.
#
#   snapshot_take PREFIX OUT.json [--tree WINPATH]... [--key HIVE\PATH]...
#   snapshot_diff A.json B.json [--ignore PATTERN]...
#
# Wine's server keeps the registry in memory and writes PREFIX/*.reg only
# when it exits (or every few minutes): snapshot_take ends every Wine process
# of that prefix and waits for the server to exit, so that the files hold
# everything written so far. Other prefixes are not touched. The next Wine
# program boots the prefix again.
snapshot_tool="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/snapshot.py"

snapshot_flush() {
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w >/dev/null 2>&1 || true
}

snapshot_take() {
  local prefix="$1"
  shift
  snapshot_flush "$prefix"
  python3 "$snapshot_tool" take "$prefix" "$@"
}

snapshot_diff() { python3 "$snapshot_tool" diff "$@"; }
