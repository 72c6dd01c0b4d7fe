#!/usr/bin/env bash
# Builds and runs the benchmarks (not part of the tests). Arguments go to the
# update benchmark, e.g. --repeat 3 or --virtual-only.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDFLASH_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target pdflash_bench_update
build/bench/pdflash_bench_update "$@"
