#!/usr/bin/env bash
# Builds the station packages into out/:
#   pdflash-<version>-linux-x86_64.tar.gz   (linked against the system's libusb-1.0)
#   pdflash-<version>-windows-x86_64.zip    (standalone .exe files, mingw-w64)
# It uses build/ and build-win/, configured as the build and test scripts do,
# so after those scripts only the archives are new.
set -euo pipefail
cd "$(dirname "$0")/.."
PDFLASH_WINDOWS=1 ./scripts/setup.sh
targets=(--target pdflash pdsim mkfirmware)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! grep -q '^LIBUSB_FOUND:INTERNAL=1$' build/CMakeCache.txt; then
  echo "package.sh: libusb-1.0 not found; a Linux station package must reach real boards" >&2
  exit 1
fi
cmake --build build -j"$(nproc)" "${targets[@]}"

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDFLASH_BENCH=OFF >/dev/null
cmake --build build-win -j"$(nproc)" "${targets[@]}"

mkdir -p out
for tree in build build-win; do
  rm -rf "$tree/packages"
  cpack --config "$tree/CPackConfig.cmake" -B "$PWD/$tree/packages" >/dev/null
  for archive in "$tree"/packages/pdflash-*.tar.gz "$tree"/packages/pdflash-*.zip; do
    [ -e "$archive" ] || continue
    cp "$archive" out/
    echo "out/$(basename "$archive")"
  done
done
