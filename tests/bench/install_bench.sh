#!/usr/bin/env bash
# Installation benchmark: installs and removes one generated product with our
# engine, with a minimal writer that marks the floor, with NSIS 3 and with
# Wine's msiexec, all in one warm Wine prefix of the benchmark's own, in
# alternating rounds, and prints the medians and their ratios.
#
#   tests/bench/install_bench.sh [WIN64-BUILD]          (default build/win64)
#
# BENCH_INSTALL_SCALE=small|full   200 files / 20 MiB or 2,000 files / 200 MiB (default full)
# BENCH_INSTALL_ROUNDS=N           timed rounds after one warm-up round (default 5)
# BENCH_INSTALL_PROBES=1           also time the floor program copying from our engine's
#                                  data folder with our engine's calls per file, and
#                                  with fewer of them (install_floor.c), to see which
#                                  calls cost the time
#
# Every tool installs into C:\bench-target, reading its data from the prefix's
# drive C (our engine's hard links need the same drive). After every install
# the tree is compared with the product (names, sizes, a sample of contents);
# after every removal no product file may be left. A tool that fails is
# reported and its figures are marked unavailable; the others go on.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/bench
win=$(cd "$root" && realpath -m "${1:-build/win64}")
scale=${BENCH_INSTALL_SCALE:-full}
rounds=${BENCH_INSTALL_ROUNDS:-5}
case "$scale" in
  small) files=200 megabytes=20 ;;
  full) files=2000 megabytes=200 ;;
  *) echo "install_bench.sh: BENCH_INSTALL_SCALE must be small or full, not '$scale'" >&2; exit 2 ;;
esac
folders=40 seed=20261211

work=$root/build/bench-install/$scale        # product, build inputs, logs
prefix=$root/build/bench-prefix
media=$prefix/drive_c/bench-media/$scale     # what the tools install from
media_windows="C:\\bench-media\\$scale"
target=$prefix/drive_c/bench-target
target_windows='C:\bench-target'
log=$work/wine.log
mkdir -p "$work" "$media"
: >"$log"

# --- build inputs -------------------------------------------------------------

# up_to_date OUTPUT KEY: whether OUTPUT exists and was made from KEY (any
# text: parameters, hashes of the inputs); `made OUTPUT KEY` records it.
up_to_date() { [ -e "$1" ] && [ -f "$1.stamp" ] && [ "$(cat "$1.stamp")" = "$2" ]; }
made() { printf '%s' "$2" >"$1.stamp"; }

product=$work/product
product_key="$files $megabytes $folders $seed $(sha256sum <"$here/make_product.py")"
if ! up_to_date "$product" "$product_key"; then
  echo "== generating the product ($files files, $megabytes MiB, $folders folders)"
  rm -rf "$product" "$product.stamp"
  python3 "$here/make_product.py" generate "$product" --files "$files" --megabytes "$megabytes" \
    --folders "$folders" --seed "$seed" || exit 1
  made "$product" "$product_key"
fi
# The reference: every file with its size, and the MD5 of every 25th file.
(cd "$product" && find . -type f -printf '%P %s\n' | LC_ALL=C sort) >"$work/expected.txt"
product_bytes=$(awk '{s += $2} END {print s}' "$work/expected.txt")
product_files=$(wc -l <"$work/expected.txt")
(cd "$product" && awk 'NR % 25 == 1 {print $1}' "$work/expected.txt" | xargs md5sum) >"$work/sample.md5"

echo "== building the installers ($scale: $product_files files, $product_bytes bytes)"
cmake --build "$root/build/native" --target kytbuild >/dev/null || exit 1
cmake --build "$win" --target setup >/dev/null || exit 1

# The floor: a pack of the product and the program that writes it out.
if ! up_to_date "$media/product.pack" "$product_key"; then
  python3 "$here/make_product.py" pack "$product" "$media/product.pack" || exit 1
  made "$media/product.pack" "$product_key"
