#!/usr/bin/env bash
# Builds examples/hello into a setup with the build tool, runs it silently
# under Wine and shows what it did.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/${1:-build/win64}
native=$root/build/native
out=$build/demo
mkdir -p "$out"
echo "== building examples/hello/hello.kys into $out/hello-setup.exe"
"$native/tools/build/kytbuild" --engine "$build/src/main/setup.exe" --output "$out/hello-setup.exe" \
  "$root/examples/hello/hello.kys"
cp "$build/src/main/kyt.lib" "$out/kyt.lib"   # the archive library travels beside the engine
loader=$(grep -q win32 <<<"$build" && echo wine || echo wine64)
wine="$root/cmake/wine-run.sh --prefix=$build/wineprefix --loader=$loader"
report='C:\hello-report.txt'
rm -f "$build/wineprefix/drive_c/hello-report.txt"
echo "== running: hello-setup.exe /s REPORT=$report"
set +e
$wine "$out/hello-setup.exe" /s "REPORT=$report"
code=$?
set -e
echo "== exit code: $code"
echo "== $report now holds:"
sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$build/wineprefix/drive_c/hello-report.txt"
