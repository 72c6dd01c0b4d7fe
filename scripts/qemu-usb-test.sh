#!/usr/bin/env bash
# The tool's libusb backend on a real USB stack: boots a Debian kernel in QEMU
# (TCG, no network), serves virtual boards with `pdsim gadget` on dummy_hcd
# inside it and runs pdflash through usbfs and libusb against them. Each
# result is checked from the console, the exit codes and the boards' files
# after the guest has ended; the same runs on PDFLASH_SIM give the reference.
#
# Host packages: qemu-system-x86 and cpio (installed when missing). The guest's
# kernel, busybox and udev are Debian packages unpacked into a cache folder
# ($PDFLASH_QEMU_CACHE, default ~/.cache/pdflash-qemu), never installed. udevd
# runs in the guest because Debian's libusb learns of re-enumerated devices
# from udev: without it the ROM code's device never shows up.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
t0=$(date +%s)
say() { printf '[qemu-usb %3ss] %s\n' "$(( $(date +%s) - t0 ))" "$*"; }
fail() { say "FAIL: $*"; exit 1; }

build=${PDFLASH_BUILD:-$top/build}
cache=${PDFLASH_QEMU_CACHE:-$HOME/.cache/pdflash-qemu}
work=$build/qemu-usb
mkdir -p "$cache"

# ---------------------------------------------------------------- host tools
missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
command -v cpio >/dev/null || missing+=(cpio)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ -x "$build/pdflash" ] && [ -x "$build/pdsim" ] && [ -x "$build/mkfirmware" ] || ./scripts/build.sh