fi
x86_64-w64-mingw32-gcc -O2 -Wall -municode -mwindows -o "$media/install_floor.exe" "$here/install_floor.c" || exit 1

# Our engine: a project whose script installs the whole tree into $DEST$
# with Install Files and removes it with REMOVE=TRUE; NATIVE_HARDLINK comes
# from LINKS on the command line. The project's data folder holds the files
# stored as they are.
mkdir -p "$work/engine"
ln -sfn "$product" "$work/engine/files"
printf 'script = bench.kys\nfiles = files\n' >"$work/engine/bench.kyp"
cat >"$work/engine/bench.kys" <<'EOF'
%guid = {3B8E6A0C-51D2-4F7A-9C3E-7A1D2B4C5E60}
%title = BenchProduct
%publisher = Bench
%version = 1.0
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
Set Variable
  variable = NATIVE_HARDLINK
  value = $LINKS$
If
  variable = REMOVE
  operator = 4
  value = TRUE
  Set Variable
    variable = MODIFY
    value = FALSE
  Apply Changes
    variable = RESULT
    install = FALSE
    uninstall = TRUE
Else
  Install Files
    source = *
    options = recurse
    target = $DEST$
  Apply Changes
    variable = RESULT
    install = TRUE
End
EOF
engine_guid='{3B8E6A0C-51D2-4F7A-9C3E-7A1D2B4C5E60}'
"$root/build/native/tools/build/kytbuild" --project "$work/engine/bench.kyp" --engine "$win/src/main/setup.exe" \
  --output "$media/engine/bench-setup.exe" >"$work/engine/build.txt" 2>&1 ||
  { cat "$work/engine/build.txt" >&2; exit 1; }
# The one Install Files command's folder in the data folder.
engine_header=$(basename "$(find "$media/engine/data" -mindepth 1 -maxdepth 1 -type d | head -n1)")

# NSIS: the same installer stored and solid LZMA; its uninstaller deletes
# each file it installed and then each folder, deepest first.
nsis_script() {  # COMPRESSION-LINE OUTPUT
  cat <<EOF
Unicode true
Target amd64-unicode
$1
Name "BenchProduct"
OutFile "$2"
InstallDir "$target_windows"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File /r "$product/*"
  WriteUninstaller "\$INSTDIR\\uninst.exe"
SectionEnd
Section Uninstall
EOF
  cut -d' ' -f1 "$work/expected.txt" | tr / '\\' | sed 's/.*/  Delete "$INSTDIR\\&"/'
  (cd "$product" && find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort -r) | tr / '\\' |
    sed 's/.*/  RMDir "$INSTDIR\\&"/'
  printf '  Delete "$INSTDIR\\uninst.exe"\n  RMDir "$INSTDIR"\nSectionEnd\n'
}
nsis_failed=()
for kind in stored solid; do
  [ $kind = stored ] && compression='SetCompress off' || compression='SetCompressor /SOLID lzma'
  nsis_script "$compression" "$media/nsis-$kind.exe" >"$work/nsis-$kind.nsi"
  key="$product_key $(sha256sum <"$work/nsis-$kind.nsi")"
  if ! up_to_date "$media/nsis-$kind.exe" "$key"; then
    makensis -V2 "$work/nsis-$kind.nsi" >"$work/nsis-$kind.txt" 2>&1 && made "$media/nsis-$kind.exe" "$key" ||
      { echo "makensis failed for the $kind installer (see $work/nsis-$kind.txt)"; nsis_failed+=("$kind"); }
  fi
done

# msiexec: a wixl package of the tree (one component per file, made by
# wixl-heat), compressed into an embedded cabinet as wixl writes it.
mkdir -p "$work/msi"
cat >"$work/msi/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{5D0C7A3E-2B41-4E8F-9A6C-1F3B7D2E8A90}" Name="BenchProduct" Language="1033" Version="1.0.0"
           Manufacturer="Bench" UpgradeCode="{8E2A4C61-7F3D-4B95-A0E1-6C9D2F4B1A37}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="INSTALLDIR" Name="bench-target"/>
    </Directory>
    <Feature Id="Product" Level="1">
      <ComponentGroupRef Id="ProductFiles"/>
    </Feature>
  </Product>
