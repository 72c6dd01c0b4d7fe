#!/bin/busybox sh
# /init of the guest that scripts/qemu-usb-test.sh boots: loads the USB
# gadget stack, serves each board with pdsim gadget and runs pdflash against
# it through usbfs. Lines starting with @@ are for the host's checks; the
# board and tool folders go back to the host as a tar on /dev/vda.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo "@@ guest up $(cut -d' ' -f1 /proc/uptime)s"
depmod
for m in configfs libcomposite usb_f_fs dummy_hcd virtio_pci virtio_blk; do
  modprobe "$m" || echo "@@ module $m failed"
done
mount -t configfs none /sys/kernel/config
# libusb hears of devices that come and go through udev.
/lib/systemd/systemd-udevd --daemon 2>/dev/null || echo "@@ udevd failed"
echo "@@ udc: $(ls /sys/class/udc)"

tool=/work/tool
cd "$tool"

# Runs the tool: ID ARGS...; its console between @@ begin/end lines.
run() {
  id=$1
  shift
  echo "@@ begin $id"
  start=$(cut -d' ' -f1 /proc/uptime)
  ./pdflash "$@"
  code=$?
  echo "@@ end $id rc=$code ($start -> $(cut -d' ' -f1 /proc/uptime)s)"
}

# Waits until the host side has enumerated VID:PID.
wait_usb() {
  i=0
  while [ $i -lt 200 ]; do
    for d in /sys/bus/usb/devices/*; do
      [ "$(cat "$d/idVendor" 2>/dev/null):$(cat "$d/idProduct" 2>/dev/null)" = "$1" ] && return 0
    done
    usleep 50000
    i=$((i + 1))
  done
  echo "@@ $1 did not enumerate"
  return 1
}

gadget_start() {
  ./pdsim gadget "/work/$1" >"/work/$1.gadget.log" 2>&1 &
  gadget_pid=$!
  wait_usb 2109:0107
}

gadget_stop() {
  kill -TERM "$gadget_pid"
  wait "$gadget_pid"
  echo "@@ gadget $1 ended rc=$?"
  cat "/work/$1.gadget.log"
}

# Without root: a clear line, nothing left in configfs.
echo "@@ begin noroot"
mkdir -p /etc
printf 'root:x:0:0::/:/bin/sh\ntester:x:1000:1000::/tmp:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\ntester:x:1000:\n' >/etc/group
su -s /bin/sh tester -c "./pdsim gadget /work/main"
echo "@@ end noroot rc=$? left=$(ls /sys/kernel/config/usb_gadget | wc -l)"

gadget_start main
d=/sys/bus/usb/devices/1-1
echo "@@ host sees class $(cat $d/bDeviceClass) bcdDevice $(cat $d/bcdDevice) USB$(cat $d/version) interface class $(cat $d/1-1:1.0/bInterfaceClass)"
run f0-before /F0
run wrreg /WRREG 3000 5A
run rdreg /RDREG 3000
run update
# The reset after the update restarts the board: it is back after its
# re-enumeration delay, not at once.
wait_usb 2109:0107
run f0-after /F0
run backup /INI Backup.ini
gadget_stop main

gadget_start stall
run stall /F0
gadget_stop stall

gadget_start unplug
run unplug
gadget_stop unplug

[ -z "$(ls /sys/kernel/config/usb_gadget)" ] && echo "@@ configfs empty"
cd /
tar -cf /dev/vda -C /work . && sync
echo "@@ done $(cut -d' ' -f1 /proc/uptime)s"
poweroff -f
