#!/usr/bin/env bash
# Configures and builds into build/ (Linux, native).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDFLASH_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
