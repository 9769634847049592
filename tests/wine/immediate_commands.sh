# Commands that act at once: the .NET tools found at the framework paths
# (fake tools that log how they were started stand in for the missing
# framework) and Edit XML File on a real file.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work immediate_commands)
net=$(wine_prefix)/drive_c/windows/Microsoft.NET
gac=$(wine_prefix)/drive_c/windows/assembly/GAC_MSIL/Lib/2.0.0.0__abc
cleanup() { rm -rf "$net" "$(wine_prefix)/drive_c/windows/assembly"; }
trap cleanup EXIT
cleanup
for tool in Framework64/v4.0.30319/ngen.exe Framework64/v2.0.50727/ngen.exe Framework64/v4.0.30319/regasm.exe \
            Framework/v4.0.30319/installutil.exe Framework/v2.0.50727/installutil.exe; do
  mkdir -p "$(dirname "$net/$tool")" && cp "$KYT_FAKE_TOOL" "$net/$tool"
done
echo 1 > "$net/Framework64/v4.0.30319/ngen.exe.exit"           # the newest fails: the next is tried
echo 0 > "$net/Framework/v4.0.30319/installutil.exe.exit"
mkdir -p "$gac" "$work/app" && : > "$gac/Lib.dll" && : > "$work/app/a.dll"
printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<configuration>\r\n  <appSettings>\r\n    <add key="a" value="1"/>\r\n  </appSettings>\r\n</configuration>\r\n' > "$work/app/app.config"

cat > "$work/immediate.kys" <<'KYS'
%guid = {44444444-7777-3333-4444-555555555555}
Set 64 Bit Mode
  x64 = TRUE
Generate Native Images
  assembly = $EXEDIR$app\a.dll
Register Assembly
  assembly = Lib, Version=2.0.0.0, Culture=neutral, PublicKeyToken=abc|TRUE|TRUE
Set 64 Bit Mode
  win32 = TRUE
Run .NET Installer Class
  assembly = $EXEDIR$app\a.dll
  uninstall = TRUE
Edit XML File
  file = $EXEDIR$app\app.config
  encoding = UTF-8
  format = 2
  path = configuration\appSettings\add
  text = ""
  attributes = """key,b"",""value,2"""
  operation = 2
  all_matches = FALSE
  preserve_white_space = FALSE
  backup = TRUE
Edit XML File
  file = $EXEDIR$app\app.config
  encoding = UTF-8
  format = 2
  path = configuration\appSettings\add
  text = ""
  attributes = """value,9"""
  operation = 1
  all_matches = TRUE
  preserve_white_space = FALSE
  backup = FALSE
Write to Text File
  file = $EXEDIR$done.txt
  text = lasterror=$LASTERROR$
KYS
build_setup "$work/immediate.kys" "$work/setup.exe" || { fail "build"; finish; }
wine_run "$work/setup.exe" /s && pass "the setup ran" || fail "the setup failed"

expect_log() {  # tool-path expected-line
  local got; got=$(tr -d '\r' < "$net/$1.log" 2>/dev/null)
  [ "$got" = "$2" ] && pass "$1: $2" || fail "$1 logged '$got', expected '$2'"
}
winapp='Z:'$(echo "$work/app" | tr / '\\')
expect_log Framework64/v4.0.30319/ngen.exe "\"C:\\windows\\Microsoft.NET\\Framework64\\v4.0.30319\\ngen.exe\" install \"$winapp\\a.dll\"|$winapp"
expect_log Framework64/v2.0.50727/ngen.exe "\"C:\\windows\\Microsoft.NET\\Framework64\\v2.0.50727\\ngen.exe\" install \"$winapp\\a.dll\"|$winapp"
lib='C:\windows\assembly\GAC_MSIL\Lib\2.0.0.0__abc'
expect_log Framework64/v4.0.30319/regasm.exe "\"C:\\windows\\Microsoft.NET\\Framework64\\v4.0.30319\\regasm.exe\" /tlb /codebase \"$lib\\Lib.dll\" /silent|$lib"
expect_log Framework/v4.0.30319/installutil.exe "\"C:\\windows\\Microsoft.NET\\Framework\\v4.0.30319\\installutil.exe\" /u \"$winapp\\a.dll\"|$winapp"
[ ! -e "$net/Framework/v2.0.50727/installutil.exe.log" ] && pass "no fall-back after a success" ||
  fail "installutil of version 2 ran after version 4 succeeded"
sed 's/^\xEF\xBB\xBF//' "$work/done.txt" 2>/dev/null | tr -d '\r' | grep -qx 'lasterror=' && pass "LASTERROR empty" || fail "$(cat "$work/done.txt" 2>/dev/null)"

