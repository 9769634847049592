#!/usr/bin/env bash
# The shipped engine is a 32-bit GUI executable with nothing behind its last
# section, importing only libraries Windows maps from the system folder.
set -euo pipefail
setup=$1/src/main/setup.exe
python3 - "$setup" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', data, 0x3C)[0]
machine, sections = struct.unpack_from('<HH', data, pe + 4)
optional_size = struct.unpack_from('<H', data, pe + 20)[0]
subsystem = struct.unpack_from('<H', data, pe + 24 + 68)[0]
table = pe + 24 + optional_size
end = max(struct.unpack_from('<II', data, table + 40 * i + 16)[0] + struct.unpack_from('<II', data, table + 40 * i + 16)[1]
          for i in range(sections))
problems = []
if machine != 0x14c: problems.append('machine %#x is not i386' % machine)
if subsystem != 2: problems.append('subsystem %d is not the GUI subsystem' % subsystem)
if end != len(data): problems.append('%d bytes follow the image' % (len(data) - end))
for p in problems: print('FAIL: win32 engine:', p)
if problems: sys.exit(1)
print('ok: win32 engine is a stripped i386 GUI image of %d bytes' % len(data))
PY
objdump=i686-w64-mingw32-objdump
imports=$($objdump -p "$setup" | awk '/DLL Name/ {print toupper($3)}' | sort | tr '\n' ' ')
[ "$imports" = "ADVAPI32.DLL KERNEL32.DLL KYT.LIB MSVCRT.DLL USER32.DLL " ] && echo "ok: win32 engine imports $imports" || {
  echo "FAIL: win32 engine imports $imports"; exit 1; }
# kyt.lib: a 32-bit DLL exporting the eight plain names the engine imports.
lib=$1/src/main/kyt.lib
exports=$($objdump -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /\[/ {print $NF} on && !/\[/ {on=0}' | sort | tr '\n' ' ')
wanted="CloseListArchive CreateArchive DeleteFromArchive ExtractArchive GetLastArchiveError OpenListArchive Set7zipDllDirectory TestArchive "
[ "$exports" = "$wanted" ] && echo "ok: kyt.lib exports $exports" || { echo "FAIL: kyt.lib exports '$exports'"; exit 1; }
imported=$($objdump -p "$setup" | awk '/DLL Name: kyt.lib/ {on=1; next} on && /DLL Name/ {on=0} on && NF==3 && $2 ~ /^[0-9]+$/ {print $3}' | sort | tr '\n' ' ')
[ "$imported" = "$wanted" ] && echo "ok: the engine imports the same names" || { echo "FAIL: engine imports '$imported'"; exit 1; }
$objdump -f "$lib" | grep -q 'file format pei-i386' && echo "ok: kyt.lib is a 32-bit DLL" || { echo "FAIL: kyt.lib is not i386"; exit 1; }
