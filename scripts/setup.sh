#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (only what is missing).
set -euo pipefail
# umockdev lets the libusb backend's tests run against a mocked USB bus.
# libgcrypt: the virtual device's security block (sim/ only).
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libusb-1.0-0-dev umockdev libgcrypt20-dev)
if [ "${PDFLASH_WINDOWS:-0}" = 1 ]; then
  # The Windows build: cross compiler, and wine to run its tests.
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest wine64 wine
    libgcrypt-mingw-w64-dev)
fi
if [ "${PDFLASH_CLANG:-0}" = 1 ]; then
  # Sanitizer and fuzzing builds: clang with its runtimes (libFuzzer included);
  # lld links clang's Windows build.
  packages+=(clang lld)
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
