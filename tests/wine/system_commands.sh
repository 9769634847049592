# Commands that ask Windows: environment, file versions, paths, temporary
# files and well-known folders, run by a built setup and checked here.
. "$(dirname "$0")/lib.sh"
work=$(fresh_work system_commands)
mkdir -p "$work/existing folder"
cat > "$work/system.kys" <<'KYS'
%guid = {44444444-2222-3333-4444-555555555555}
Set Variable
  variable = OUT
  value = $EXEDIR$results.txt
Get Environment
  name = KYT_TEST_VALUE
  variable = ONE
Write to Text File
  file = $OUT$
  text = env=$ONE$
Get Environment
  name = ""
  variable = ALL
Set Variable
  variable = FOUND
  value = no
Parse String
  source = $ALL$
  pattern = KYT_TEST_VALUE=hello there
  first = BEFORE
  second = AFTER
  mode = 0
If
  variable = BEFORE
  operator = 0
  value = $ALL$
  negate = TRUE
  Set Variable
    variable = FOUND
    value = yes
End
Write to Text File
  file = $OUT$
  text = block=$FOUND$
Get File Version
  file = $EXEFILE$
  variable = V
Write to Text File
  file = $OUT$
  text = engine=$V$
Get File Version
  file = $EXEDIR$\\results.txt
  variable = V
Write to Text File
  file = $OUT$
  text = plain=$V$
Check File Version
  variable = NEWER
  file = $EXEFILE$
  compare_file = FALSE
  version = 0.1
Write to Text File
  file = $OUT$
  text = newer=$NEWER$
Set Variable
  variable = P
  value = existing folder
Convert Path
  variable = P
Write to Text File
  file = $OUT$
  text = long=$P$
Set Variable
  variable = P
  value = existing folder
Convert Path
  variable = P
  short = TRUE
Write to Text File
  file = $OUT$
  text = short=$P$
Set Variable
  variable = P
  value = no such folder
Convert Path
  variable = P
Write to Text File
  file = $OUT$
  text = missing=[$P$]
Get Temporary File
  variable = T
Write to Text File
  file = $OUT$
  text = temp=$T$
Get Folder Location
  variable = F
  folder = 25
Write to Text File
  file = $OUT$
  text = windows=$F$
Get Folder Location
  variable = F
  folder = 23
Write to Text File
  file = $OUT$
  text = system=$F$
Get Folder Location
  variable = F
  folder = 15
Write to Text File
  file = $OUT$
  text = appdata=$F$
Get Folder Location
  variable = F
  folder = 29
Write to Text File
  file = $OUT$
  text = none=[$F$]
Write to Text File
  file = $OUT$
  text = support=$SUPPORTDIR$
Write to Text File
  file = $OUT$
  text = cache=$ENGINECACHE$
KYS
build_setup "$work/system.kys" "$work/system.exe"
code=$(KYT_TEST_VALUE="hello there" exit_code "$work/system.exe" /s)
[ "$code" = 0 ] || fail "exit code $code"
results=$(sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' "$work/results.txt")
echo "$results"
value() { grep "^$1=" <<<"$results" | head -n1 | cut -d= -f2-; }
check() { [ "$(value "$1")" = "$2" ] && pass "$1 = $2" || fail "$1 is '$(value "$1")', expected '$2'"; }
check env "hello there"
check block yes
check engine "$KYT_VERSION"
check plain 0.0.0.0
check newer TRUE
winwork=$(winpath "$work")
long=$(value long)
[ "${long,,}" = "${winwork,,}\\existing folder" ] && pass "long path $long" || fail "long path '$long', expected '$winwork\\existing folder'"
short=$(value short)
[ -n "$short" ] && [[ "$short" != *" "* ]] && pass "short path $short" || fail "short path '$short'"
check missing "[]"
temp=$(value temp)
tempname=${temp##*\\}
[[ "${tempname,,}" == kyt*.tmp ]] && pass "temporary file $tempname" || fail "temporary file '$temp'"
unix_temp="$(temp_folder)/$tempname"
[ -f "$unix_temp" ] && [ ! -s "$unix_temp" ] && pass "temporary file exists and is empty" || fail "no empty file at $unix_temp"
rm -f "$unix_temp"
check windows 'C:\windows\'
check system 'C:\windows\system32\'
appdata=$(value appdata)
[[ "$appdata" == C:\\users\\*\\AppData\\Roaming\\ ]] && pass "appdata $appdata" || fail "appdata '$appdata'"
check none "[]"
support=$(value support)
[[ "$support" =~ ^C:\\users\\[^\\]+\\Temp\\kyt[0-9]+\\$ ]] && pass "support folder $support" || fail "support folder '$support'"
name=${support%\\}; name=${name##*\\}
[ -n "$name" ] && [ ! -e "$(temp_folder)/$name" ] && pass "the support folder is gone after the run" ||
  fail "support folder $name left behind"
[[ "$(value cache)" == *'\{'*'}\' ]] && pass "engine cache $(value cache)" || fail "engine cache '$(value cache)'"
finish
