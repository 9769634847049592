# Start-up under Wine: silent switches, command-line pairs, the support
# folders of two engines started together, values the script sees.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work startup)
cat > "$work/startup.kys" <<'KYS'
%guid = {77777777-2222-3333-4444-555555555555}
%title = Startup
# Keeps the engine busy for a moment when LOOPS=n is given (a silent run
# keeps command-line values), so two runs overlap.
Set Variable
  variable = LOOPS
  value = 0
Set Variable
  variable = I
  value = 0
While
  variable = I
  operator = 2
  value = $LOOPS$
  negate = TRUE
  Mathematics
    a = $I$
    b = 1
    operation = 0
    variable = I
Wend
Write to Text File
  file = $EXEDIR$$OUT$
  text = $SILENT$|$SUPPORTDIR$|$TARGETDIR$|$TITLE$|$EXEDIR$
KYS
build_setup "$work/startup.kys" "$work/startup.exe"
field() { sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$work/$1" | cut -d'|' -f"$2"; }

exit_code "$work/startup.exe" /S OUT=s.txt >/dev/null
exit_code "$work/startup.exe" -qn OUT=qn.txt >/dev/null
[ "$(field s.txt 1)" = TRUE ] && [ "$(field qn.txt 1)" = TRUE ] && pass "/S and -qn are silent" ||
  fail "silent: '$(field s.txt 1)' '$(field qn.txt 1)'"

exit_code "$work/startup.exe" /s OUT=t.txt 'TARGETDIR=C:\App' TITLE=X >/dev/null
exit_code "$work/startup.exe" /s OUT=u.txt '/TARGETDIR=C:\Other' >/dev/null
[ "$(field t.txt 3)" = 'C:\App' ] && pass "TARGETDIR=C:\\App defines it before the first command" ||
  fail "TARGETDIR pair: '$(field t.txt 3)'"
[ "$(field u.txt 3)" != 'C:\Other' ] && pass "/TARGETDIR=... is no pair" || fail "/TARGETDIR taken as a pair"
[ "$(field t.txt 4)" = X ] && [ "$(field u.txt 4)" = Startup ] && pass "TITLE=X overrides the title" ||
  fail "TITLE: '$(field t.txt 4)' '$(field u.txt 4)'"
[ "$(field u.txt 5)" = "$(winpath "$work")\\" ] && pass "EXEDIR $(field u.txt 5)" || fail "EXEDIR '$(field u.txt 5)'"

# The engine marks itself as a host application (not offered for pinning).
wine_run reg query 'HKCR\Applications\startup.exe' /v IsHostApp 2>/dev/null | tr -d '\r' | grep -q 'IsHostApp.*REG_SZ' &&
  pass "HKCR\\Applications\\startup.exe has IsHostApp" || fail "no IsHostApp value for startup.exe"

# Two engines at the same moment get different support folders.
exit_code "$work/startup.exe" /s OUT=one.txt LOOPS=300000 >/dev/null &
first=$!
exit_code "$work/startup.exe" /s OUT=two.txt LOOPS=300000 >/dev/null &
second=$!
wait $first $second
one=$(field one.txt 2) two=$(field two.txt 2)
[[ "$one" == *\\kyt[0-9]*\\ && "$two" == *\\kyt[0-9]*\\ && "$one" != "$two" ]] &&
  pass "two engines started together use $one and $two" || fail "support folders '$one' and '$two'"
linux() { echo "$(wine_prefix)/drive_c/$(echo "${1#C:\\}" | tr '\\' /)"; }
[ -n "$one" ] && [ ! -e "$(linux "$one")" ] && [ ! -e "$(linux "$two")" ] &&
  pass "both support folders are gone after the runs" || fail "a support folder was left: $(linux "$one")"
finish
