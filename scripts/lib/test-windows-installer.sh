# Sourced by scripts/lib/test-windows-x64.sh: the packages under Wine, per
# user and per machine. Wine takes a product's context from ALLUSERS alone
# (MSIINSTALLPERUSER is Windows Installer 5's), so every command passes it:
# empty for the user's product, whose default Wine does not know, and 1 for
# the machine's (Windows sets it itself for an installed product).
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
# The packages of this build are signed with a throw-away code-signing
# certificate, and installed signed below.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign-key.pem" -out "$work/sign-cert.pem" -days 2 \
  -subj "/CN=kezthumb throw-away test signing" -addext "extendedKeyUsage=codeSigning" \
  -addext "keyUsage=critical,digitalSignature" 2>/dev/null
openssl pkcs12 -export -inkey "$work/sign-key.pem" -in "$work/sign-cert.pem" -out "$work/sign.p12" \
  -passout pass:throw-away
KEZ_SIGN_PKCS12=$work/sign.p12 KEZ_SIGN_PASSWORD=throw-away KEZ_WINDOWS_TARGETS=none \
  scripts/package-windows "$package_arches" >/dev/null
old_msi=$packages/kezthumb-$version-x64.msi
rebuild_msi=$work/rebuild.msi
new_msi=$work/newer.msi
upgrade_code='{1C2A4F22-F621-41D9-BDE2-7E95A74CBC88}'
msiexec() {  # msiexec WANT_EXIT ARGS...: quiet; the shell's notifications traced into $work/shell.trace
  local want=$1 start
  shift
  start=$(date +%s.%N)
  WINEDEBUG=trace+shell wine_run 120 msiexec "$@" /qn 2> "$work/shell.trace"
  awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "   msiexec took %.1f s\n", b - a }'
  check "msiexec $*: exit $rc (want $want)" test "$rc" -eq "$want"
}
told() {  # told WHAT: the last msiexec told the shell that associations changed
  check "$1: the installer called SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL)" grep -q \
    'SHChangeNotify (0x08000000,0x00000000,0000000000000000,0000000000000000)' "$work/shell.trace"
}
reg_text() {  # reg_text KEY: the key and everything below it as text, or nothing
  local file=$work/export.reg
  rm -f "$file"
  timeout 60 wine reg export "$1" "$(winpath "$file")" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
}
classes_text() {  # classes_text HIVE: HIVE\Software\Classes as text, but Windows Installer's own records of products
  reg_text "$1\\Software\\Classes" | awk '/^\[/ { skip = index($0, "\\Software\\Classes\\Installer") > 0 } !skip'
}
reg_value() {  # reg_value KEY NAME: that string value, or nothing
  timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}
signed_build() {  # signed_build SIGNED BUILT: SIGNED is BUILT with a signature (and the PE checksum signing sets)
  local header
  rm -f "$work/unsigned.bin"
  osslsigncode remove-signature -in "$1" -out "$work/unsigned.bin" >/dev/null 2>&1 || return 1
  header=$(( $(od -An -tu4 -j60 -N4 "$2") + 88 ))
  cmp -s <(head -c "$header" "$work/unsigned.bin"; tail -c +$((header + 5)) "$work/unsigned.bin") \
    <(head -c "$header" "$2"; tail -c +$((header + 5)) "$2")
}
property() { msiinfo export "$1" Property | awk -v p="$2" '$1 == p { print $2 }' | tr -d '\r'; }
build_folder() { msiinfo export "$1" Directory | awk -F'\t' '$1 == "BUILDDIR" { sub(/.*\|/, "", $3); print $3 }' | tr -d '\r'; }
programs() { (cd "$installed" 2>/dev/null && find . -type f | sort | cut -c3- | xargs); }
products() {  # products MSI: that package's product alone, in $context, as Windows Installer lists it
  client 30 products "$context" "$upgrade_code" "$(property "$1" ProductCode)" "$(property "$1" ProductVersion)" \
    "$installed_win\\$(build_folder "$1")\\"
}
profiles() { (cd "$drive_c" && find users "Program Files" | sort); }
# wine exits with the low byte of the installer's code: 1633 (another
# processor's package) is 97.
other_processor=97

