# The native engine under Wine, judged by machine snapshots: the Hello
# product installed silently and removed again leaves the prefix as it was;
# an installation that fails at any action in turn rolls back to a clean
# prefix, a file it had overwritten included; a file held open is replaced
# at restart and reported as REBOOT. Runs in a prefix of its own: a
# snapshot ends every Wine process of the prefix.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../../tools/snapshot/snapshot.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(fresh_work native_install)
own_prefix "$work/prefix"
drive_c=$prefix/drive_c
# The engine marks itself as a host application on every start.
ignore=(--ignore 'HKLM\Software\Classes\Applications\*')
take() { snapshot_take "$prefix" "$1" --tree 'C:\Program Files' --tree 'C:\ProgramData' --tree 'C:\windows' --tree 'C:\RB'; }
report() { sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$drive_c/report.txt" 2>/dev/null | tail -n1; }

wine_run "$KYT_BUILD" --project "$(winpath "$root/examples/hello/hello.kyp")" --engine "$(winpath "$KYT_SETUP")" \
  --output "$(winpath "$work/hello/hello-setup.exe")" >/dev/null 2>&1 || fail "building examples/hello"
run cmd /c exit || fail "a new prefix in $prefix"
# Windows keeps these keys whether any file is shared or any program
# installed in the 32-bit view or not; Wine makes them only on demand.
run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDlls' /f /reg:32 || fail "SharedDlls key"
run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /f /reg:32 || fail "Uninstall key"
take "$work/before.json"

# Install, then remove.
run "$work/hello/hello-setup.exe" /s 'REPORT=C:\report.txt'
[[ "$(report)" == "Finished." ]] && grep -q "Installed: COMPLETE" "$drive_c/report.txt" &&
  pass "hello installs: $(grep Installed "$drive_c/report.txt" | tr -d '\r')" || fail "install: $(cat "$drive_c/report.txt" 2>/dev/null)"
take "$work/installed.json"
snapshot_diff "$work/before.json" "$work/installed.json" "${ignore[@]}" >"$work/installed.txt" || true
for item in 'added file C:\Program Files\Hello\docs\images\logo.txt' \
  'added value HKLM\Software\Wow6432Node\Example Software\Hello [Installs] = REG_DWORD' \
  'added value HKLM\Software\Example Software\Hello 64 [View]' \
  'added value HKCU\Environment [HELLO_HOME]' \
  'added file C:\Program Files\Hello\menu\Hello.lnk' \
  'added value HKLM\Software\Classes\Wow6432Node\.hello [(default)] = REG_SZ "Hello.Document"' \
  'added value HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDlls'; do
  grep -qF "$item" "$work/installed.txt" && pass "installed: $item" || fail "not installed: $item"
done
rm -f "$drive_c/report.txt"
run "$work/hello/hello-setup.exe" /s 'REPORT=C:\report.txt' REMOVE=TRUE
grep -q "Removed: COMPLETE" "$drive_c/report.txt" && pass "hello removes itself" || fail "remove: $(cat "$drive_c/report.txt" 2>/dev/null)"
rm -f "$drive_c/report.txt"
take "$work/removed.json"
if snapshot_diff "$work/before.json" "$work/removed.json" "${ignore[@]}" >"$work/removed.txt"; then
  pass "after removal the prefix is as it was"
else
  fail "left behind after removal:"; cat "$work/removed.txt" >&2
fi

# Products that install with INSTALL=TRUE and remove themselves with
# REMOVE=TRUE: product NAME TITLE INSTALL-COMMANDS [REMOVE-COMMANDS] writes
# and builds $work/NAME; both_ways NAME runs both, keeping the snapshots
# before, installed and removed, and checks that removal leaves nothing.
product() {
  mkdir -p "$work/$1/files"
  {
    printf '%%guid = {%s-1111-3333-4444-555555555555}\n%%title = %s\n' "$(printf '%08X' $RANDOM)" "$2"
    printf 'Set Variable\n  variable = %s\n  value = %s\n' NATIVE_ENGINE TRUE MODIFY FALSE INSTALL FALSE
    printf 'If\n  variable = INSTALL\n  operator = 4\n  value = TRUE\n%s\nElse\n%s\nEnd\n' "$3" "${4:-}"
    printf 'Apply Changes\n  variable = RESULT\n  install = $INSTALL$\n  uninstall = $REMOVE$\n'
  } >"$work/$1/$1.kys"
}
both_ways() {
  build_product "$work/$1" "$1" || fail "building $1"
  take "$work/$1-before.json"
  run "$work/$1/out/$1.exe" /s INSTALL=TRUE REMOVE=FALSE
  installed_check "$1"
  take "$work/$1-installed.json"
  snapshot_diff "$work/$1-before.json" "$work/$1-installed.json" "${ignore[@]}" >"$work/$1-installed.txt" || true
  run "$work/$1/out/$1.exe" /s INSTALL=FALSE REMOVE=TRUE
  take "$work/$1-removed.json"
  snapshot_diff "$work/$1-before.json" "$work/$1-removed.json" "${ignore[@]}" >"$work/$1-removed.txt" &&
    pass "$1: removal leaves nothing" || { fail "$1: left after removal:"; cat "$work/$1-removed.txt" >&2; }
}
installed() {  # installed NAME ITEM: the installation's diff lists ITEM
  grep -qF "$2" "$work/$1-installed.txt" && pass "$1 installed: $2" || fail "$1 did not install: $2"
}

# A library that registers itself: registered at installation, unregistered
# before it goes.
product reg SelfReg '  Install Files
    source = selfreg.dll
    target = C:\RB\reg
    self_register = TRUE'
cp "$KYT_SELFREG" "$work/reg/files/selfreg.dll"
installed_check() { :; }
both_ways reg
installed reg 'added value HKCU\Software\KytSelfReg [Registered]'

# A service: created and started by the installation, stopped and deleted
# by the removal.
product svc Service '  Install Service
    source = kytsvc.exe
    target = C:\RB\svc
    name = KytTestService
    display_name = Kyt Test Service
    description = Runs for the installation tests
    program = kytsvc.exe
    dependencies = ~
    type = 0
    start_type = 1
    error_control = 1
  Control Service
    name = KytTestService
    operation = 0
    wait = TRUE' '  Control Service
    name = KytTestService
    operation = 1
    wait = TRUE'
cp "$KYT_SERVICE" "$work/svc/files/kytsvc.exe"
installed_check() {
  local state
  state=$("$wrapper" --prefix="$prefix" --loader="$loader" sc query KytTestService 2>/dev/null | tr -d '\r' | grep STATE || true)
  [[ "$state" == *RUNNING* ]] && pass "the service is installed and running" || fail "service state: '$state'"
}
both_ways svc
installed svc 'added value HKLM\System\CurrentControlSet\Services\KytTestService [Description]'

# An ODBC data source, through the driver's own setup library.
odbc_dll=$(winpath "$KYT_ODBC")
run reg add 'HKLM\Software\ODBC\ODBCINST.INI\Kyt Test Driver' /v Setup /d "$odbc_dll" /f /reg:64
run reg add 'HKLM\Software\ODBC\ODBCINST.INI\Kyt Test Driver' /v Driver /d "$odbc_dll" /f /reg:64
# Windows has the user's data source key and the list of drivers already;
# Wine makes them on demand.
run reg add 'HKCU\Software\ODBC\ODBC.INI' /f
run reg add 'HKLM\Software\ODBC\ODBCINST.INI\ODBC Drivers' /f /reg:64
product dsn DataSource '  Create ODBC DSN
    name = KytDemo
    driver = Kyt Test Driver
    system = FALSE
    attributes = Database=C:\RB\demo.db'
installed_check() { :; }
both_ways dsn
installed dsn 'added value HKCU\Software\ODBC\ODBC.INI\KytDemo [Database] = REG_SZ "C:\\RB\\demo.db"'

# An ODBC driver installed with its files and counted, then a data source
# through it; removal takes both away again.
product drv Driver '  Set 64 Bit Mode
    x64 = TRUE
  Install ODBC Driver
    source = kytodbc.dll
    target = C:\RB\drv
    name = Kyt Installed Driver
    setup = ""
    attributes = APILevel=1
  Create ODBC DSN
    name = KytThroughInstalled
    driver = Kyt Installed Driver
    system = FALSE
    attributes = Database=C:\RB\other.db'
cp "$KYT_ODBC" "$work/drv/files/kytodbc.dll"
both_ways drv
for item in 'added file C:\RB\drv\kytodbc.dll' \
  'added value HKLM\Software\ODBC\ODBCINST.INI\Kyt Installed Driver [UsageCount] = REG_DWORD' \
  'added value HKLM\Software\ODBC\ODBCINST.INI\Kyt Installed Driver [APILevel] = REG_SZ "1"' \
  'added value HKLM\Software\ODBC\ODBCINST.INI\ODBC Drivers [Kyt Installed Driver] = REG_SZ "Installed"' \
  'added value HKCU\Software\ODBC\ODBC.INI\KytThroughInstalled [Database]'; do
  installed drv "$item"
done

# Rollback at every action: FAILAT=k makes a failing value appear before
# action k (NATIVE_ERROR is ABORT), k = 7 after the last one.
mkdir -p "$work/rb/files/sub"
echo new-x >"$work/rb/files/x.txt"
echo new-z >"$work/rb/files/sub/z.txt"
echo replaced >"$work/rb/files/keep.txt"
{
  cat <<'KYS'
%guid = {44444444-2222-3333-4444-555555555555}
%title = Rollback
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
Set Variable
  variable = NATIVE_ERROR
  value = ABORT
# The command line's FAILAT wins: a silent run keeps command-line values.
Set Variable
  variable = FAILAT
  value = 0
KYS
  actions=(
'Create Folder
  folder = C:\RB\made\deeper'
'Write Registry
  root = 2
  key = SOFTWARE\KytRollback\Deep\Er
  name = V
  data = 1
  string = TRUE'
'Install Files
  source = *.txt
  options = recurse
  target = C:\RB\app'
'Edit INI File
  folder = C:\RB\app
  file = rb.ini
  mode = 0
  section = S
  key = K
  value = V'
'Set Environment
  name = KYT_RB
  value = on
  operation = 0
  position = 2
  remove_at_uninstall = TRUE
  system = FALSE'
'Install Files
  source = keep.txt
  target = C:\RB\keep')
  for i in "${!actions[@]}"; do
    cat <<KYS
If
  variable = FAILAT
  operator = 0
  value = $((i + 1))
  Write Registry
    root = 2
    key = SOFTWARE\\KytRollback
    name = Bad
    data = not a number
    integer = TRUE
End
${actions[$i]}
KYS
  done
  cat <<'KYS'
If
  variable = FAILAT
  operator = 0
  value = 7
  Write Registry
    root = 2
    key = SOFTWARE\KytRollback
    name = Bad
    data = not a number
    integer = TRUE
End
Write to Text File
  file = C:\report.txt
  text = reached the end
KYS
} >"$work/rb/rb.kys"
build_product "$work/rb" rb || fail "building the rollback product"
mkdir -p "$drive_c/RB/keep"
echo original >"$drive_c/RB/keep/keep.txt"
take "$work/rb-before.json"
for k in 1 2 3 4 5 6 7; do
  run "$work/rb/out/rb.exe" /s "FAILAT=$k" NATIVE_OVERWRITE=ALWAYS NATIVE_OVERWRITE_OLDER=TRUE
  take "$work/rb-$k.json"
  if [ -e "$drive_c/report.txt" ]; then
    fail "failure before action $k: the script went on"; rm -f "$drive_c/report.txt"
  elif snapshot_diff "$work/rb-before.json" "$work/rb-$k.json" "${ignore[@]}" >"$work/rb-$k.txt"; then
    pass "failure before action $k rolls back to a clean prefix"
  else
    fail "failure before action $k left:"; cat "$work/rb-$k.txt" >&2
  fi
done
[ "$(tr -d '\r' <"$drive_c/RB/keep/keep.txt")" = original ] && pass "the overwritten file came back" ||
  fail "keep.txt holds '$(cat "$drive_c/RB/keep/keep.txt")'"

# A file held open: replaced at restart, REBOOT.
run "$work/rb/out/rb.exe" /s NATIVE_OVERWRITE=ALWAYS NATIVE_OVERWRITE_OLDER=TRUE
"$wrapper" --prefix="$prefix" --loader="$loader" "$KYT_HOLD" 'C:\RB\keep\keep.txt' 30 >/dev/null 2>&1 &
holder=$!
sleep 3
cat >"$work/rb/reboot.kys" <<'KYS'
%guid = {55555555-2222-3333-4444-555555555555}
%title = Reboot
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
Install Files
  source = keep.txt
  target = C:\RB\keep
Apply Changes
  variable = RESULT
  install = TRUE
Write to Text File
  file = C:\report.txt
  text = $RESULT$
KYS
build_product "$work/rb" reboot || fail "building the reboot product"
rm -f "$drive_c/report.txt"
run "$work/rb/out/reboot.exe" /s NATIVE_OVERWRITE=ALWAYS NATIVE_OVERWRITE_OLDER=TRUE
[ "$(report)" = REBOOT ] && pass "a file held open gives REBOOT" || fail "held file: '$(report)'"
grep -qi 'PendingFileRenameOperations' "$prefix/system.reg" 2>/dev/null || snapshot_flush "$prefix"
grep -qi 'PendingFileRenameOperations' "$prefix/system.reg" && pass "the replacement waits for the restart" ||
  fail "no pending rename recorded"
kill $holder 2>/dev/null || true
finish
