#!/bin/sh
# Installs the udev rule next to this script so that ordinary accounts can
# open the board (see README.md here). Run as root; an account named as
# argument is added to plugdev, for a station that runs without a seat session.
set -eu
here=$(dirname "$0")
rule=60-pdflash-billboard.rules
if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: sudo $0 [ACCOUNT]" >&2
  exit 1
fi
install -m 644 "$here/$rule" /etc/udev/rules.d/
udevadm control --reload-rules
udevadm trigger --subsystem-match=usb --action=change
if [ $# -ge 1 ]; then
  getent group plugdev >/dev/null || groupadd --system plugdev
  usermod -aG plugdev "$1"
  echo "$1 joins plugdev at its next login"
fi
echo "installed /etc/udev/rules.d/$rule; re-plug the board"
