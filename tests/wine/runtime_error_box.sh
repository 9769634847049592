# Under a real X display: a runtime error of an interactive run shows the
# "Runtime error in setup script:" box; a silent run and a failed script check
# show no window at all (a box would block the process until answered).
. "$(dirname "$0")/lib.sh"
work=$(fresh_work runtime_box)
start_display

cat > "$work/runtime.kys" <<'KYS'
%guid = {22222222-2222-3333-4444-555555555555}
%title = Box Test
Set Variable
  variable = V
  value = a.b
# line 7 below is the failing command
If
  variable = V
  operator = 6
  value = 1.0
End
KYS
build_setup "$work/runtime.kys" "$work/runtime.exe"

# Silent: must end on its own, quickly, with no window.
start=$SECONDS
code=$(timeout 60 bash -c "$(declare -f exit_code winpath wine_run); KYT_WINE='$KYT_WINE' KYT_RUNNER='$KYT_RUNNER' exit_code '$work/runtime.exe' /s")
[ "$code" = 11 ] && pass "silent runtime error ends by itself ($((SECONDS - start)) s)" || fail "silent run: '$code'"

# Interactive: the box appears with the report; answering it ends the run.
wine_run "$work/runtime.exe" >/dev/null 2>&1 &
runner=$!
window=$(wait_window '^Box Test - Quorvane Wizard$')
if [ -n "$window" ]; then
  pass "interactive runtime error shows a box titled 'Box Test - Quorvane Wizard'"
  import -window root "$work/runtime-error-box.png" 2>/dev/null || true
  xdotool key --window "$window" Return
else
  fail "no runtime error box appeared"
fi
for _ in $(seq 100); do kill -0 $runner 2>/dev/null || break; sleep 0.1; done
kill -0 $runner 2>/dev/null && { fail "the engine did not end after the box was answered"; kill $runner; }

# A script that fails the check, interactive: no window, exit code 314.
python3 - "$work/runtime.exe" "$work/broken.exe" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
data = data.replace(b'\r\nEnd\r\n$\r\n', b'\r\nEnx\r\n$\r\n', 1)
open(sys.argv[2], 'wb').write(data)
PY
cp "$work/runtime.res" "$work/broken.res"
code=$(timeout 60 bash -c "$(declare -f exit_code winpath wine_run); KYT_WINE='$KYT_WINE' KYT_RUNNER='$KYT_RUNNER' exit_code '$work/broken.exe'")
[ "$code" = 314 ] && pass "failed check ends with 314 without a window" || fail "failed check: '$code'"
finish
