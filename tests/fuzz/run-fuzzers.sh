#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address sanitizer) and runs each
# for a short, bounded time. Seeds come from small inputs made here.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build/fuzz
seconds=${FUZZ_SECONDS:-15}
mkdir -p "$out"
sources=$(cd "$root" && ls src/base/*.cc src/script/*.cc src/script/commands/*.cc src/install/*.cc src/bootstrap/payload.cc \
  src/bootstrap/pe_image.cc src/system/file_system.cc src/media/sevenzip/*.cc src/ui/messages.cc src/ui/localization.cc \
  src/bootstrap/run_environment.cc src/media/archive_commands.cc src/media/archive_wrappers.cc | grep -v -e _test.cc -e _win32.cc)
# The LZMA SDK sources (Debian's lzma-dev) are copied beside the objects, as
# the CMake build does, so that /usr/include/lzma is never on the path.
sdk=$out/lzma_sdk
mkdir -p "$sdk"
for f in LzFind.c LzFind.h LzHash.h LzmaDec.c LzmaDec.h LzmaEnc.c LzmaEnc.h Types.h; do
  cmp -s "/usr/include/lzma/$f" "$sdk/$f" || cp "/usr/include/lzma/$f" "$sdk/$f"
done
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root/src" -I"$sdk" -D_7ZIP_ST)
c_flags=(-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -D_7ZIP_ST -w)
libraries=(-lgcrypt -lgpg-error -lpthread)

# The library is compiled once, without the fuzzer's main.
# It is rebuilt when a source is newer or the list of sources changed.
if [ ! -f "$out/libcore.a" ] || [ "$sources" != "$(cat "$out/sources.txt" 2>/dev/null)" ] ||
   [ -n "$(cd "$root" && find $sources -newer "$out/libcore.a" | head -n1)" ]; then
  rm -rf "$out/obj" && mkdir -p "$out/obj"
  for s in $sources; do
    clang++ "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" -c "$root/$s" -o "$out/obj/$(echo "$s" | tr / _).o" &
    while [ "$(jobs -r | wc -l)" -ge "$(nproc)" ]; do wait -n; done
  done
  for c in LzFind.c LzmaDec.c LzmaEnc.c; do
    clang "${c_flags[@]}" -c "$sdk/$c" -o "$out/obj/lzma_sdk_$c.o" &
  done
  wait
  ar rcs "$out/libcore.a" "$out"/obj/*.o
  echo "$sources" > "$out/sources.txt"
fi

status=0
for target in payload expansion expression component_file archive undo_log xml; do
  clang++ "${flags[@]}" "$root/tests/fuzz/${target}_fuzzer.cc" "$out/libcore.a" "${libraries[@]}" -o "$out/${target}_fuzzer"
  corpus=$out/corpus-$target
  mkdir -p "$corpus"
  case $target in
    payload) printf 'Set Variable\r\n$\r\n{A}\r\n$\r\n{A}\r\nX\r\n$DOLLAR$\r\n$\r\n\r\n$\r\n{G}\r\nT\r\n$\r\np\r\nc\r\nh\r\nu\r\nc\r\n1.0\r\n$\r\n\r\n$\r\n0\r\nZEKO-PREDEF-COMPONENT\r\n0\r\n$\r\n{C}\r\n$\r\nFALSE\r\n\r\n$\r\nA\r\nB\r\n$\r\n1252\r\nm.kys*0\r\n$\r\n0\r\n$\r\n0*0\r\n$\r\n' > "$corpus/seed" ;;
    expansion) printf 'A=x$A$\nB=$C$$C$\nC=$B$\n$A$ $B$ $$A$ 100$\n' > "$corpus/seed" ;;
    expression) printf '("a" = "a" and "1" < "2") or ("x" <> "y")' > "$corpus/seed" ;;
    archive)
      # Small archives of every method the reader decodes, made by 7z.
      seed=$(mktemp -d)
      printf 'setup engine setup engine archive\n%.0s' {1..40} > "$seed/a.txt"
      head -c 3000 /bin/ls > "$seed/b.exe"
      mkdir -p "$seed/dir" && : > "$seed/dir/empty"
      for m in "-m0=lzma" "-m0=lzma2" "-m0=copy -mhc=off" "-mf=BCJ2" "-m0=BCJ -m1=LZMA -ms=off" "-px -mhe=on"; do
        (cd "$seed" && 7z a -bd "$corpus/seed$(echo "$m" | tr -cd 'a-zA-Z0-9').7z" a.txt b.exe dir $m >/dev/null) || true
      done
      rm -rf "$seed" ;;
    xml) printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<!DOCTYPE c [<!ENTITY e "x">]>\r\n<c a="1&amp;"><!--n--><d>&e;&#65;</d><![CDATA[<x>]]><?p q?><e/></c>\r\n' > "$corpus/seed" ;;
    component_file) printf 'Main\r\nMain\\Sub\r\n$\r\nTRUE\r\nFALSE\r\n$\r\n$\r\nMain\\Sub\r\n$\r\n$\r\nMain\r\n100\r\n$\r\nC:\\App\r\nTRUE\r\nApp\r\n\r\nNAME\r\nv$NEWLINE$w\r\nZEKO64WOW\r\nx64\r\nOVERRIDECACHE\r\n\r\nNATIVE_ENGINE\r\nTRUE\r\n' > "$corpus/seed" ;;
  esac
  echo "fuzzing $target for ${seconds}s"
  if ! "$out/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      "$corpus" >"$out/$target.log" 2>&1; then
    echo "FAIL: $target fuzzer found a problem:" >&2
    tail -n 40 "$out/$target.log" >&2
    status=1
  else
    echo "ok: $target fuzzer ran ${seconds}s without a finding ($(grep -c '^#' "$out/$target.log" || true) status lines)"
  fi
done
exit $status