# The validation rules, on both packages; and each rule finds the fault it is
# for in a copy of the package given that fault.
for msi in "$old_msi" $([ "$package_arches" = x64 ] || echo "$packages/kezthumb-$version-arm64.msi"); do
  check "packages: $(basename "$msi") keeps the validation rules" python3 tests/windows/msi_rules.py "$msi"
done
while IFS='|' read -r rule fault change; do
  cp "$old_msi" "$work/faulty.msi"
  eval "msibuild \"\$work/faulty.msi\" $change"
  python3 tests/windows/msi_rules.py "$work/faulty.msi" > "$work/faulty.out" || true
  check "packages: $rule finds $fault" grep -q "^FAIL $rule:" "$work/faulty.out"
done <<'RULES'
ICE38|the handler keyed on its file|-q "UPDATE Component SET Attributes = 256 WHERE Component = 'Handler'"
ICE57|a value fixed under HKCU|-q "UPDATE Registry SET Root = 1"
ICE61|a newer version removed|-q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{1C2A4F22-F621-41D9-BDE2-7E95A74CBC88}', '99.0.0', 1, 'WIX_UPGRADE_DETECTED')"
ICE64|the build's folder left behind|-q "DELETE FROM RemoveFile WHERE FileKey = 'RemoveBuildDir'"
ICE80|a 32-bit template|-s kezthumb developers 'Intel;1033'
ICE91|the files left in the profile per machine|-q "DELETE FROM CustomAction WHERE Action = 'MachinePrograms'"
ICE105|a custom action asking for elevation|-q "UPDATE CustomAction SET Type = 2099 WHERE Action = 'SetInstallLocation'"
SHELL|the notification's failure counted|-q "UPDATE CustomAction SET Type = 1 WHERE Action = 'NotifyShell'"
CONTEXT|the user's context no longer the default|-q "DELETE FROM Property WHERE Property = 'MSIINSTALLPERUSER'"
RULES
# Each signature covers its file: the packages', and their programs'; a
# changed byte breaks it.
verified() { osslsigncode verify -CAfile "$work/sign-cert.pem" -in "$1" > "$work/verify.out" 2>&1; }
for msi in "$old_msi" $([ "$package_arches" = x64 ] || echo "$packages/kezthumb-$version-arm64.msi"); do
  name=$(basename "$msi")
  check "signing: $name verifies" verified "$msi"
  rm -rf "$work/signed"
  (mkdir -p "$work/signed" && cd "$work/signed" && msiextract "$msi" >/dev/null)
  msiinfo extract "$msi" Binary.ShellNotify > "$work/signed/kezthumb-notify.dll"
  for program in kezthumb.dll kezthumb.exe kezthumb-notify.dll; do
    check "signing: $program in $name verifies" verified "$(find "$work/signed" -name "$program" | head -n 1)"
  done
  signed_dll=$(find "$work/signed" -name kezthumb.dll | head -n 1)
  signed_exe=$(find "$work/signed" -name kezthumb.exe | head -n 1)
  check "packages: $name's ARPSIZE is its programs' size in KiB" \
    test "$(property "$msi" ARPSIZE)" -eq $(( ($(stat -c %s "$signed_dll") + $(stat -c %s "$signed_exe") + 1023) / 1024 ))
  # A changed byte of a program's code, and a changed row of the package.
  cp "$signed_dll" "$work/changed.dll"
  python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[4096] ^= 0xFF; open(sys.argv[1], "wb").write(d)' \
    "$work/changed.dll"
  check "signing: kezthumb.dll with a byte changed fails" test "$(verified "$work/changed.dll"; echo $?)" -ne 0
  cp "$msi" "$work/changed.msi"
  msibuild "$work/changed.msi" -q "UPDATE Property SET Value = 'changed' WHERE Property = 'ARPCOMMENTS'"
  check "signing: $name with a row changed fails" test "$(verified "$work/changed.msi"; echo $?)" -ne 0
done

