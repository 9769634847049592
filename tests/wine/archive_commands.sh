# The five archive commands in a built setup under Wine, against archives
# made by the 7z command: extraction with and without the right password,
# testing, listing (also of a missing archive), compression checked by 7z,
# and deletion.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work archive_commands)
mkdir -p "$work/source/sub" "$work/tocompress/inner"
printf 'alpha\r\n' > "$work/source/a.txt"
printf 'beta beta beta\r\n' > "$work/source/sub/b.txt"
: > "$work/source/empty.txt"
head -c 200000 /dev/urandom > "$work/tocompress/random.bin"
seq 1 20000 > "$work/tocompress/inner/numbers.txt"
(cd "$work/source" && 7z a -bd -y -psecret -mhe=on ../locked.7z a.txt sub empty.txt >/dev/null)
(cd "$work/source" && 7z a -bd -y ../plain.7z a.txt sub >/dev/null)

# Archives of every kind 7z writes, to be extracted through kyt.lib.
mkdir -p "$work/mixed/empty folder" "$work/mixed/Über"
cp "$KYT_SETUP" "$work/mixed/program.exe"
printf 'grüße\r\n' > "$work/mixed/Über/naïve.txt"
: > "$work/mixed/zero.bin"
seq 1 5000 > "$work/mixed/numbers.txt"
variants="lzma:-m0=lzma lzma2:-m0=lzma2 bcj:-mf=BCJ bcj2:-mf=BCJ2 nonsolid:-ms=off copy:-m0=copy"
for v in $variants; do
  (cd "$work/mixed" && 7z a -bd -y ${v#*:} "../v-${v%%:*}.7z" . >/dev/null)
done

w() { winpath "$work/$1"; }
cat > "$work/archives.kys" <<KYS
%guid = {55555555-2222-3333-4444-555555555555}
Set Variable
  variable = OUT
  value = \$EXEDIR\$results.txt
Extract 7Zip Archive
  archive = $(w locked.7z)
  destination = $(w extracted)
  variable = X1
  password = secret
  overwrite = TRUE
  paths = TRUE
Extract 7Zip Archive
  archive = $(w locked.7z)
  destination = $(w wrong)
  variable = X2
  password = wrong
  overwrite = TRUE
  paths = TRUE
Extract 7Zip Archive
  archive = $(w missing.7z)
  destination = $(w nothing)
  variable = X3
  overwrite = TRUE
  paths = TRUE
Test 7Zip Archive
  archive = $(w plain.7z)
  variable = T1
List 7Zip Archive
  archive = $(w plain.7z)
  variable = L1
List 7Zip Archive
  archive = $(w missing.7z)
  variable = L2
Compress 7Zip Archive
  archive = $(w made.7z)
  password = ""
  files_with_folder = $(w tocompress)\\*
  method = 1
  mode_0 = TRUE
  variable = C1
Delete 7Zip Archive
  archive = $(w plain.7z)
  items = a.txt
  variable = D1
List 7Zip Archive
  archive = $(w plain.7z)
  variable = L3
$(for v in $variants; do n=${v%%:*}; printf 'Extract 7Zip Archive\n  archive = %s\n  destination = %s\n  variable = V_%s\n  overwrite = TRUE\n  paths = TRUE\nWrite to Text File\n  file = $OUT$\n  text = V_%s=$V_%s$\n' "$(w v-$n.7z)" "$(w out-$n)" "$n" "$n" "$n"; done)
Write to Text File
  file = \$OUT\$
  text = X1=\$X1\$
Write to Text File
  file = \$OUT\$
  text = X2=\$X2\$
Write to Text File
  file = \$OUT\$
  text = X3=\$X3\$
Write to Text File
  file = \$OUT\$
  text = T1=\$T1\$
Write to Text File
  file = \$OUT\$
  text = L1=\$L1\$
Write to Text File
  file = \$OUT\$
  text = L2=\$L2\$
Write to Text File
  file = \$OUT\$
  text = C1=\$C1\$
Write to Text File
  file = \$OUT\$
  text = D1=\$D1\$
Write to Text File
  file = \$OUT\$
  text = L3=\$L3\$
KYS
build_setup "$work/archives.kys" "$work/archives.exe"
code=$(exit_code "$work/archives.exe" /s)
[ "$code" = 0 ] || fail "exit code $code"
results=$(sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$work/results.txt")
echo "$results"
value() { grep "^$1=" <<<"$results" | head -n1 | cut -d= -f2-; }
check() { [ "$(value "$1")" = "$2" ] && pass "$1 = $2" || fail "$1 is '$(value "$1")', expected '$2'"; }
check X1 SUCCESS
cmp -s "$work/source/a.txt" "$work/extracted/a.txt" && cmp -s "$work/source/sub/b.txt" "$work/extracted/sub/b.txt" &&
  [ -f "$work/extracted/empty.txt" ] && pass "extracted files are identical" || fail "extracted files differ"
check X2 "#1005"
[ -z "$(ls -A "$work/wrong" 2>/dev/null)" ] && pass "a wrong password writes nothing" || fail "files written with a wrong password"
check X3 "#1001"
check T1 SUCCESS
l1=$(value L1)
[[ "$l1" == *a.txt* && "$l1" == *sub\\b.txt* ]] && pass "listing $l1" || fail "listing '$l1'"
check L2 '#ERROR\#1001'
check C1 SUCCESS
7z t "$work/made.7z" >/dev/null 2>&1 && pass "7z tests the archive made by kyt.lib" || fail "7z rejects made.7z"
rm -rf "$work/check" && mkdir "$work/check" && (cd "$work/check" && 7z x -bd -y ../made.7z >/dev/null) &&
  cmp -s "$work/tocompress/random.bin" "$work/check/tocompress/random.bin" &&
  cmp -s "$work/tocompress/inner/numbers.txt" "$work/check/tocompress/inner/numbers.txt" &&
  pass "7z extracts identical files" || fail "files extracted by 7z differ"
for v in $variants; do
  n=${v%%:*}
  check "V_$n" SUCCESS
  diff -r "$work/mixed" "$work/out-$n" >/dev/null && pass "$n archive extracts identical files, folders and names" ||
    fail "$n archive: extracted tree differs"
done
check D1 SUCCESS
[[ "$(value L3)" != *a.txt* ]] && pass "a.txt deleted" || fail "a.txt still listed: $(value L3)"
finish
