# The engine, started from a folder full of decoy DLLs named like the system
# libraries it loads, must load none of them, even with Wine told to prefer
# native DLLs of those names. The same engine built without hardening does
# load a decoy: the test can fail.
. "$(dirname "$0")/lib.sh"
# version.dll is left out: Wine's own user32 imports it, so Wine loads it while
# it maps the process, before any code of ours runs; on Windows user32 is a
# known DLL whose imports never come from the program's folder.
decoys="dwmapi uxtheme msi"
export WINEDLLOVERRIDES="$(echo $decoys | tr ' ' ','),=n,b;mscoree,mshtml=;winemenubuilder.exe=d"

cat > "$KYT_WORK/hardening.kys" <<'KYS'
%guid = {33333333-2222-3333-4444-555555555555}
Set Variable
  variable = A
  value = $GLASS$
KYS
mkdir -p "$KYT_WORK"
KYT_SETUP_SAVED=$KYT_SETUP
for variant in hardened unhardened; do
  work=$(fresh_work "decoys_$variant")
  KYT_SETUP=$KYT_SETUP_SAVED
  [ $variant = unhardened ] && KYT_SETUP=$KYT_SETUP_UNHARDENED
  build_setup "$KYT_WORK/hardening.kys" "$work/setup.exe"
  for name in $decoys; do cp "$KYT_DECOY" "$work/$name.dll"; done
  code=$(exit_code "$work/setup.exe" /s)
  [ "$code" = 0 ] || fail "$variant engine: exit code $code"
  loaded=$(cd "$work" && ls *.loaded 2>/dev/null | tr '\n' ' ' || true)
  if [ $variant = hardened ]; then
    [ -z "$loaded" ] && pass "hardened engine loads no decoy" || fail "hardened engine loaded: $loaded"
  else
    [ -n "$loaded" ] && pass "unhardened engine loads decoys ($loaded): the test can fail" ||
      fail "the unhardened engine loaded no decoy, so this test could not catch a regression"
  fi
done
finish
