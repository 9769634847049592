#!/usr/bin/env bash
# Runs the benchmarks natively (optimized build) and under Wine, then the
# installation benchmark (install_bench.sh, 64-bit build; BENCH_INSTALL_SCALE=small
# gives a quick run of a small product).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$root/${1:-build/win64}
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/bench" --target kyt_bench kyt_archive_bench >/dev/null
cmake --build "$win" --target kyt_bench >/dev/null
loader=$(grep -q win32 <<<"$win" && echo wine || echo wine64)
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "== native (g++ -O2)"
"$root/build/bench/tests/bench/kyt_bench"
echo "== 7z library against the 7z command (native, g++ -O2)"
"$root/build/bench/tests/bench/kyt_archive_bench"
echo "== Windows build under Wine ($(basename "$win"))"
"$root/cmake/wine-run.sh" --prefix="$win/wineprefix" --loader="$loader" "$win/tests/bench/kyt_bench.exe" | tr -d '\r'
echo "== installation: our engine against the floor, NSIS and msiexec (win64)"
"$root/tests/bench/install_bench.sh" "$root/build/win64"
