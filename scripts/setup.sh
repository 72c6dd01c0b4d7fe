#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (only what is missing).
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libusb-1.0-0-dev)
if [ "${PDFLASH_WINDOWS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 wine)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