</Wix>
EOF
(cd "$work" && cut -d' ' -f1 expected.txt | sed 's|^|product/|' |
  wixl-heat --var var.SourceDir -p product/ --component-group ProductFiles --directory-ref INSTALLDIR --win64) \
  >"$work/msi/files.wxs"
msi_failed=""
key="$product_key $(cat "$work/msi/product.wxs" "$work/msi/files.wxs" | sha256sum)"
if ! up_to_date "$media/product.msi" "$key"; then
  (cd "$work" && wixl -a x64 -D Win64=yes -D SourceDir=product -o "$media/product.msi" msi/product.wxs \
    msi/files.wxs) >"$work/msi/build.txt" 2>&1 && made "$media/product.msi" "$key" ||
    { echo "wixl failed (see $work/msi/build.txt)"; msi_failed=1; }
fi

# --- the Wine prefix ------------------------------------------------------------

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine64=/usr/lib/wine/wine64
# A server that stays up (with the prefix's services) until the end of the
# benchmark, so that every run finds the prefix warm; a server left by an
# earlier run of this benchmark, which may end at any moment, is ended first.
# wine-run.sh creates the prefix on first use.
mkdir -p "$prefix"
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1' EXIT
"$root/cmake/wine-run.sh" --prefix="$prefix" --loader=wine64 cmd /c exit </dev/null >>"$log" 2>&1

# The prefix's processes besides its permanent services, as "pid name" lines.
# A run lasts until these are gone: a tool that leaves a process working
# behind it is timed until that process ends. (`wineserver -w` would wait for
# the warm server itself to end.)
prefix_processes() {
  local pid name
  for pid in $(pgrep -u "$(id -u)" -f '\.exe'); do
    [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = Z ] && continue
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$prefix" || continue
    name=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -n1)
    name=${name##*\\}
    case "${name,,}" in
      services.exe | winedevice.exe | plugplay.exe | svchost.exe | explorer.exe | rpcss.exe | "") ;;
      *) echo "$pid $name" ;;
    esac
  done
}

# timed PROGRAM ARGS...: runs a Windows program in the prefix; `elapsed` is
# its wall-clock time in seconds, until it and any process it left behind
# have ended. Returns the program's exit code.
elapsed=0
timed() {
  local start end code
  echo "-- $*" >>"$log"
  start=$EPOCHREALTIME
  "$wine64" "$@" </dev/null >>"$log" 2>&1
  code=$?
  end=$EPOCHREALTIME
  if [ -n "$(prefix_processes)" ]; then
    while [ -n "$(prefix_processes)" ]; do sleep 0.01; done
    end=$EPOCHREALTIME
  fi
  elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
  return $code
}

# --- checks of the result --------------------------------------------------------

# check_installed [IGNORED-NAME]: empty when the target holds exactly the
# product (names, sizes and the sampled contents), else what is wrong.
check_installed() {
  [ -d "$target" ] || { echo "nothing was installed"; return; }
  local listing skip=()
  [ -z "${1:-}" ] || skip=(! -path "./$1")
  listing=$(cd "$target" && find . -type f "${skip[@]}" -printf '%P %s\n' | LC_ALL=C sort)
  if [ "$listing" != "$(cat "$work/expected.txt")" ]; then
    echo "the installed tree differs from the product: $(diff <(echo "$listing") "$work/expected.txt" |
      grep -c '^[<>]') line(s) of names and sizes"
    return
  fi
  (cd "$target" && md5sum --quiet -c "$work/sample.md5" >/dev/null 2>&1) || echo "sampled contents differ"
}

