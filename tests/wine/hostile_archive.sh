# Archives whose item names would leave the destination folder ("..",
# absolute paths, drive letters) are refused by kyt.lib, and nothing is
# written anywhere.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work hostile_archive)
mkdir -p "$work/src/zz" "$work/src/Qx" "$work/src/ok"
echo evil > "$work/src/zz/evil.txt"
echo evil > "$work/src/Qx/evil2.txt"
echo fine > "$work/src/ok/fine.txt"
(cd "$work/src" && 7z a -bd -y -mhc=off ../base.7z ok zz Qx >/dev/null)
# Rewrite names inside the uncompressed header and fix its checksums.
python3 - "$work/base.7z" "$work" <<'PY'
import struct, sys, zlib
data = bytearray(open(sys.argv[1], 'rb').read())
offset, size = struct.unpack_from('<QQ', data, 12)
start = 32 + offset
def variant(pairs, name):
    out = bytearray(data)
    header = bytes(out[start:start + size])
    for old, new in pairs:
        for sep in ('/', '\\'):
            o, n = (old + sep).encode('utf-16-le'), (new + sep).encode('utf-16-le')
            header = header.replace(o, n)
    out[start:start + size] = header
    struct.pack_into('<I', out, 28, zlib.crc32(header) & 0xffffffff)
    struct.pack_into('<I', out, 8, zlib.crc32(bytes(out[12:32])) & 0xffffffff)
    open(sys.argv[2] + '/' + name, 'wb').write(out)
variant([('zz', '..')], 'dotdot.7z')
variant([('Qx', 'C:')], 'drive.7z')
PY
w() { winpath "$work/$1"; }
cat > "$work/hostile.kys" <<KYS
%guid = {66666666-2222-3333-4444-555555555555}
Extract 7Zip Archive
  archive = $(w dotdot.7z)
  destination = $(w dest1)
  variable = R1
  overwrite = TRUE
  paths = TRUE
Extract 7Zip Archive
  archive = $(w drive.7z)
  destination = $(w dest2)
  variable = R2
  overwrite = TRUE
  paths = TRUE
Extract 7Zip Archive
  archive = $(w base.7z)
  destination = $(w dest3)
  variable = R3
  overwrite = TRUE
  paths = TRUE
Write to Text File
  file = \$EXEDIR\$results.txt
  text = \$R1\$ \$R2\$ \$R3\$
KYS
build_setup "$work/hostile.kys" "$work/hostile.exe"
code=$(exit_code "$work/hostile.exe" /s)
[ "$code" = 0 ] || fail "exit code $code"
results=$(sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$work/results.txt")
[ "$results" = "#1008 #1008 SUCCESS" ] && pass "unsafe names refused (#1008), the untouched archive extracts" ||
  fail "results '$results'"
[ ! -e "$work/evil.txt" ] && [ ! -e "$(wine_prefix)/drive_c/evil2.txt" ] && pass "nothing written outside" ||
  fail "a file escaped the destination"
[ -z "$(ls -A "$work/dest1" 2>/dev/null)" ] && [ -z "$(ls -A "$work/dest2" 2>/dev/null)" ] &&
  pass "nothing written inside either" || fail "refused archives wrote files"
[ -f "$work/dest3/ok/fine.txt" ] && pass "the control archive extracted" || fail "control archive not extracted"
finish
