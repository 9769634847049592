# The overwrite question under a real X display: an interactive run that
# would replace an existing file asks with the five-button dialog titled
# "Overwrite"; Yes replaces the file, Cancel cancels the installation, which
# rolls back and keeps the old file.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work native_dialogs)
start_display
drive_c=$(wine_prefix)/drive_c
mkdir -p "$work/files" "$drive_c/KytAsk"
echo "new content" >"$work/files/ask.txt"
cat >"$work/ask.kys" <<'KYS'
%guid = {66666666-2222-3333-4444-555555555555}
%title = Ask
Set Variable
  variable = NATIVE_ENGINE
  value = TRUE
Set Variable
  variable = NATIVE_OVERWRITE_OLDER
  value = TRUE
Install Files
  source = ask.txt
  target = C:\KytAsk
Write to Text File
  file = C:\KytAsk\report.txt
  text = went on
KYS
build_product "$work" ask || fail "building the product"

ask() {  # ask KEY: runs the setup, answers the question with KEY
  printf 'old content\r\n' >"$drive_c/KytAsk/ask.txt"
  rm -f "$drive_c/KytAsk/report.txt"
  wine_run "$work/out/ask.exe" >/dev/null 2>&1 &
  local runner=$! window
  window=$(wait_window '^Overwrite$')
  if [ -n "$window" ]; then
    sleep 0.5
    import -window root "$work/overwrite-$1.png" 2>/dev/null || true
    xdotool key --window "$window" "$1"
  fi
  for _ in $(seq 150); do kill -0 $runner 2>/dev/null || break; sleep 0.2; done
  kill $runner 2>/dev/null || true
  [ -n "$window" ]
}
if ask Return; then
  [ "$(tr -d '\r' <"$drive_c/KytAsk/ask.txt")" = "new content" ] && [ -e "$drive_c/KytAsk/report.txt" ] &&
    pass "Yes in the Overwrite question replaces the file" || fail "after Yes: '$(cat "$drive_c/KytAsk/ask.txt")'"
else
  fail "no Overwrite question appeared"
fi
if ask Escape; then
  # Cancel ends the installation: the "Setup cancelled" box follows.
  box=$(wait_window 'Ask - Quorvane Wizard')
  [ -n "$box" ] && xdotool key --window "$box" Return
  sleep 2
  [ "$(tr -d '\r' <"$drive_c/KytAsk/ask.txt")" = "old content" ] && [ ! -e "$drive_c/KytAsk/report.txt" ] &&
    pass "Cancel in the Overwrite question stops and keeps the old file" ||
    fail "after Cancel: '$(cat "$drive_c/KytAsk/ask.txt")', report $( [ -e "$drive_c/KytAsk/report.txt" ] && echo written || echo absent)"
else
  fail "no Overwrite question appeared the second time"
fi
finish
