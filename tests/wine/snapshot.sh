# The snapshot tool against a real prefix: it sees a registry value in each
# view and a file made by Windows programs, and after they are removed again
# it finds no difference, so Wine's own changes (a first boot included) are
# ignored. Runs in a prefix of its own: taking a snapshot ends every Wine
# process of the prefix, which must not hit other tests.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../../tools/snapshot/snapshot.sh"
work=$(fresh_work snapshot)
own_prefix "$work/prefix"
key='HKLM\Software\KytSnapshotTest'
trees=(--tree 'C:\kyt-snapshot-test' --tree "C:\\users\\$(whoami)\\Temp" --tree 'C:\windows\temp')

run cmd /c exit || fail "a new prefix in $prefix"
start=$(date +%s%N)
snapshot_take "$prefix" "$work/before.json" "${trees[@]}" || fail "snapshot of a new prefix"
pass "snapshot of a new prefix, flush included: $((($(date +%s%N) - start) / 1000000)) ms"

run reg add "$key" /v Probe /t REG_SZ /d 'hello snapshot' /f /reg:64 || fail "reg add (64-bit view)"
run reg add "$key" /v Probe32 /t REG_DWORD /d 7 /f /reg:32 || fail "reg add (32-bit view)"
run cmd /c 'mkdir C:\kyt-snapshot-test && echo probe> C:\kyt-snapshot-test\probe.txt' || fail "cmd writes a file"
snapshot_take "$prefix" "$work/changed.json" "${trees[@]}" || fail "snapshot after the changes"
status=0
snapshot_diff "$work/before.json" "$work/changed.json" >"$work/changed.txt" || status=$?
probe_hash=$(printf 'probe\r\n' | sha256sum | cut -c1-16)
expected="added key HKLM\\Software\\KytSnapshotTest
added value HKLM\\Software\\KytSnapshotTest [Probe] = REG_SZ \"hello snapshot\"
added key HKLM\\Software\\Wow6432Node\\KytSnapshotTest
added value HKLM\\Software\\Wow6432Node\\KytSnapshotTest [Probe32] = REG_DWORD 0x00000007 (7)
added folder C:\\kyt-snapshot-test
added file C:\\kyt-snapshot-test\\probe.txt (7 bytes, sha256 $probe_hash)"
if [ "$status" -eq 1 ] && [ "$(cat "$work/changed.txt")" = "$expected" ]; then
  pass "the diff lists exactly the two values, the folder and the file"
else
  fail "diff after the changes (status $status):"; diff <(echo "$expected") "$work/changed.txt" >&2 || true
fi
status=0
out=$(snapshot_diff "$work/before.json" "$work/changed.json" --ignore 'hkey_local_machine\software\kytsnapshottest' \
  --ignore 'HKLM32\Software\KytSnapshotTest' --ignore 'C:\KYT-SNAPSHOT-TEST') || status=$?
[ "$status" -eq 0 ] && [ -z "$out" ] && pass "--ignore patterns in any case and view hide them" ||
  fail "diff with --ignore (status $status): $out"

run reg delete "$key" /f /reg:64 || fail "reg delete (64-bit view)"
run reg delete "$key" /f /reg:32 || fail "reg delete (32-bit view)"
run cmd /c 'rmdir /s /q C:\kyt-snapshot-test' || fail "cmd removes the folder"
snapshot_take "$prefix" "$work/after.json" "${trees[@]}" || fail "snapshot after the removal"
status=0
out=$(snapshot_diff "$work/before.json" "$work/after.json") || status=$?
[ "$status" -eq 0 ] && [ -z "$out" ] && pass "no difference once everything is removed again" ||
  fail "diff after the removal (status $status): $out"
finish
