#!/usr/bin/env bash
# Unpacks each station package from out/ into a fresh folder and runs the
# tool from there (the Windows one under wine): a package that misses a file
# or a library fails here.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
[ -n "$version" ] || { echo "smoke: no project version in build/" >&2; exit 1; }

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-/tmp/pdflash-wine}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  if [ -n "${wine_started:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

fail() { echo "smoke $os: $*" >&2; exit 1; }
# Runs a program of the station: run NAME ARGS... (output in $out, status in $status)
run() {
  local name=$1; shift
  status=0
  if [ "$os" = windows ]; then
    out=$(wine "./$name.exe" "$@" </dev/null 2>&1) || status=$?
    out=${out//$'\r'/}
  else
    out=$("./$name" "$@" </dev/null 2>&1) || status=$?
  fi
}
expect() {  # expect TEXT: the last run printed TEXT
  grep -qF -- "$1" <<<"$out" || { printf '%s\n' "$out" >&2; fail "expected \"$1\""; }
}

smoke() {
  os=$1
  local archive=out/pdflash-$version-$os-x86_64.$2 exe=$3
  [ -f "$archive" ] || fail "$archive missing (run scripts/package.sh)"
  mkdir "$work/$os"
  (cd "$work/$os" && cmake -E tar xf "$OLDPWD/$archive")
  local dir=$work/$os/pdflash-$version-$os-x86_64
  local files=("pdflash$exe" "pdsim$exe" "mkfirmware$exe" Setting.ini Challenge.ini README.md)
  [ "$os" = linux ] && files+=(udev/60-pdflash-billboard.rules udev/install-udev-rule.sh udev/README.md)
  for f in "${files[@]}"; do [ -f "$dir/$f" ] || fail "$f missing from the package"; done
  cd "$dir"
  if [ "$os" = linux ]; then
    [[ $(ldd ./pdflash) == *libusb-1.0.so* ]] || fail "pdflash is not linked against libusb-1.0"
    [ -x udev/install-udev-rule.sh ] || fail "the udev install script is not executable"
  fi

  run pdflash --version
  [ "$status" -eq 0 ] || fail "--version exited with $status"
  expect "pdflash $version"
  expect "PermissionLevel 0x"
  run pdflash --help
  [ "$status" -eq 0 ] || fail "--help exited with $status"
  expect "Usage: pdflash"

  # The shipped settings with the example IDs and firmware: the file version.
  mkdir fw
  run mkfirmware fw
  [ "$status" -eq 0 ] || fail "mkfirmware exited with $status"
  sed -i -e 's/^PD1VID=0$/PD1VID=2109/' -e 's/^PD1PID=0$/PD1PID=0107/' \
    -e 's/^PD1RomVID=0$/PD1RomVID=2109/' -e 's/^PD1RomPID=0$/PD1RomPID=1107/' \
    -e 's|^PD1Bin=NA$|PD1Bin=fw/pd_50k_v0E010200.bin|' Setting.ini
  run pdflash /B0
  expect "Return_Value = 0xE010200"
  if [ "$os" = linux ]; then [ "$status" -eq 255 ] || fail "/B0 exited with $status"; fi

  # The running version of a virtual board, through pdsim.
  run pdsim init board
  run pdsim load board 20000 fw/pd_50k_v0E010100.bin
  [ "$status" -eq 0 ] || fail "pdsim load exited with $status"
  PDFLASH_SIM=board run pdflash /F0
  expect "Return_Value = 0xE010100"
  cd - >/dev/null
  echo "smoke $os: pdflash $version package runs"
}

smoke linux tar.gz ""
mkdir -p "$WINEPREFIX"
# Keep one wine server for all runs; one already serving this prefix is used
# as it is and left running.
if wineserver -p 2>/dev/null; then wine_started=1; fi
wine wineboot -u </dev/null >/dev/null 2>&1 || true
smoke windows zip .exe
