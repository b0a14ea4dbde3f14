# Sourced by scripts/test-windows: timed steps, counted checks, and Wine for
# one architecture at a time: the x64 one of this machine, or Debian's arm64
# one in the root of scripts/bootstrap-wine-arm64, through qemu.

failed=0
step_name=""
step_start=0
summary=()
finish_step() {
  [ -n "$step_name" ] || return 0
  local took
  took=$(awk -v a="$step_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  summary+=("$(printf '%-44s %6s s' "$step_name" "$took")")
  echo "test-windows: $step_name: $took s"
  step_name=""
}
step() {
  finish_step
  step_name=$1
  step_start=$(date +%s.%N)
  echo "== test-windows: $step_name"
}
check() {  # check DESCRIPTION COMMAND...: ok or FAIL, counted
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=$((failed + 1)); fi
}

# Z:\ is Wine's drive for the Unix root (inside the arm64 root, the same
# paths: the project is mounted there at its own path).
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

wine_env=(WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree=;mshtml=;winemenubuilder.exe=d")
arm_root=""
arm_mounts=()
# use_wine ARCH: WINE and WINESERVER run that architecture's Wine on the
# prefix of this run, whose C: drive is $drive_c here.
use_wine() {
  arch=$1
  if [ "$arch" = x64 ]; then
    # Exported as well, for the x64-only steps' plain wine calls.
    export WINEPREFIX=$root/build/wine-prefix WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
    WINE=(wine)
    WINESERVER=(wineserver)
    drive_c=$WINEPREFIX/drive_c
  else
    if [ -z "$arm_root" ]; then
      # The root is this run's alone until it ends (the descriptor closes).
      local cache=${XDG_CACHE_HOME:-$HOME/.cache}/kezthumb
      mkdir -p "$cache"
      exec 9>>"$cache/wine-arm64.lock"
      flock 9
      export KEZ_WINE_ARM64_LOCKED=1
      arm_root=$(scripts/bootstrap-wine-arm64)
    fi
    local inside=(HOME=/root WINEPREFIX=/root/prefix-run WINELOADER=/usr/lib/wine/wine64
                  WINESERVER=/usr/lib/wine/wineserver64)
    WINE=(env "${wine_env[@]}" "${inside[@]}" chroot "$arm_root" /usr/lib/wine/wine64)
    WINESERVER=(env "${inside[@]}" chroot "$arm_root" /usr/lib/wine/wineserver64)
    drive_c=$arm_root/root/prefix-run/drive_c
  fi
  work=$root/build/wine-tests/$arch
}
# fresh_prefix: a new prefix for the current architecture, and its server.
fresh_prefix() {
  "${WINESERVER[@]}" -k 2>/dev/null || true
  if [ "$arch" = x64 ]; then
    rm -rf "${drive_c%/drive_c}"
    timeout 180 "${WINE[@]}" wineboot -i >/dev/null 2>&1
  else
    mount_arm_root
    rm -rf --one-file-system "$arm_root/root/prefix-run"
    cp -a "$arm_root/root/prefix" "$arm_root/root/prefix-run"
  fi
  # One server for every later run (each start costs a second, more under qemu).
  timeout 60 "${WINESERVER[@]}" -w
  "${WINESERVER[@]}" -p
}
# /proc, and build/wine-tests (the clients, the cases) at its own path: no
# more of the project than the runs need.
mount_arm_root() {
  [ ${#arm_mounts[@]} -eq 0 ] || return 0
  local shared=$root/build/wine-tests
  mkdir -p "$shared" "$arm_root$shared"
  mount -t proc proc "$arm_root/proc" && arm_mounts+=("$arm_root/proc")
  mount --bind "$shared" "$arm_root$shared" && arm_mounts+=("$arm_root$shared")
}
# The root's server and mounts go, and the root is another run's again.
release_arm_root() {
  [ -n "$arm_root" ] || return 0
  use_wine arm64
  "${WINESERVER[@]}" -k 2>/dev/null || true
  local mount
  for mount in "${arm_mounts[@]}"; do umount -l "$mount" 2>/dev/null || true; done
  arm_mounts=()
  arm_root=""
  unset KEZ_WINE_ARM64_LOCKED
  exec 9>&-
}
# Whatever happened: the servers stop, every mount made in the root goes.
wine_cleanup() {
  release_arm_root
  use_wine x64
  "${WINESERVER[@]}" -k 2>/dev/null || true
}

wine_run() {  # wine_run SECONDS PROGRAM ARGS...: the program's exit code in $rc
  local limit=$1
  shift
  rc=0
  timeout --kill-after=10 "$limit" "${WINE[@]}" "$@" < /dev/null || rc=$?
  [ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] || echo "test-windows: timed out after $limit s: $*"
}
client() {  # client SECONDS MODE ARGS...: the test client of the current architecture
  local limit=$1
  shift
  wine_run "$limit" "$work/kezclient.exe" "$@"
  [ "$rc" -eq 0 ]
}
reg_quiet() { timeout 60 "${WINE[@]}" reg "$@" >/dev/null 2>&1 || true; }
