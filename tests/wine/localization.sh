# Localization under Wine and a real X display: the language dialog with its
# preselection, OK and Cancel, the silent choice, the engine's messages from
# the tables behind kyt.lib, and the language remembered for a patch run.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work localization)
start_display

cat > "$work/lingo.kys" <<'KYS'
%guid = {33333333-2222-3333-4444-555555555555}
%title = Lingo
%language_dialog = TRUE
%default_language = French
Set Variable
  variable = GREETING
  value = Hello
Write to Text File
  file = C:\lingo-report.txt
  text = $LANGUAGE$|$GREETING$|$ENGINECACHE$
KYS
# The column files name the Set Variable by its identifier.
wine_run "$KYT_BUILD" --payload "$(winpath "$work/payload.txt")" "$(winpath "$work/lingo.kys")"
id=$(python3 -c 'import sys; t=open(sys.argv[1],encoding="utf-8-sig",newline="").read().split("\r\n"); print(t[t.index("$")+1])' "$work/payload.txt")
mkdir -p "$work/res"
column() { printf '%s\r\n' "${@:2}" > "$work/res/$1"; }
column Lingo.mtx "$id" "$id:2"
column translations.Map lingo.kys lingo.kys
column translations.Original GREETING Hello
column translations.German GREETING Hallo
column translations.French GREETING Bonjour
build_setup "$work/lingo.kys" "$work/lingo.exe" "$work/res"
report=$(wine_prefix)/drive_c/lingo-report.txt
field() { sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$report" | tail -n1 | cut -d'|' -f"$1"; }

# Interactive: the dialog preselects the setup's default (Wine's user
# language, English, is not offered); one step down in the list is German.
rm -f "$report"
wine_run "$work/lingo.exe" >/dev/null 2>&1 &
runner=$!
window=$(wait_window '^Select Setup Language$')
if [ -n "$window" ]; then
  pass "the language dialog appears"
  sleep 0.5
  import -window root "$work/language-dialog.png" 2>/dev/null || true
  xdotool key --window "$window" Down Return
else
  fail "no language dialog"
fi
wait $runner || true
[ "$(field 1)|$(field 2)" = "German|Hallo" ] && pass "the chosen language translates the script" ||
  fail "after choosing German: '$(cat "$report" 2>/dev/null)'"
cache=$(field 3)

# Cancel ends the run before the first command.
rm -f "$report"
wine_run "$work/lingo.exe" >/dev/null 2>&1 &
runner=$!
window=$(wait_window '^Select Setup Language$')
[ -n "$window" ] && xdotool key --window "$window" Escape
wait $runner || true
[ ! -e "$report" ] && pass "cancelling the language dialog ends the run" || fail "the script ran after Cancel"

# Silent: no dialog, the preselection is taken.
rm -f "$report"
code=$(timeout 60 bash -c "$(declare -f exit_code winpath wine_run); KYT_WINE='$KYT_WINE' KYT_RUNNER='$KYT_RUNNER' exit_code '$work/lingo.exe' /s")
[ "$code" = 0 ] && [ "$(field 1)|$(field 2)" = "French|Bonjour" ] && pass "silent runs take the preselected language" ||
  fail "silent: code '$code', report '$(cat "$report" 2>/dev/null)'"

# A patch beside the setup: the remembered language, no dialog.
lan_folder=$(wine_prefix)/drive_c/$(echo "${cache#C:\\}" | tr '\\' /)
mkdir -p "$lan_folder"
printf 'German\r\n' > "$lan_folder/lingo.lan"
: > "$work/lingo.msp"
rm -f "$report"
code=$(timeout 60 bash -c "$(declare -f exit_code winpath wine_run); KYT_WINE='$KYT_WINE' KYT_RUNNER='$KYT_RUNNER' exit_code '$work/lingo.exe'")
[ "$code" = 0 ] && [ "$(field 1)|$(field 2)" = "German|Hallo" ] && pass "a patch run reads the remembered language" ||
  fail "patch run: code '$code', report '$(cat "$report" 2>/dev/null)'"
rm -f "$work/lingo.msp" "$lan_folder/lingo.lan"

# The engine's own messages from the tables behind kyt.lib: a first block
# whose line 89 is the dialog's caption.
python3 - "$work/kyt.lib" <<'PY'
import sys
lines = [''] * 126
lines[88] = 'Sprache w\u00e4hlen'
with open(sys.argv[1], 'ab') as f:
    f.write(''.join(l + '\r\n' for l in lines).encode('utf-8'))
PY
wine_run "$work/lingo.exe" >/dev/null 2>&1 &
runner=$!
window=$(wait_window '^Sprache w')
if [ -n "$window" ]; then
  pass "the engine's messages come from the tables behind kyt.lib"
  xdotool key --window "$window" Escape
else
  fail "the dialog caption did not come from kyt.lib's tables"
  xdotool search --name 'Select Setup Language' key Escape 2>/dev/null || true
fi
wait $runner || true
temp=$(temp_folder)
[ ! -e "$temp/lang.loc" ] && pass "lang.loc is removed after reading" || fail "lang.loc left in the temporary folder"
finish
