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
import json, os, subprocess, sys
root = sys.argv[1]
lines = {}  # (file, line) -> run at least once
for d, _, files in os.walk(os.path.join(root, "build-cov")):
    for f in files:
        if not f.endswith(".gcda"):
            continue
        out = subprocess.run(["gcov", "--json-format", "--stdout", os.path.join(d, f)],
                             capture_output=True, cwd=d).stdout
        for chunk in out.splitlines():
            if not chunk.strip():
                continue
            report = json.loads(chunk)
            for entry in report["files"]:
                path = os.path.realpath(
                    os.path.join(report["current_working_directory"], entry["file"]))
                rel = os.path.relpath(path, root)
                if not (rel.startswith("src/") or rel.startswith("sim/")):
                    continue
                for l in entry["lines"]:
                    key = (rel, l["line_number"])
                    lines[key] = lines.get(key, False) or l["count"] > 0
uncovered = sorted(k for k, run in lines.items() if not run)
with open(os.path.join(root, "build-cov", "uncovered.txt"), "w") as f:
    for rel, n in uncovered:
        f.write(f"{rel}:{n}\n")
total = len(lines)
print(f"coverage: {total - len(uncovered)} of {total} lines run "
      f"({100.0 * (total - len(uncovered)) / max(total, 1):.1f} %); "
      f"the rest in build-cov/uncovered.txt")
EOF