# The class comes from the package alone (unregistering leaves the empty
# ".kez" key, which goes too), and another program already owns ".kez" for
# this user: a ProgID, and a preview handler of its own.
regsvr32 0 /u /s "$dllwin"
reg_quiet delete 'HKLM\Software\Classes\.kez' /f
other_class='{0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E}'
reg_quiet add 'HKCU\Software\Classes\.kez' /ve /d OtherPaint.Document /f
reg_quiet add 'HKCU\Software\Classes\.kez\shellex\{8895b1c6-b41f-4c1c-a562-0d564250836f}' /ve /d "$other_class" /f
reg_quiet add 'HKCU\Software\Classes\OtherPaint.Document' /ve /d 'Other paint document' /f
reg_quiet add "HKCU\\Software\\Classes\\CLSID\\$other_class\\InprocServer32" /ve /d 'C:\other\preview.dll' /f
classes_text HKCU > "$work/user-before.txt"
classes_text HKLM > "$work/machine-before.txt"
# Both keys exist: an empty text is a failed export, which would compare equal.
check "installer: the classes read before the install" test -s "$work/user-before.txt" -a -s "$work/machine-before.txt"
profiles > "$work/files-before.txt"
local_app_data=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
old=$(build_folder "$old_msi")
rebuilt=$(build_folder "$rebuild_msi")
new=$(build_folder "$new_msi")
class_key="Software\Classes\CLSID\{09533617-4B9F-4F3C-8643-8A14BF00759D}"
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'

# On a PC whose system records an ARM64 processor the x64 package is refused,
# naming the ARM64 one.
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
check "installer: refused on ARM64, with the package's message" client 120 refused "$(winpath "$old_msi")" "" \
  "This package is for x64 PCs, and this one has an ARM64 processor: install kezthumb-$version-arm64.msi instead."
reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
check "installer: no files on ARM64" cmp -s "$work/files-before.txt" <(profiles)

