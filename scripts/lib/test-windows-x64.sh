# Sourced by scripts/test-windows for the x64 build alone, with Wine set up
# for x64 (use_wine x64) and the DLL registered machine-wide.

step "notice on a virtual display"
# The desktop process keeps the display it started with: a server of its own.
wineserver -k
timeout 60 wineserver -w
display=""
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=:$n; break; }
done
Xvfb "$display" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
out=$work/notice.out
(
  export DISPLAY=$display
  wine_run 90 "$work/kezclient.exe" notice "$(winpath "$cases/truncated-100.kez")" 256
  echo "exit $rc" >> "$out"
) > "$out" 2>&1 &
notice_pid=$!
for _ in $(seq 600); do grep -q "notice read" "$out" && break; sleep 0.1; done
window=$(DISPLAY=$display xdotool search --name '^xxx$' 2>/dev/null | head -1 || true)
check "notice: an X window titled \"xxx\"" test -n "$window"
[ -z "$window" ] || DISPLAY=$display xdotool key --window "$window" Return 2>/dev/null
wait "$notice_pid" || true
sed 's/^/   /' "$out"
check "notice: shown, read, dismissed with Return, S_FALSE" grep -qx "exit 0" "$out"
kill "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=""
wineserver -k
timeout 60 wineserver -w
wineserver -p

# ------------------------------------------------------------ paged memory
step "paged tests"
# From the source tree: the tests read samples/ by their Unix path (drive Z:).
wine_run 300 build/windows-x64/tests/paged_tests.exe > "$work/paged.out" 2>&1
grep -E '^\[  (PASSED|FAILED)  \]' "$work/paged.out" | sed 's/^/   /' || true
[ "$rc" -eq 0 ] || tail -n 60 "$work/paged.out"
check "paged tests under Wine (exit $rc)" test "$rc" -eq 0

# ------------------------------------------------------------ kezthumb.exe
step "kezthumb.exe beside the Linux tool"
mkdir -p "$work/linux" "$work/windows"
while read -r document size; do
  input=$cases/$document
  name=$document-$size.png
  lrc=0
  build/default/tools/kezthumb/kezthumb -s "$size" "$input" "$work/linux/$name" 2> "$work/linux/$name.err" || lrc=$?
  wine_run 60 "$exe" -s "$size" "$(winpath "$input")" "$(winpath "$work/windows/$name")" 2> "$work/windows/$name.err"
  # The reason after the input's path, without Windows' line ends.
  lreason=$(sed "s|^kezthumb: $input: ||" "$work/linux/$name.err")
  wreason=$(tr -d '\r' < "$work/windows/$name.err" | sed "s|^kezthumb: .*$document: ||")
  if [ "$lrc" -ne "$rc" ] || [ "$lreason" != "$wreason" ]; then
    check "kezthumb $document -s $size: exit $rc \"$wreason\", Linux exit $lrc \"$lreason\"" false
  elif [ "$lrc" -ne 0 ]; then
    check "kezthumb $document -s $size: exit $rc \"$wreason\" on both" true
  else
    check "kezthumb $document -s $size: exit 0, PNG bytes equal ($(stat -c %s "$work/linux/$name") bytes)" \
      cmp -s "$work/linux/$name" "$work/windows/$name"
  fi
done < <(awk '!seen[$1]++ { print $1, 256 } $1 == "painting.kez" && $2 != 256 { print $1, $2 }' "$cases/cases.txt")