# check_removed [IGNORED-NAME]: empty when no product file is left, else how
# many are. Folders left behind are counted in `folders_left`.
folders_left=0
check_removed() {
  folders_left=0
  [ -e "$target" ] || return 0
  local left skip=()
  [ -z "${1:-}" ] || skip=(! -path "$target/$1")
  left=$(find "$target" -type f "${skip[@]}" | wc -l)
  folders_left=$(find "$target" -type d | wc -l)
  [ "$left" -eq 0 ] || echo "$left file(s) left"
}

# What the last run wrote goes to disk before the next one starts, so that
# no run pays for another's write-back; the page cache stays warm.
settle() { sync; }

# --- the tools -------------------------------------------------------------------

declare -A times failed notes last
record() { times[$1]+="$2 "; last[$1]=$2; }

# fail TOOL MESSAGE: the tool's figures become unavailable.
fail() {
  [ -n "${failed[$1]:-}" ] || echo "!! $1: $2 -- its figures are marked unavailable"
  failed[$1]=$2
}

# run_floor TOOL [CALLS-OF-COPY CALLS-OF-REMOVE]: the floor program; with
# CALLS, it copies from our engine's data folder with those per-file calls
# (see install_floor.c) instead of writing from the pack.
run_floor() {
  local tool=$1 problem floor="$media_windows\\install_floor.exe" pack="$media_windows\\product.pack"
  local install=(install "$pack" "$target_windows")
  [ $# -eq 1 ] || install=(copy "$pack" "$media_windows\\engine\\data\\$engine_header" "$target_windows" "$2")
  timed "$floor" "${install[@]}" || { fail "$tool" "install_floor.exe ${install[0]} exited with code $?"; return; }
  problem=$(check_installed)
  [ -z "$problem" ] || { fail "$tool" "after its install $problem"; return; }
  record "$tool.install" "$elapsed"
  settle
  timed "$floor" remove "$pack" "$target_windows" ${3:-} ||
    { fail "$tool" "install_floor.exe remove exited with code $?"; return; }
  problem=$(check_removed)
  [ -z "$problem" ] || { fail "$tool" "after its removal $problem"; return; }
  record "$tool.uninstall" "$elapsed"
}

# run_engine links|copy
run_engine() {
  local tool=kyt-$1 links=FALSE problem count
  [ "$1" = links ] && links=TRUE
  local setup="$media_windows\\engine\\bench-setup.exe"
  timed "$setup" /s "DEST=$target_windows" "LINKS=$links" ||
    { fail "$tool" "bench-setup.exe /s exited with code $?"; return; }
  problem=$(check_installed)
  [ -z "$problem" ] || { fail "$tool" "after its install $problem"; return; }
  # Hard links on: every installed file shares the data folder's file.
  count=$(find "$target" -type f -links 1 | wc -l)
  if [ "$links" = TRUE ] && [ "$count" -ne 0 ]; then
    fail "$tool" "$count file(s) were copied, not linked"
    return
  elif [ "$links" = FALSE ] && [ "$count" -ne "$product_files" ]; then
    fail "$tool" "$((product_files - count)) file(s) were linked, not copied"
    return
  fi
  record "$tool.install" "$elapsed"
  settle
  timed "$setup" /s REMOVE=TRUE "LINKS=$links" || { fail "$tool" "bench-setup.exe /s REMOVE=TRUE exited with code $?"; return; }
  problem=$(check_removed)
  [ -z "$problem" ] || { fail "$tool" "after its uninstall $problem"; return; }
  [ "$folders_left" -eq 0 ] || { fail "$tool" "its uninstall left $folders_left folder(s)"; return; }
  if compgen -G "$prefix/drive_c/ProgramData/*/$engine_guid.native.*" >/dev/null; then
    fail "$tool" "its uninstall left the undo log behind"
    return
  fi
  record "$tool.uninstall" "$elapsed"
}

# run_nsis stored|solid: the uninstaller runs in place (_?=) so that the
# time lasts until it ends; it cannot delete itself there, so uninst.exe and
# the folder holding it stay and are not counted against it.
run_nsis() {
  local tool=nsis-$1 problem
  timed "$media_windows\\nsis-$1.exe" /S "/D=$target_windows" || { fail "$tool" "the installer exited with code $?"; return; }
  problem=$(check_installed uninst.exe)
  [ -z "$problem" ] || { fail "$tool" "after its install $problem"; return; }
  [ -f "$target/uninst.exe" ] || { fail "$tool" "no uninst.exe was written"; return; }
  record "$tool.install" "$elapsed"
  settle
  timed "$target_windows\\uninst.exe" /S "_?=$target_windows" ||
    { fail "$tool" "the uninstaller exited with code $?"; return; }
  problem=$(check_removed uninst.exe)
  [ -z "$problem" ] || { fail "$tool" "after its uninstall $problem"; return; }
  [ "$folders_left" -le 1 ] || { fail "$tool" "its uninstall left $((folders_left - 1)) folder(s)"; return; }
  record "$tool.uninstall" "$elapsed"
}

run_msi() {
  local problem
  timed msiexec /i "$media_windows\\product.msi" /qn "INSTALLDIR=$target_windows" ||
    { fail msiexec "msiexec /i exited with code $?"; return; }
  problem=$(check_installed)
  [ -z "$problem" ] || { fail msiexec "after its install $problem"; return; }
  record msiexec.install "$elapsed"
  settle
  timed msiexec /x "$media_windows\\product.msi" /qn || { fail msiexec "msiexec /x exited with code $?"; return; }
  problem=$(check_removed)
  [ -z "$problem" ] || { fail msiexec "after its uninstall $problem"; return; }
  # Wine's msiexec leaves the (empty) installation folder behind.
  [ "$folders_left" -le 1 ] || { fail msiexec "its uninstall left $folders_left folder(s)"; return; }
  [ "$folders_left" -eq 0 ] || notes[msiexec]="leaves the empty installation folder"
  record msiexec.uninstall "$elapsed"
}

tools=(floor kyt-copy kyt-links nsis-stored nsis-solid msiexec)
# The probes: the floor program copying from our engine's data folder, with
# our engine's calls per file and without some of them.
probes=(probe-kyt-calls probe-no-version probe-per-file probe-links)
[ "${BENCH_INSTALL_PROBES:-0}" = 1 ] && tools+=("${probes[@]}")
for kind in "${nsis_failed[@]}"; do fail "nsis-$kind" "its installer could not be built"; done
[ -z "$msi_failed" ] || fail msiexec "its package could not be built"

run_tool() {
  case "$1" in
    floor) run_floor floor ;;
    probe-kyt-calls) run_floor "$1" vaxn an ;;
    probe-no-version) run_floor "$1" axn n ;;
    probe-per-file) run_floor "$1" r ;;
    probe-links) run_floor "$1" l ;;
    kyt-copy) run_engine copy ;;
    kyt-links) run_engine links ;;
    nsis-*) run_nsis "${1#nsis-}" ;;
    msiexec) run_msi ;;
  esac
}