expected=$(printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<configuration>\r\n  <appSettings>\r\n    <add key="a" value="9"/>\r\n    <add key="b" value="9"/>\r\n  </appSettings>\r\n</configuration>\r\n')
[ "$(cat "$work/app/app.config")" = "$expected" ] && pass "app.config edited" ||
  fail "app.config is: $(cat -A "$work/app/app.config")"
# Install Assembly through the assembly cache interface: a stand-in
# fusion.dll at the framework path keeps assemblies as files in the cache
# folder; uninstalling takes them out again. Wine would load its own
# fusion.dll (which needs real .NET assemblies) in place of the file.
mkdir -p "$net/Framework64/v4.0.30319" "$work/asm/files"
cp "$KYT_FAKE_FUSION" "$net/Framework64/v4.0.30319/fusion.dll"
printf 'assembly one' > "$work/asm/files/One.dll"
printf 'assembly two' > "$work/asm/files/Two.dll"
cat > "$work/asm/asm.kys" <<'KYS'
%guid = {44444444-7777-3333-4444-666666666666}
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
If
  variable = REMOVE
  operator = 4
  value = TRUE
  Apply Changes
    variable = RESULT
    install = FALSE
    uninstall = TRUE
Else
  Install Assembly
    source = *.dll
    global_cache = TRUE
    target = $TARGETDIR$
  Apply Changes
    variable = RESULT
    install = TRUE
End
Write to Text File
  file = $EXEDIR$result.txt
  text = $RESULT$ $LASTERROR$
KYS
cache_dir=$(wine_prefix)/drive_c/windows/assembly/GAC_MSIL
if build_product "$work/asm" asm; then
  fusion_native="mscoree,mshtml=;winemenubuilder.exe=d;fusion=n"
  WINEDLLOVERRIDES=$fusion_native wine_run "$work/asm/out/asm.exe" /s
  [ "$(cat "$cache_dir/One/One.dll" 2>/dev/null)" = "assembly one" ] && [ -f "$cache_dir/Two/Two.dll" ] &&
    pass "both assemblies are in the cache" || fail "cache holds: $(ls -R "$cache_dir" 2>&1)"
  grep -q COMPLETE "$work/asm/out/result.txt" && pass "installation COMPLETE" || fail "$(cat "$work/asm/out/result.txt")"
  WINEDLLOVERRIDES=$fusion_native wine_run "$work/asm/out/asm.exe" /s REMOVE=TRUE
  [ ! -e "$cache_dir/One" ] && [ ! -e "$cache_dir/Two" ] && pass "uninstall removed both" ||
    fail "after uninstall: $(ls -R "$cache_dir" 2>&1)"
else
  fail "building the assembly product"
fi

# Taking over security on a real key: a key whose access list grants only
# reading gets a value only with NATIVE_OVERRIDE_PERMISSIONS TRUE, refuses
# values again afterwards, and is deleted by Delete Registry taking it over.
locked='SOFTWARE\KytLocked'
wine_run "$KYT_PROTECT_KEY" "$locked" && pass "protected key made" || fail "protect_key"
cat > "$work/security.kys" <<'KYS'
%guid = {44444444-7777-3333-4444-777777777777}
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
Set Variable
  variable = NATIVE_ERROR
  value = IGNORE
Set 64 Bit Mode
  x64 = TRUE
If
  variable = REMOVE
  operator = 4
  value = TRUE
  Set Variable
    variable = NATIVE_OVERRIDE_PERMISSIONS
    value = TRUE
  Delete Registry
    root = 2
    key = SOFTWARE\KytLocked
    name = ""
    whole_key = TRUE
Else
  Write Registry
    mode = 0
    root = 2
    key = SOFTWARE\KytLocked
    name = Refused
    data = 1
    string = TRUE
  Set Variable
    variable = NATIVE_OVERRIDE_PERMISSIONS
    value = TRUE
  Write Registry
    mode = 0
    root = 2
    key = SOFTWARE\KytLocked
    name = Taken
    data = 2
    string = TRUE
End
KYS
build_setup "$work/security.kys" "$work/security.exe" && wine_run "$work/security.exe" /s || fail "security setup"
values=$(wine_run reg query "HKLM\\$locked" /reg:64 2>/dev/null | tr -d '\r')
grep -q Taken <<<"$values" && ! grep -q Refused <<<"$values" && pass "only the taken-over write arrived" ||
  fail "values: $values"
wine_run reg add "HKLM\\$locked" /v Other /d 3 /f /reg:64 >/dev/null 2>&1 && fail "the key's protection was not put back" ||
  pass "the key refuses values again"
wine_run "$work/security.exe" /s REMOVE=TRUE
wine_run reg query "HKLM\\$locked" /reg:64 >/dev/null 2>&1 && fail "Delete Registry left the protected key" ||
  pass "Delete Registry took over and deleted the key"

# A task of the Task Scheduler, created and deleted again.
cat > "$work/task.kys" <<'KYS'
%guid = {44444444-7777-3333-4444-888888888888}
If
  variable = REMOVE
  operator = 4
  value = TRUE
  Delete Scheduled Task
    name = KytTask
Else
  Schedule Task
    name = KytTask
    program = C:\windows\notepad.exe
    arguments = readme.txt
    folder = C:\windows
    trigger = 3
    start = 2030-01-31T08:00:00
    system = FALSE
    description = Opens the notes every morning
End
Write to Text File
  file = $EXEDIR$task.txt
  text = lasterror=$LASTERROR$
KYS
# Wine keeps the tasks in a folder spelled "tasks".
task_file=$(wine_prefix)/drive_c/windows/system32/tasks/KytTask
rm -f "$task_file"
build_setup "$work/task.kys" "$work/task.exe" && wine_run "$work/task.exe" /s || fail "task setup"
task_xml=$(tr -d '\0' <"$task_file" 2>/dev/null || true)
# Wine's task store writes the registration and settings but leaves out
# actions and triggers, so only the description can be seen here.
grep -q 'Opens the notes every morning' <<<"$task_xml" && pass "the task is registered" ||
  fail "task: $(tr -d '\r' <"$work/task.txt" 2>/dev/null) $task_xml"
wine_run "$work/task.exe" /s REMOVE=TRUE
[ ! -e "$task_file" ] && pass "Delete Scheduled Task removed it" || fail "the task stayed"

[ -f "$work/app/app.config.backup. 0" ] && grep -q 'value="1"' "$work/app/app.config.backup. 0" &&
  [ ! -e "$work/app/app.config.backup. 1" ] && pass "one backup, of the original" || fail "backup: $(ls "$work/app")"
finish