# ------------------------------------------------------- kezthumb.exe --check
step "kezthumb.exe --check"
# Each state's report, whole and in order, from the lines named here; the
# DLL is registered machine-wide before and after. (Wine's COM answers any
# DLL it cannot load with E_ACCESSDENIED; Windows passes the loader's error.
# Wine runs every program as administrator: the registration's states of a
# program that is not are checked by the tool's own tests.)
declare -A says
while IFS='|' read -r name text; do says[$name]+=${says[$name]:+$'\n'}$text; done <<'EOF'
handler|ok      handler: HKEY_LOCAL_MACHINE\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names kezthumb's class
handler-user|ok      handler: HKEY_CURRENT_USER\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names kezthumb's class
handler-other|problem handler: HKEY_LOCAL_MACHINE\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names another program's class {0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E} (not registered): Explorer asks it, not kezthumb
class|ok      class: HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}
class-user|ok      class: HKEY_CURRENT_USER\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}
machine|note    registration: for every user of this PC (HKEY_LOCAL_MACHINE), which Explorer uses
both|note    registration: for you (HKEY_CURRENT_USER) and for every user (HKEY_LOCAL_MACHINE): Explorer uses yours, which hides the machine's; with User Account Control on, programs run as administrator, as this one is, use the machine's
user-alone|problem registration: for you alone (HKEY_CURRENT_USER): programs run as administrator, as this one is, do not see it, nor show thumbnails in their open and save dialogs; to have them too, remove kezthumb in Apps & features and install it for every user (msiexec /i with its package and ALLUSERS=1, from an administrator's Command Prompt)
load-unregistered|problem loading: CoCreateInstance failed: the class is not registered (0x80040154 REGDB_E_CLASSNOTREG)
dll|ok      DLL: C:\Program Files\KezThumbTest\kezthumb.dll
dll-missing|problem DLL: C:\Program Files\KezThumbTest\kezthumb.dll does not exist: moved or deleted (install kezthumb again)
dll-folder|problem DLL: C:\Program Files\KezThumbTest\kezthumb.dll is a folder, not a DLL (install kezthumb again)
dll-unreadable|ok      DLL: Z:\proc\self\mem
arch-unreadable|unsure  architecture: Z:\proc\self\mem cannot be read (Not ready): its processor cannot be told
model|ok      threading model: Apartment
arch|ok      architecture: the DLL is for x64, as this PC is
arch-arm64|problem architecture: the DLL is for ARM64, this PC is x64: Explorer cannot load it; install kezthumb-@version-x64.msi instead
loads|ok      loading: CoCreateInstance made kezthumb's handler (S_OK)
load-fails|problem loading: CoCreateInstance failed: access denied (0x80070005 E_ACCESSDENIED)
settings|ok      settings: thumbnails are on (no IconsOnly, DisableThumbnails or DisableThumbnailsOnNetworkFolders, for the user or the machine)
icons-only|problem settings: Explorer's "Always show icons, never thumbnails" is on (HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Advanced, IconsOnly = 1)
progid|note    .kez names the ProgID OtherPaint.Document (HKEY_CURRENT_USER)
progid|note    handler: HKEY_LOCAL_MACHINE\Software\Classes\KezDoc.1\shellex\{e357fccd-a995-4576-b01f-234630154e96} names kezthumb's class, but .kez names another ProgID for this user: Explorer does not look there
progid|problem handler: none: no .kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} nor OtherPaint.Document\shellex\{e357fccd-a995-4576-b01f-234630154e96} under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE\Software\Classes (install kezthumb again)
good|ok      document: @good: a 256 x 256 thumbnail, written to @good.png
damaged|problem document: @damaged: no thumbnail: damaged document or no preview stored in it
cache|note    cache: if Explorer still shows icons, it shows what it cached before; to make it forget, run in a Command Prompt:
cache|note      taskkill /f /im explorer.exe
cache|note      del /f /a /q "%LOCALAPPDATA%\Microsoft\Windows\Explorer\thumbcache_*.db"
cache|note      start explorer.exe
EOF
good=$(winpath "$cases/painting.kez")
report() {  # report STATE WANT_EXIT DOCUMENT LINE...: kezthumb --check [DOCUMENT] says those lines
  local state=$1 want=$2 document=$3 name expected=""
  shift 3
  for name in "$@"; do expected+=${says[$name]}$'\n'; done
  expected=${expected//@good/$good}
  expected=${expected//@damaged/$damaged}
  expected=${expected//@version/$(sed -n 's/^project(kezthumb VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)}
  printf '%s' "$expected" > "$work/check.want"
  wine_run 120 "$exe" --check ${document:+"$document"} > "$work/check.raw"
  tr -d '\r' < "$work/check.raw" > "$work/check.out"
  check "kezthumb --check, $state: exit $rc (want $want)" test "$rc" -eq "$want"
  check "kezthumb --check, $state: the report" cmp -s "$work/check.want" "$work/check.out"
  diff "$work/check.want" "$work/check.out" | sed 's/^/   /' || true
}
dll_file="$drive_c/Program Files/KezThumbTest/kezthumb.dll"
explorer_advanced='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Advanced'

report "machine-wide" 0 "" handler class machine dll model arch loads settings cache
report "a good document" 0 "$good" handler class machine dll model arch loads settings good cache
check "kezthumb --check: the PNG beside the document equals the Linux tool's" \
  cmp -s "$cases/painting.kez.png" "$work/linux/painting.kez-256.png"
rm -f "$cases/painting.kez.png"
report "a damaged document" 1 "$damaged" handler class machine dll model arch loads settings damaged
reg_quiet add "$explorer_advanced" /v IconsOnly /t REG_DWORD /d 1 /f
report "icons only" 1 "" handler class machine dll model arch loads icons-only
reg_quiet delete "$explorer_advanced" /v IconsOnly /f
reg_quiet add "HKCR\\.kez\\shellex\\$handler_id" /ve /d "$other_class" /f
report "another program's handler" 1 "" handler-other class machine dll model arch loads settings
regsvr32 0 /s "$dllwin"
mv "$dll_file" "$dll_file.away"
report "the DLL missing" 1 "" handler class machine dll-missing model load-fails settings
mkdir "$dll_file"
report "a folder where the DLL was" 1 "" handler class machine dll-folder model load-fails settings
rmdir "$dll_file"
if [ -f build/windows-arm64/src/dll/kezthumb.dll ]; then
  cp build/windows-arm64/src/dll/kezthumb.dll "$dll_file"
  report "the ARM64 DLL" 1 "" handler class machine dll model arch-arm64 load-fails settings
else
  echo "   the ARM64 DLL is missing (scripts/build-windows arm64): its state is not checked"
fi
mv -f "$dll_file.away" "$dll_file"
# A file that is there but fails to read (Linux's memory file).
reg_quiet add 'HKLM\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}\InprocServer32' /ve \
  /d 'Z:\proc\self\mem' /f
report "a DLL that cannot be read" 1 "" handler class machine dll-unreadable model arch-unreadable load-fails settings
regsvr32 0 /s "$dllwin"
# Registered under the machine's ProgID for ".kez", which the user's ".kez"
# overrides since.
regsvr32 0 /u /s "$dllwin"
reg_quiet add 'HKCR\.kez' /ve /d KezDoc.1 /f
regsvr32 0 /s "$dllwin"
reg_quiet add 'HKCU\Software\Classes\.kez' /ve /d OtherPaint.Document /f
report "a ProgID no longer used" 1 "" progid class machine dll model arch loads settings
regsvr32 0 /u /s "$dllwin"
for key in 'HKCR\.kez' 'HKCR\KezDoc.1' 'HKCU\Software\Classes\.kez'; do reg_quiet delete "$key" /f; done
regsvr32 0 /s "$dllwin"
# Per user alone, which a program run as administrator, as Wine runs every
# one, does not see; then the user's and the machine's (Wine's COM reads
# the machine's classes alone, as such a program does).
regsvr32 0 /u /s "$dllwin"
regsvr32 0 /s /n /i:user "$dllwin"
report "per user alone, run as administrator" 1 "" handler-user class-user user-alone dll model arch load-unregistered \
  settings
class_key="Software\\Classes\\CLSID\\{09533617-4B9F-4F3C-8643-8A14BF00759D}"
reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
report "per user and per machine" 0 "" handler-user class-user both dll model arch loads settings cache
reg_quiet delete "HKLM\\$class_key" /f
regsvr32 0 /u /s /n /i:user "$dllwin"
regsvr32 0 /s "$dllwin"

# ------------------------------------------------------------- installer
source scripts/lib/test-windows-installer.sh