echo "== one warm-up round, then $rounds timed rounds; the order of the tools turns each round"
for ((round = 0; round <= rounds; ++round)); do
  line="round $round:"
  [ "$round" -eq 0 ] && line="warm-up:"
  for ((i = 0; i < ${#tools[@]}; ++i)); do
    tool=${tools[(i + round) % ${#tools[@]}]}
    [ -z "${failed[$tool]:-}" ] || continue
    rm -rf "$target"
    settle
    last=()
    run_tool "$tool"
    line+=" $tool ${last[$tool.install]:--}/${last[$tool.uninstall]:--}"
  done
  # The warm-up's figures are not counted.
  if [ "$round" -eq 0 ]; then
    for key in "${!times[@]}"; do times[$key]=""; done
  fi
  echo "   $line"
done
rm -rf "$target"

# --- figures ------------------------------------------------------------------

median() {  # KEY: the median of the recorded times, or empty
  [ -z "${failed[${1%.*}]:-}" ] || return 0
  tr ' ' '\n' <<<"${times[$1]:-}" | grep . | sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) exit; if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
show() { [ -n "$1" ] && printf '%8.3f s' "$1" || printf '%10s' "n/a"; }
ratio() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

declare -A label=(
  [floor]="floor (CreateFileW/WriteFile from one pack)"
  [kyt-copy]="kyt, hard links off"
  [kyt-links]="kyt, hard links on"
  [nsis-stored]="NSIS 3, SetCompress off"
  [nsis-solid]="NSIS 3, /SOLID lzma"
  [msiexec]="Wine msiexec, wixl package"
  [probe-kyt-calls]="probe: kyt's calls per file (vaxn / an)"
  [probe-no-version]="probe: the same without version queries (axn / n)"
  [probe-per-file]="probe: plain copy from the data folder (r / -)"
  [probe-links]="probe: hard links to the data folder alone (l / -)"
)
echo
echo "== installation of $product_files files / $product_bytes bytes in $folders folders:" \
  "medians of $rounds rounds (wall clock, one warm prefix, WINEDEBUG=-all)"
printf '   %-52s %10s %10s %10s\n' "" install uninstall "MiB/s in"
for tool in "${tools[@]}"; do
  in=$(median "$tool.install") out=$(median "$tool.uninstall")
  speed=""
  [ -n "$in" ] && speed=$(awk -v b="$product_bytes" -v t="$in" 'BEGIN {printf "%.1f", b / 1048576 / t}')
  printf '   %-52s %s %s %10s' "${label[$tool]}" "$(show "$in")" "$(show "$out")" "${speed:-n/a}"
  [ -n "${failed[$tool]:-}" ] && printf '   unavailable: %s' "${failed[$tool]}"
  [ -n "${notes[$tool]:-}" ] && printf '   (%s)' "${notes[$tool]}"
  echo
done

# show_ratio TEXT A B [LIMIT]: prints A / B, and whether it is at most LIMIT.
show_ratio() {
  local r
  r=$(ratio "$2" "$3")
  printf '   %-62s %6s' "$1" "${r:-n/a}"
  if [ -n "${4:-}" ]; then
    if [ -z "$r" ]; then printf '   (target <= %s: unavailable)' "$4"
    else printf '   (target <= %s: %s)' "$4" "$(awk -v v="$r" -v l="$4" 'BEGIN {print (v <= l ? "met" : "missed")}')"; fi
  fi
  echo
}
floor_in=$(median floor.install) floor_out=$(median floor.uninstall) nsis_out=$(median nsis-stored.uninstall)
echo
echo "== ratios"
show_ratio "kyt install / floor, hard links off" "$(median kyt-copy.install)" "$floor_in" 1.05
show_ratio "kyt install / floor, hard links on" "$(median kyt-links.install)" "$floor_in"
show_ratio "kyt uninstall / NSIS uninstall, hard links off" "$(median kyt-copy.uninstall)" "$nsis_out" 0.80
show_ratio "kyt uninstall / NSIS uninstall, hard links on" "$(median kyt-links.uninstall)" "$nsis_out"
show_ratio "kyt uninstall / floor removal, hard links off" "$(median kyt-copy.uninstall)" "$floor_out"
for tool in nsis-stored nsis-solid msiexec; do
  show_ratio "${label[$tool]}: install / floor" "$(median $tool.install)" "$floor_in"
done
show_ratio "NSIS 3 uninstall / floor removal" "$nsis_out" "$floor_out"
show_ratio "msiexec uninstall / NSIS uninstall" "$(median msiexec.uninstall)" "$nsis_out"
if [ "${BENCH_INSTALL_PROBES:-0}" = 1 ]; then
  for tool in "${probes[@]}"; do
    show_ratio "${label[$tool]#probe: }: install / floor" "$(median $tool.install)" "$floor_in"
    show_ratio "${label[$tool]#probe: }: removal / floor" "$(median $tool.uninstall)" "$floor_out"
  done
fi
echo "   (the rounds show install/uninstall seconds per tool; Wine's output is in $log)"
