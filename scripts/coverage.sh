#!/usr/bin/env bash
# Line coverage of the tool and the virtual device by the whole test suite
# (gcc, into build-cov/). Prints the share of lines run and writes every line
# no test runs to build-cov/uncovered.txt ("file:line", sorted), so that two
# runs can be compared when tests are merged or dropped.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage" \
  -DPDFLASH_BENCH=OFF -DPDFLASH_WERROR=ON >/dev/null
cmake --build build-cov -j"$(nproc)"
find build-cov -name '*.gcda' -delete
ctest --test-dir build-cov --output-on-failure -j"$(nproc)" >/dev/null

root=$(pwd)
python3 - "$root" <<'EOF'
import os, sys
root = sys.argv[1]
sys.path.insert(0, os.path.join(root, "scripts"))
from gcov_lines import line_counts
lines = line_counts(os.path.join(root, "build-cov"), root)
uncovered = sorted(k for k, run in lines.items() if not run)
with open(os.path.join(root, "build-cov", "uncovered.txt"), "w") as f:
    for rel, n in uncovered:
        f.write(f"{rel}:{n}\n")
total = len(lines)
print(f"coverage: {total - len(uncovered)} of {total} lines run "
      f"({100.0 * (total - len(uncovered)) / max(total, 1):.1f} %); "
      f"the rest in build-cov/uncovered.txt")
EOF
