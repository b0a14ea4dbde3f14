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
# DLL it cannot load with E_ACCESSDENIED; Windows passes the loader's error.)
declare -A says
while IFS='|' read -r name text; do says[$name]+=${says[$name]:+$'\n'}$text; done <<'EOF'
handler|ok      handler: HKEY_LOCAL_MACHINE\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names kezthumb's class
handler-user|ok      handler: HKEY_CURRENT_USER\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names kezthumb's class
handler-other|problem handler: HKEY_LOCAL_MACHINE\Software\Classes\.kez\shellex\{e357fccd-a995-4576-b01f-234630154e96} names another program's class {0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E} (not registered): Explorer asks it, not kezthumb
class|ok      class: HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}
class-user|ok      class: HKEY_CURRENT_USER\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}
dll|ok      DLL: C:\Program Files\KezThumb\kezthumb.dll
dll-missing|problem DLL: C:\Program Files\KezThumb\kezthumb.dll does not exist: moved or deleted (install kezthumb again)
dll-folder|problem DLL: C:\Program Files\KezThumb\kezthumb.dll is a folder, not a DLL (install kezthumb again)
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
dll_file="$drive_c/Program Files/KezThumb/kezthumb.dll"
explorer_advanced='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Advanced'

report "machine-wide" 0 "" handler class dll model arch loads settings cache
report "a good document" 0 "$good" handler class dll model arch loads settings good cache
check "kezthumb --check: the PNG beside the document equals the Linux tool's" \
  cmp -s "$cases/painting.kez.png" "$work/linux/painting.kez-256.png"
rm -f "$cases/painting.kez.png"
report "a damaged document" 1 "$damaged" handler class dll model arch loads settings damaged
reg_quiet add "$explorer_advanced" /v IconsOnly /t REG_DWORD /d 1 /f
report "icons only" 1 "" handler class dll model arch loads icons-only
reg_quiet delete "$explorer_advanced" /v IconsOnly /f
reg_quiet add "HKCR\\.kez\\shellex\\$handler_id" /ve /d "$other_class" /f
report "another program's handler" 1 "" handler-other class dll model arch loads settings
regsvr32 0 /s "$dllwin"
mv "$dll_file" "$dll_file.away"
report "the DLL missing" 1 "" handler class dll-missing model load-fails settings
mkdir "$dll_file"
report "a folder where the DLL was" 1 "" handler class dll-folder model load-fails settings
rmdir "$dll_file"
if [ -f build/windows-arm64/src/dll/kezthumb.dll ]; then
  cp build/windows-arm64/src/dll/kezthumb.dll "$dll_file"
  report "the ARM64 DLL" 1 "" handler class dll model arch-arm64 load-fails settings
else
  echo "   the ARM64 DLL is missing (scripts/build-windows arm64): its state is not checked"
fi
mv -f "$dll_file.away" "$dll_file"
# A file that is there but fails to read (Linux's memory file).
reg_quiet add 'HKLM\Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}\InprocServer32' /ve \
  /d 'Z:\proc\self\mem' /f
report "a DLL that cannot be read" 1 "" handler class dll-unreadable model arch-unreadable load-fails settings
regsvr32 0 /s "$dllwin"
# Registered under the machine's ProgID for ".kez", which the user's ".kez"
# overrides since.
regsvr32 0 /u /s "$dllwin"
reg_quiet add 'HKCR\.kez' /ve /d KezDoc.1 /f
regsvr32 0 /s "$dllwin"
reg_quiet add 'HKCU\Software\Classes\.kez' /ve /d OtherPaint.Document /f
report "a ProgID no longer used" 1 "" progid class dll model arch loads settings
regsvr32 0 /u /s "$dllwin"
for key in 'HKCR\.kez' 'HKCR\KezDoc.1' 'HKCU\Software\Classes\.kez'; do reg_quiet delete "$key" /f; done
regsvr32 0 /s "$dllwin"
# Per user; Wine's COM reads the machine's classes alone, so the class is
# copied there for loading (the report names the user's, which hides it).
regsvr32 0 /u /s "$dllwin"
regsvr32 0 /s /n /i:user "$dllwin"
class_key="Software\\Classes\\CLSID\\{09533617-4B9F-4F3C-8643-8A14BF00759D}"
reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
report "per user" 0 "" handler-user class-user dll model arch loads settings cache
reg_quiet delete "HKLM\\$class_key" /f
regsvr32 0 /u /s /n /i:user "$dllwin"
regsvr32 0 /s "$dllwin"