# lifecycle user|machine: installed, rebuilt, repaired, upgraded while a host
# keeps the old DLL loaded, refused as a downgrade and removed, in one
# context; the other context refused while it is installed.
lifecycle() {
  context=$1
  local all=(ALLUSERS=) own=HKCU other=HKLM other_before=machine other_all=(ALLUSERS=1) refusal
  refusal="kezthumb is installed for you alone: remove it in Apps & features first, then install it for every user."
  installed_win="$local_app_data\\Programs\\kezthumb"
  if [ "$context" = machine ]; then
    all=(ALLUSERS=1) own=HKLM other=HKCU other_before=user other_all=(ALLUSERS=)
    refusal="kezthumb is installed for every user of this PC: install this package for every user too, from an administrator's Command Prompt: msiexec /i kezthumb-$version-x64.msi ALLUSERS=1"
    installed_win='C:\Program Files\kezthumb'
  fi
  installed=$(timeout 60 winepath -u "$installed_win" 2>/dev/null)

  msiexec 0 /i "$(winpath "$old_msi")" "${all[@]}"
  told "$context: install"
  check "$context: the DLL and kezthumb.exe in $installed_win\\$old" \
    test "$(programs)" = "$old/kezthumb.dll $old/kezthumb.exe"
  check "$context: installed DLL is the build's, signed" signed_build "$installed/$old/kezthumb.dll" "$dll"
  check "$context: installed kezthumb.exe is the build's, signed" signed_build "$installed/$old/kezthumb.exe" "$exe"
  check "$context: registry entries" client 30 registry "$context" .kez present "$installed_win\\$old\\kezthumb.dll"
  check "$context: nothing new under $other\\Software\\Classes" \
    cmp -s "$work/$other_before-before.txt" <(classes_text "$other")
  check "$context: no $other\\Software\\kezthumb" test -z "$(reg_text "$other\\Software\\kezthumb")"
  check "$context: the product" products "$old_msi"
  check "$context: the other context refused, with the package's message" \
    client 120 refused "$(winpath "$rebuild_msi")" "${other_all[*]}" "$refusal"
  # Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine's COM reads
  # the machine's alone, so a user's class is copied there for this run.
  [ "$context" = machine ] || reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
  check "$context: thumbnails through the installed DLL equal the Linux build's" \
    client 600 compare "$(winpath "$cases")"

  # A rebuild of the same version, by a plain install.
  msiexec 0 /i "$(winpath "$rebuild_msi")" "${all[@]}"
  check "$context rebuild: its product alone" products "$rebuild_msi"
  check "$context rebuild: one copy of the programs, in $rebuilt" \
    test "$(programs)" = "$rebuilt/kezthumb.dll $rebuilt/kezthumb.exe"
  check "$context rebuild: registry entries" \
    client 30 registry "$context" .kez present "$installed_win\\$rebuilt\\kezthumb.dll"
  # A repair, as "Apps & features" offers it: never refused, and what the next
  # installation cleans up stays the build before (never the build's own files).
  msiexec 0 /i "$(winpath "$rebuild_msi")" "${all[@]}" REINSTALL=ALL REINSTALLMODE=omus
  told "$context: repair"
  check "$context repair: the programs in $rebuilt" test "$(programs)" = "$rebuilt/kezthumb.dll $rebuilt/kezthumb.exe"
  check "$context repair: $old still the build to clean up" \
    test "$(reg_value "$own\\Software\\kezthumb" Previous)" = "$installed_win\\$old\\"

  # A newer version while a host, as Explorer does, keeps the rebuild's DLL
  # loaded from before the upgrade until after it.
  [ "$context" = machine ] || reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
  local signal=$work/upgraded host_pid
  rm -f "$signal"
  (
    wine_run 900 "$work/kezclient.exe" serves "$pool_document" 64 "$installed_win\\$rebuilt\\kezthumb.dll" \
      "$(winpath "$signal")"
    echo "exit $rc"
  ) > "$work/host.out" 2>&1 &
  host_pid=$!
  for _ in $(seq 600); do grep -q "serves: holding" "$work/host.out" && break; sleep 0.1; done
  msiexec 0 /i "$(winpath "$new_msi")" "${all[@]}"
  told "$context: upgrade"
  check "$context upgrade: $newer alone" products "$new_msi"
  check "$context upgrade: registry entries" \
    client 30 registry "$context" .kez present "$installed_win\\$new\\kezthumb.dll"
  check "$context upgrade: $new whole, of $rebuilt only the DLL the host holds" \
    test "$(programs)" = "$rebuilt/kezthumb.dll $new/kezthumb.dll $new/kezthumb.exe"
  [ "$context" = machine ] || reg_quiet copy "HKCU\\$class_key" "HKLM\\$class_key" /s /f
  check "$context upgrade: a new host gets the class from $new" \
    client 60 serves "$pool_document" 64 "$installed_win\\$new\\kezthumb.dll"
  touch "$signal"
  wait "$host_pid" || true
  sed 's/^/   /' "$work/host.out"
  check "$context upgrade: the first host kept its DLL and served from it again after the upgrade" \
    grep -qx "exit 0" "$work/host.out"
  [ "$context" = machine ] || reg_quiet delete "HKLM\\$class_key" /f

  check "$context downgrade: refused, with the package's message" \
    client 120 refused "$(winpath "$old_msi")" "${all[*]}" "A newer version of kezthumb is already installed."
  # Removing it is never refused, on ARM64 neither.
  reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
  msiexec 0 /x "$(winpath "$new_msi")" "${all[@]}"
  reg_quiet add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
  told "$context: removal"
  for hive in HKCU HKLM; do
    check "$context uninstall: $hive\\Software\\Classes as before the install (the other program's .kez kept)" \
      cmp -s "$work/$([ $hive = HKCU ] && echo user || echo machine)-before.txt" <(classes_text $hive)
  done
  check "$context uninstall: no $own\\Software\\kezthumb" test -z "$(reg_text "$own\\Software\\kezthumb")"
  check "$context uninstall: no product" client 30 products "$context" "$upgrade_code"
  # The DLL the host held goes too: the uninstall removes what is left of the
  # build the last one replaced.
  check "$context uninstall: the files as before the install" cmp -s "$work/files-before.txt" <(profiles)
}
lifecycle user
lifecycle machine
for key in .kez OtherPaint.Document "CLSID\\$other_class"; do reg_quiet delete "HKCU\\Software\\Classes\\$key" /f; done
# The registration the later steps use.
regsvr32 0 /s "$dllwin"

if [ "$package_arches" = all ]; then
  arm_msi=$packages/kezthumb-$version-arm64.msi
  summary_info=$(msiinfo suminfo "$arm_msi")
  for row in "Template: Arm64;1033" "Version: 500 (1f4)" "Source: 2 (2)"; do
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
    signed_build "$(find "$work/arm64-files" -name kezthumb.dll)" build/windows-arm64/src/dll/kezthumb.dll
  msiinfo extract "$arm_msi" Binary.ShellNotify > "$work/arm64-notify.dll"
  check "arm64 package: tells the shell with the ARM64 build of kezthumb-notify.dll" \
    signed_build "$work/arm64-notify.dll" build/windows-arm64/tools/shell_notify/kezthumb-notify.dll
  msiexec $other_processor /i "$(winpath "$arm_msi")"
fi
