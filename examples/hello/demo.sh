#!/usr/bin/env bash
# Builds the examples/hello project into a complete setup with the build
# tool, runs it silently under Wine and shows what it did.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/${1:-build/win64}
native=$root/build/native
out=$build/demo
rm -rf "$out"
mkdir -p "$out"
echo "== building examples/hello/hello.kyp into $out"
# kyt.lib is taken from the engine's folder; the build appends the message tables.
"$native/tools/build/kytbuild" --project "$root/examples/hello/hello.kyp" \
  --engine "$build/src/main/setup.exe" --output "$out/hello-setup.exe"
loader=$(grep -q win32 <<<"$build" && echo wine || echo wine64)
wine="$root/cmake/wine-run.sh --prefix=$build/wineprefix --loader=$loader"
report='C:\hello-report.txt'
trace='C:\hello-trace.log'
rm -f "$build/wineprefix/drive_c/hello-report.txt" "$build/wineprefix/drive_c/hello-trace.log"
echo "== running: hello-setup.exe /s REPORT=$report /L=$trace"
set +e
$wine "$out/hello-setup.exe" /s "REPORT=$report" "/L=$trace"
code=$?
set -e
echo "== exit code: $code"
echo "== $report now holds:"
sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$build/wineprefix/drive_c/hello-report.txt" || true
echo "== $trace:"
if [[ -f $build/wineprefix/drive_c/hello-trace.log ]]; then
  iconv -f UTF-16LE -t UTF-8 "$build/wineprefix/drive_c/hello-trace.log" | sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//'
else
  echo "(no trace log written)"
fi
echo "== the output folder:"
ls -l "$out"
echo "== the data folder:"
(cd "$out" && find data -type f | sort)
echo "== what the installation wrote under C:\\Program Files\\Hello:"
(cd "$build/wineprefix/drive_c/Program Files" 2>/dev/null && find Hello | sort) || echo "(nothing)"
echo "== running: hello-setup.exe /s REMOVE=TRUE REPORT=$report (removes it again)"
set +e
$wine "$out/hello-setup.exe" /s REMOVE=TRUE "REPORT=$report"
code=$?
set -e
echo "== exit code: $code; the report ends with:"
sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$build/wineprefix/drive_c/hello-report.txt" | tail -n 2 || true
[ -e "$build/wineprefix/drive_c/Program Files/Hello" ] && echo "C:\\Program Files\\Hello is still there" ||
  echo "C:\\Program Files\\Hello is gone"