# ------------------------------------------------------------- installer
step "installer"
# The packages of the programs just built and, in $work, a rebuild of the same
# version and a newer version.
version=$(sed -n 's/^project(kezthumb VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
newer=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$version")
package_arches=$([ -f build/windows-arm64/src/dll/kezthumb.dll ] && echo all || echo x64)
packages=$root/build/packages
for made in "rebuild $version" "newer $newer"; do
  read -r name made_version <<< "$made"
  KEZ_WINDOWS_TARGETS=none KEZ_PACKAGE_VERSION=$made_version KEZ_PACKAGE_BUILD=$name \
    scripts/package-windows x64 >/dev/null
  mv "$packages/kezthumb-$made_version-x64.msi" "$work/$name.msi"
done
KEZ_WINDOWS_TARGETS=none scripts/package-windows "$package_arches" >/dev/null
old_msi=$packages/kezthumb-$version-x64.msi
rebuild_msi=$work/rebuild.msi
new_msi=$work/newer.msi
upgrade_code='{1C2A4F22-F621-41D9-BDE2-7E95A74CBC88}'
msiexec() {  # msiexec WANT_EXIT ARGS...: quiet, no administrator asked for
  local want=$1
  shift
  wine_run 120 msiexec "$@" /qn
  check "msiexec $*: exit $rc (want $want)" test "$rc" -eq "$want"
}
reg_text() {  # reg_text KEY: the key and everything below it as text, or nothing
  local file=$work/export.reg
  rm -f "$file"
  timeout 60 wine reg export "$1" "$(winpath "$file")" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
}
reg_value() {  # reg_value KEY NAME: that string value, or nothing
  timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}
property() { msiinfo export "$1" Property | awk -v p="$2" '$1 == p { print $2 }' | tr -d '\r'; }
build_folder() { msiinfo export "$1" Directory | awk -F'\t' '$1 == "BUILDDIR" { sub(/.*\|/, "", $3); print $3 }' | tr -d '\r'; }
programs() { (cd "$installed" 2>/dev/null && find . -type f | sort | cut -c3- | xargs); }
products() {  # products MSI: that package's product alone, per user, as Windows Installer lists it
  client 30 products "$upgrade_code" "$(property "$1" ProductCode)" "$(property "$1" ProductVersion)" \
    "$installed_win\\$(build_folder "$1")\\"
}
# wine exits with the low byte of the installer's code: 1633 (another
# processor's package) is 97.
other_processor=97

# The validation rules of a per-user package, on both packages; and each rule
# finds the fault it is for in a copy of the package given that fault.
for msi in "$old_msi" $([ "$package_arches" = x64 ] || echo "$packages/kezthumb-$version-arm64.msi"); do
  check "packages: $(basename "$msi") keeps the per-user validation rules" python3 tests/windows/msi_rules.py "$msi"
done
while IFS='|' read -r rule fault change; do
  cp "$old_msi" "$work/faulty.msi"
  eval "msibuild \"\$work/faulty.msi\" $change"
  python3 tests/windows/msi_rules.py "$work/faulty.msi" > "$work/faulty.out" || true
  check "packages: $rule finds $fault" grep -q "^FAIL $rule:" "$work/faulty.out"
done <<'RULES'
ICE38|the handler keyed on its file|-q "UPDATE Component SET Attributes = 256 WHERE Component = 'Handler'"
ICE61|a newer version removed|-q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{1C2A4F22-F621-41D9-BDE2-7E95A74CBC88}', '99.0.0', 1, 'WIX_UPGRADE_DETECTED')"
ICE64|the build's folder left behind|-q "DELETE FROM RemoveFile WHERE FileKey = 'RemoveBuildDir'"
ICE80|a 32-bit template|-s kezthumb developers 'Intel;1033'
ICE91|ALLUSERS no longer refused|-q "DELETE FROM LaunchCondition WHERE Condition = 'Installed OR NOT ALLUSERS'"
ICE105|a custom action asking for elevation|-q "UPDATE CustomAction SET Type = 2099"
RULES
check "packages: ARPSIZE is the programs' size in KiB" \
  test "$(property "$old_msi" ARPSIZE)" -eq $(( ($(stat -c %s "$dll") + $(stat -c %s "$exe") + 1023) / 1024 ))

# The class comes from the package alone, and another program already owns
# ".kez" for this user: a ProgID, and a preview handler of its own.
regsvr32 0 /u /s "$dllwin"
other_class='{0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E}'
reg_quiet add 'HKCU\Software\Classes\.kez' /ve /d OtherPaint.Document /f
reg_quiet add 'HKCU\Software\Classes\.kez\shellex\{8895b1c6-b41f-4c1c-a562-0d564250836f}' /ve /d "$other_class" /f
reg_quiet add 'HKCU\Software\Classes\OtherPaint.Document' /ve /d 'Other paint document' /f
reg_quiet add "HKCU\\Software\\Classes\\CLSID\\$other_class\\InprocServer32" /ve /d 'C:\other\preview.dll' /f
reg_text 'HKCU\Software\Classes' > "$work/classes-before.txt"
reg_text 'HKLM\Software\Classes' > "$work/machine-before.txt"
# Both keys exist: an empty text is a failed export, which would compare equal.
check "installer: the classes read before the install" test -s "$work/classes-before.txt" -a -s "$work/machine-before.txt"
(cd "$WINEPREFIX/drive_c" && find users | sort) > "$work/files-before.txt"
local_app_data=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
installed_win="$local_app_data\\Programs\\kezthumb"
installed=$(timeout 60 winepath -u "$installed_win" 2>/dev/null)
old=$(build_folder "$old_msi")
rebuilt=$(build_folder "$rebuild_msi")
new=$(build_folder "$new_msi")

# Per machine, the classes would be every user's and the files one user's.
check "installer: ALLUSERS=1 refused, with the package's message" client 120 refused "$(winpath "$old_msi")" \
  ALLUSERS=1 "kezthumb installs for the current user only: run the package again without ALLUSERS."
check "installer: nothing installed by the refused package" client 30 products "$upgrade_code"

# On a PC whose system records an ARM64 processor the x64 package is refused,
# naming the ARM64 one.
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
check "installer: refused on ARM64, with the package's message" client 120 refused "$(winpath "$old_msi")" "" \
  "This package is for x64 PCs, and this one has an ARM64 processor: install kezthumb-$version-arm64.msi instead."
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
check "installer: no files on ARM64" test -z "$(programs)"
msiexec 0 /i "$(winpath "$old_msi")"
check "installer: the DLL and kezthumb.exe in $installed_win\\$old" \
  test "$(programs)" = "$old/kezthumb.dll $old/kezthumb.exe"
check "installer: installed DLL equals the build's" cmp -s "$installed/$old/kezthumb.dll" "$dll"
check "installer: installed kezthumb.exe equals the build's" cmp -s "$installed/$old/kezthumb.exe" "$exe"
check "installer: registry entries" client 30 registry user .kez present "$installed_win\\$old\\kezthumb.dll"
check "installer: nothing new under HKLM\\Software\\Classes" \
  cmp -s "$work/machine-before.txt" <(reg_text 'HKLM\Software\Classes')
check "installer: the product" products "$old_msi"
# Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine's COM reads
# the machine's alone, so the installed class is copied there for this run.
class_key="Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}"
reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
check "installer: thumbnails through the installed DLL equal the Linux build's" \
  client 600 compare "$(winpath "$cases")"

# A rebuild of the same version, by a plain install.
msiexec 0 /i "$(winpath "$rebuild_msi")"
check "rebuild: its product alone" products "$rebuild_msi"
check "rebuild: one copy of the programs, in $rebuilt" test "$(programs)" = "$rebuilt/kezthumb.dll $rebuilt/kezthumb.exe"
check "rebuild: registry entries" client 30 registry user .kez present "$installed_win\\$rebuilt\\kezthumb.dll"
# A repair, as "Apps & features" offers it: never refused, and what the next
# installation cleans up stays the build before (never the build's own files).
msiexec 0 /i "$(winpath "$rebuild_msi")" REINSTALL=ALL REINSTALLMODE=omus
check "repair: the programs in $rebuilt" test "$(programs)" = "$rebuilt/kezthumb.dll $rebuilt/kezthumb.exe"
check "repair: $old still the build to clean up" \
  test "$(reg_value 'HKCU\Software\kezthumb' Previous)" = "$installed_win\\$old\\"

# A newer version while a host, as Explorer does, keeps the rebuild's DLL
# loaded from before the upgrade until after it.
reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
signal=$work/upgraded
rm -f "$signal"
(
  wine_run 900 "$work/kezclient.exe" serves "$pool_document" 64 "$installed_win\\$rebuilt\\kezthumb.dll" \
    "$(winpath "$signal")"
  echo "exit $rc"
) > "$work/host.out" 2>&1 &
host_pid=$!
for _ in $(seq 600); do grep -q "serves: holding" "$work/host.out" && break; sleep 0.1; done
msiexec 0 /i "$(winpath "$new_msi")"
check "upgrade: $newer alone" products "$new_msi"
check "upgrade: registry entries" client 30 registry user .kez present "$installed_win\\$new\\kezthumb.dll"
check "upgrade: $new whole, of $rebuilt only the DLL the host holds" \
  test "$(programs)" = "$rebuilt/kezthumb.dll $new/kezthumb.dll $new/kezthumb.exe"
reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
check "upgrade: a new host gets the class from $new" \
  client 60 serves "$pool_document" 64 "$installed_win\\$new\\kezthumb.dll"
touch "$signal"
wait "$host_pid" || true
sed 's/^/   /' "$work/host.out"
check "upgrade: the first host kept its DLL and served from it again after the upgrade" grep -qx "exit 0" "$work/host.out"
reg_quiet delete "HKLM\\$class_key" /f

check "downgrade: refused, with the package's message" client 120 refused "$(winpath "$old_msi")" "" \
  "A newer version of kezthumb is already installed."
# Removing it is never refused, on ARM64 neither.
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
msiexec 0 /x "$(winpath "$new_msi")"
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
check "uninstall: HKCU\\Software\\Classes as before the install (the other program's .kez kept)" \
  cmp -s "$work/classes-before.txt" <(reg_text 'HKCU\Software\Classes')
check "uninstall: no HKCU\\Software\\kezthumb" test -z "$(reg_text 'HKCU\Software\kezthumb')"
check "uninstall: no product" client 30 products "$upgrade_code"
# The DLL the host held goes too: the uninstall removes what is left of the
# build the last one replaced.
check "uninstall: the user's files as before the install" \
  cmp -s "$work/files-before.txt" <(cd "$WINEPREFIX/drive_c" && find users | sort)
for key in .kez OtherPaint.Document "CLSID\\$other_class"; do reg_quiet delete "HKCU\\Software\\Classes\\$key" /f; done
# The registration the later steps use.
regsvr32 0 /s "$dllwin"

if [ "$package_arches" = all ]; then
  arm_msi=$packages/kezthumb-$version-arm64.msi
  summary_info=$(msiinfo suminfo "$arm_msi")
  for row in "Template: Arm64;1033" "Version: 500 (1f4)" "Source: 10 (a)"; do
    check "arm64 package: $row" grep -qxF "$row" <<< "$summary_info"
  done
  # The same tables as the x64 one but for the files' sizes and the build's
  # folder, named for its architecture.
  same() { msiinfo export "$1" "$2" | cut -f"$([ "$2" = File ] && echo 1-3 || echo 1-)" |
    sed -E "s/^(BUILDDIR\tINSTALLDIR\t)[0-9A-F]{8}\|$version-$3-/\1$version-/"; }
  for table in Registry File Directory RemoveFile Upgrade; do
    check "arm64 package: $table table as in the x64 one" \
      cmp -s <(same "$arm_msi" $table arm64) <(same "$old_msi" $table x64)
  done
  check "packages: the same version of the other architecture is replaced (upper bound inclusive)" \
    grep -qP '\t'"$version"'\t\t513\t\tWIX_UPGRADE_DETECTED' <(msiinfo export "$arm_msi" Upgrade)
  check "packages: the programs' versions in the File table" test "$(msiinfo export "$arm_msi" File |
    awk -F'\t' 'NR > 3 { print $5 }' | sort -u)" = "$version.0"
  check "arm64 package: every component 64-bit" \
    test -z "$(msiinfo export "$arm_msi" Component | awk -F'\t' 'NR > 3 && int($4 / 256) % 2 == 0')"
  rm -rf "$work/arm64-files"
  (cd "$work" && msiextract -C arm64-files "$arm_msi" >/dev/null)
  check "arm64 package: holds the ARM64 DLL" \
    cmp -s "$(find "$work/arm64-files" -name kezthumb.dll)" build/windows-arm64/src/dll/kezthumb.dll
  msiexec $other_processor /i "$(winpath "$arm_msi")"
fi