# ---------------------------------------------------------------- guest packages
kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
[ -n "$kpkg" ] || { apt-get update -qq || true; kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'); }
[ -n "$kpkg" ] || fail "apt knows no linux-image-amd64"
groot=$cache/$kpkg
if [ ! -f "$groot/.unpacked" ]; then
  say "fetching $kpkg, busybox-static and udev"
  rm -rf "$groot" "$cache/debs" && mkdir -p "$groot" "$cache/debs"
  (cd "$cache/debs" && apt-get download "$kpkg" busybox-static udev 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  for deb in "$cache"/debs/*.deb; do dpkg -x "$deb" "$groot"; done
  rm -rf "$cache/debs"
  touch "$groot/.unpacked"
fi
kver=${kpkg#linux-image-}
kernel=$groot/boot/vmlinuz-$kver
moddir=$groot/lib/modules/$kver
[ -f "$kernel" ] && [ -x "$groot/bin/busybox" ] && [ -x "$groot/bin/udevadm" ] ||
  fail "the unpacked guest packages lack a kernel, busybox or udevadm"
config=$groot/boot/config-$kver
for option in USB_DUMMY_HCD USB_LIBCOMPOSITE USB_F_FS USB_CONFIGFS_F_FS CONFIGFS_FS VIRTIO_BLK; do
  grep -Eq "^CONFIG_$option=[ym]" "$config" || fail "the guest kernel has no CONFIG_$option"
done

# ---------------------------------------------------------------- boards and reference
rm -rf "$work" && mkdir -p "$work/root/work/tool" "$work/ref"
payload=$work/root/work
tool=$payload/tool
cp "$build/pdflash" "$build/pdsim" "$build/Challenge.ini" "$tool/"
"$build/mkfirmware" "$tool" >/dev/null
ids="PD1VID=2109
PD1PID=0107
PD1RomVID=2109
PD1RomPID=1107"
printf '[Config]\n%s\nPD1Bin=pd_50k_v0E010200.bin\nResetAfterUpdate=1\nRWRegEnable=1\n' "$ids" >"$tool/Setting.ini"
printf '[Config]\n%s\nBackUpOnly=1\n' "$ids" >"$tool/Backup.ini"
make_board() {  # DIR [KEY=VALUE ...]
  local dir=$1
  shift
  "$build/pdsim" init "$dir" "$@" >/dev/null
  "$build/pdsim" load "$dir" 20000 "$tool/pd_50k_v0E010100.bin" >/dev/null
}
unplug_at=A00  # hexadecimal, as every device.ini number: in the first copy's writing
make_board "$payload/main"
make_board "$payload/stall" FailTransfer=2
make_board "$payload/unplug" UnplugAtTransfer=$unplug_at

# The same runs on the modelled bus: what the real stack must reproduce.
cp -r "$tool" "$work/ref/tool"
cp -r "$payload/main" "$payload/stall" "$work/ref/"
(
  cd "$work/ref/tool"
  export PDFLASH_SIM=../main
  while read -r id args; do
    # shellcheck disable=SC2086
    ./pdflash $args >"../$id.log" || true
  done <<'RUNS'
f0-before /F0
wrreg /WRREG 3000 5A
rdreg /RDREG 3000
update
f0-after /F0
backup /INI Backup.ini
RUNS
  PDFLASH_SIM=../stall ./pdflash /F0 >../stall.log || true
)

# ---------------------------------------------------------------- initramfs
initdir=$work/initramfs
mkdir -p "$initdir"/{bin,dev,proc,sys,tmp,run,lib/modules/"$kver",lib/systemd}
cp "$groot/bin/busybox" "$groot/bin/udevadm" "$initdir/bin/"
ln -s /bin/udevadm "$initdir/lib/systemd/systemd-udevd"
cp -a "$payload" "$initdir/"
# The programs' shared libraries and loader, at the paths ldd names.
if ldd "$build/pdflash" "$build/pdsim" "$groot/bin/udevadm" | grep -q 'not found'; then
  fail "a library of pdflash, pdsim or udevadm is missing on this machine"
fi
for lib in $(ldd "$build/pdflash" "$build/pdsim" "$groot/bin/udevadm" | awk '/=> \//{print $3} /^\t\/.*ld-linux/{print $1}' | sort -u); do
  mkdir -p "$initdir$(dirname "$lib")"
  cp -L "$lib" "$initdir$lib"
done
# The modules and what they depend on, from their own modinfo.
declare -A seen=()
add_module() {
  local name=$1 file
  [ -n "${seen[$name]:-}" ] && return
  seen[$name]=1
  file=$(find "$moddir/kernel" -name "$name.ko" -o -name "${name//_/-}.ko" | head -1)
  [ -n "$file" ] || fail "module $name not in $kpkg (or compressed)"
  mkdir -p "$initdir/lib/modules/$kver/$(dirname "${file#"$moddir"/}")"
  cp "$file" "$initdir/lib/modules/$kver/${file#"$moddir"/}"
  local deps
  deps=$(strings -a "$file" | sed -n 's/^depends=//p' | tr ',' ' ')
  for d in $deps; do add_module "$d"; done
}
for m in dummy_hcd libcomposite usb_f_fs virtio_pci virtio_blk; do add_module "$m"; done
cp "$top/scripts/qemu-usb-guest.sh" "$initdir/init"
chmod +x "$initdir/init"
(cd "$initdir" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
truncate -s 256M "$work/out.img"
say "initramfs $(du -h "$work/initrd.gz" | cut -f1) with $kver, pdflash, pdsim, ${#seen[@]} modules"

# ---------------------------------------------------------------- the guest
say "booting the guest (TCG)"
boot=$(date +%s)
status=0
timeout 1500 qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -no-reboot -nodefaults \
  -display none -monitor none -serial stdio -nic none \
  -kernel "$kernel" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" \
  -drive "file=$work/out.img,if=virtio,format=raw" </dev/null |
  tr -d '\r' | tee "$work/console.log" | grep --line-buffered -E '^(@@|pdsim gadget:|Return_Value|=  KMPD|    Found|.*_(PASS|FAIL)|Get_PD|Read-Reg|Write-Reg)' ||
  status=$?
guest_end=$(date +%s)
grep -q '^@@ done' "$work/console.log" || fail "the guest did not finish (see $work/console.log)"
mkdir -p "$work/out"
tar -xf "$work/out.img" -C "$work/out" || fail "no results on the guest's disk"

# ---------------------------------------------------------------- checks
failures=0
check() {  # TEXT CONDITION...
  local what=$1
  shift
  if "$@"; then
    say "ok   $what"
  else
    say "FAIL $what"
    failures=$((failures + 1))
  fi
}
log() { sed -n "/^@@ begin $1\$/,/^@@ end $1 /p" "$work/console.log"; }
rc() { sed -n "s/^@@ end $1 rc=\([0-9]*\).*/\1/p" "$work/console.log"; }
has() { log "$1" | grep -qF -- "$2"; }
gadget_has() { grep -qF -- "$2" "$work/out/$1.gadget.log"; }
same() { cmp -s "$1" "$2"; }
show() { "$build/pdsim" show "$work/out/$1"; }
# A run's console without the lines that name the folder or the time.
norm() { tr -d '\r' | grep -v -e '^ToolPath' -e '^WorkingDir' -e 'LocalTime' -e '^@@'; }
as_modelled() { [ "$(log "$1" | norm)" = "$(norm <"$work/ref/$1.log")" ]; }

check "without root: a clear line, exit code 1, no gadget left" \
  eval 'has noroot "pdsim gadget: no permission to create a gadget in /sys/kernel/config/usb_gadget" && grep -q "^@@ end noroot rc=1 left=0" "$work/console.log"'
check "the host sees a Billboard device (class 11) with the board's bcdDevice 0100" \
  grep -q "^@@ host sees class 11 bcdDevice 0100 .* interface class 11" "$work/console.log"
check "discovery and /F0 over usbfs: 0E.01.01.00" \
  eval '[ "$(rc f0-before)" = 255 ] && has f0-before "KMPDx:2109/0107, Version:0E.01.01.00" && has f0-before "Return_Value = 0xE010100"'
check "the console of /F0, /WRREG, /RDREG, /F0 after the update and the stalled /F0 is the modelled run's" \
  eval 'as_modelled f0-before && as_modelled wrreg && as_modelled rdreg && as_modelled f0-after && as_modelled stall'
check "register write /WRREG 3000 5A" \
  eval '[ "$(rc wrreg)" = 1 ] && has wrreg "Write-Reg 0x3000 = 0x5A"'
check "register read /RDREG 3000 gives 5A" \
  eval '[ "$(rc rdreg)" = 90 ] && has rdreg "Read-Reg 0x3000 = 0x5A"'
check "firmware update PASS" \
  eval '[ "$(rc update)" = 1 ] && has update "PD_FW_Update_PASS."'
check "jump to ROM code: off the bus, re-enumerated as 2109:1107, back as 2109:0107" \
  eval 'gadget_has main "restart: off the bus" && gadget_has main "back on the bus as 2109:1107" && gadget_has main "back on the bus as 2109:0107"'
check "/F0 after the update: 0E.01.02.00" \
  eval '[ "$(rc f0-after)" = 255 ] && has f0-after "Return_Value = 0xE010200"'
check "the board's flash after the update equals the modelled run's" \
  same "$work/out/main/flash.bin" "$work/ref/main/flash.bin"
check "backup PASS, both files as on the modelled bus" \
  eval '[ "$(rc backup)" = 1 ] && same "$work/out/tool/PDFWBackup.bin" "$work/ref/tool/PDFWBackup.bin" && same "$work/out/tool/PDFWBackupAll.bin" "$work/ref/tool/PDFWBackupAll.bin"'
check "a transfer the model fails is a real stall: Get_PD_FW_Version_FAIL." \
  eval '[ "$(rc stall)" = 0 ] && has stall "Get_PD_FW_Version_FAIL." && has stall "Return_Value = 0x0" && gadget_has stall ", 1 stalled;"'
check "unplug at transfer $((16#$unplug_at)) in the update: FAIL" \
  eval '[ "$(rc unplug)" = 0 ] && has unplug "PD_FW_Update_FAIL." && gadget_has unplug "unplugged at transfer $((16#$unplug_at)):"'
check "after the unplug the old firmware copy is still valid" \
  eval 'show unplug | grep -q "PD copy 1 at 020000: valid, version 0E.01.01.00"'
check "every gadget ended on SIGTERM, removed itself and saved its board" \
  eval '[ "$(grep -c "^@@ gadget .* ended rc=0" "$work/console.log")" = 3 ] && [ "$(cat "$work"/out/*.gadget.log | grep -c "gadget removed, board saved")" = 3 ] && grep -q "^@@ configfs empty" "$work/console.log"'

say "times: preparation $(( boot - t0 ))s, guest $(( guest_end - boot ))s (boot and every run), total $(( $(date +%s) - t0 ))s"
[ "$status" -eq 0 ] || say "qemu ended with $status"
if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed; console: $work/console.log, boards: $work/out"
  exit 1
fi
say "all checks passed on the real USB stack"
