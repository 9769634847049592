# The engine's exit codes: no payload, a script that fails the check, a
# script that runs, and a runtime error in a silent run.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work exit_codes)
temp=$(temp_folder)

cp "$KYT_SETUP" "$work/bare.exe"
cp "$KYT_LIB" "$work/kyt.lib"
rm -f "$temp/kyt.tmp"
code=$(exit_code "$work/bare.exe" /s)
[ "$code" = 13 ] && pass "no payload ends with 13" || fail "no payload: exit code $code, expected 13"
[ ! -e "$temp/kyt.tmp" ] && pass "no kyt.tmp without payload" || fail "kyt.tmp left behind"

cat > "$work/unclosed.kys" <<'KYS'
%guid = {11111111-2222-3333-4444-555555555555}
If
  variable = X
  operator = 5
KYS
# The build tool refuses the script; attach a payload written by hand instead
# so the engine's own check is what fails.
if build_setup "$work/unclosed.kys" "$work/unclosed.exe" 2>"$work/build.err"; then
  fail "the build tool accepted a script without End"
else
  grep -q 'Insufficient END statements' "$work/build.err" && pass "build tool reports the check message" ||
    fail "build tool message: $(cat "$work/build.err")"
fi
[ ! -e "$work/unclosed.exe" ] && pass "no output after a failed build" || fail "output written after a failed build"

cat > "$work/ok.kys" <<'KYS'
%guid = {11111111-2222-3333-4444-555555555555}
Set Variable
  variable = A
  value = 1
KYS
build_setup "$work/ok.kys" "$work/ok.exe"
code=$(exit_code "$work/ok.exe" /s)
[ "$code" = 0 ] && pass "a script that runs ends with 0" || fail "ok script: exit code $code"
[ ! -e "$temp/kyt.tmp" ] && pass "kyt.tmp deleted after reading" || fail "kyt.tmp left behind"

# A payload whose If has no End: made by cutting the End command out of a
# well-formed build, so only the engine's check sees it.
cat > "$work/block.kys" <<'KYS'
%guid = {11111111-2222-3333-4444-555555555555}
If
  variable = X
  operator = 5
End
KYS
build_setup "$work/block.kys" "$work/block.exe"
python3 - "$work/block.exe" "$work/broken.exe" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
# Turn the command name "End" into a marker: the check then misses its End.
data = data.replace(b'\r\nEnd\r\n$\r\n', b'\r\nEnx\r\n$\r\n', 1)
open(sys.argv[2], 'wb').write(data)
PY
cp "$work/block.res" "$work/broken.res"
code=$(exit_code "$work/broken.exe")
[ "$code" = 314 ] && pass "check failure ends with 314 (not silent, no window)" || fail "check failure: exit code $code"

cat > "$work/runtime.kys" <<'KYS'
%guid = {11111111-2222-3333-4444-555555555555}
Set Variable
  variable = V
  value = a.b
If
  variable = V
  operator = 6
  value = 1.0
End
KYS
build_setup "$work/runtime.kys" "$work/runtime.exe"
code=$(exit_code "$work/runtime.exe" /s)
[ "$code" = 11 ] && pass "runtime error in a silent run ends with 11 and no box" || fail "runtime error: exit code $code"
# The resource archive: missing gives 14, damaged gives 15.
cp "$work/ok.exe" "$work/nores.exe"
code=$(exit_code "$work/nores.exe" /s)
[ "$code" = 14 ] && pass "a missing resource archive ends with 14" || fail "missing .res: exit code $code"
cp "$work/ok.exe" "$work/badres.exe"
printf 'not an archive' > "$work/badres.res"
code=$(exit_code "$work/badres.exe" /s)
[ "$code" = 15 ] && pass "a damaged resource archive ends with 15" || fail "damaged .res: exit code $code"

# The trace log of a normal silent run, byte for byte (UTF-16LE, CR LF, no
# byte-order mark), written to the lower-cased path.
rm -f "$(wine_prefix)/drive_c/kyt-trace.txt"
code=$(exit_code "$work/ok.exe" /S '/L=C:\KYT-Trace.txt')
expected=$(printf '%s\r\n' '<Quorvane>' '    <SupportDir>' '    </SupportDir>' '  <SetupSplash>' '    <StubSize>' \
  '    </StubSize>' '    <StubData>' '    </StubData>' '    <GlobalLists>' '    </GlobalLists>' '    <ExtractArchive>' \
  '    </ExtractArchive>' '    <ResourcePath>' '    </ResourcePath>' '    <Dialogs>' '    </Dialogs>' '  </SetupSplash>' \
  '  <RunScript>' '    <Variables>' '    </Variables>' '    <CompileScript>' '    </CompileScript>' '    <BootStrap>' \
  '    </BootStrap>' '    <zeko>' '    </zeko>' '    <ExitScript>' '    </ExitScript>' '  </RunScript>' '  <Free>' \
  '  </Free>' '  <CachedSupportDir>' '  </CachedSupportDir>' '</Quorvane>' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1)
actual=$(od -An -tx1 "$(wine_prefix)/drive_c/kyt-trace.txt" 2>/dev/null)
[ "$code" = 0 ] && [ -n "$actual" ] && [ "$actual" = "$expected" ] && pass "trace log matches byte for byte" ||
  fail "trace log differs (exit code $code)"

# The engine as its own out-of-process extractor.
code=$(exit_code "$work/bare.exe" OutOfProcessExtract "$(winpath "$work/no-such-control")")
[ "$code" = 1 ] && pass "out-of-process extraction without control file ends with 1" || fail "missing control file: $code"
printf '%s\r\n\r\n%s\r\nTRUE\r\nTRUE\r\n' "$(winpath "$work/none.7z")" "$(winpath "$work/oop")" > "$work/control"
code=$(exit_code "$work/bare.exe" OutOfProcessExtract "$(winpath "$work/control")")
[ "$code" = 2 ] && pass "out-of-process extraction of a missing archive ends with 2" || fail "missing archive: $code"
mkdir -p "$work/payload/dir" && echo hello > "$work/payload/dir/x.txt"
(cd "$work/payload" && 7z a -bd -y ../oop.7z dir >/dev/null)
printf '%s\r\n\r\n%s\r\nTRUE\r\nTRUE\r\n' "$(winpath "$work/oop.7z")" "$(winpath "$work/oop")" > "$work/control"
: > "$work/controlitems"
code=$(exit_code "$work/bare.exe" OutOfProcessExtract "$(winpath "$work/control")")
answer=$(sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$work/control" | head -n1)
[ "$code" = 0 ] && [ -z "$answer" ] && cmp -s "$work/payload/dir/x.txt" "$work/oop/dir/x.txt" &&
  pass "out-of-process extraction extracts and leaves an empty error line" ||
  fail "out-of-process extraction: code $code, answer '$answer'"
finish
