#!/usr/bin/env python3
"""Which lines of src/ and sim/ only one test runs.

Runs every test of build-cov/ (made by scripts/coverage.sh) on its own, each
into its own gcda tree, and prints per test the lines no other test runs,
fewest first. A test without lines of its own is a candidate for merging or
dropping, never proof: break what it checks and see whether another test
fails. Slow (a few seconds per test); pass a gtest filter to run fewer tests,
whose lines are then compared among themselves only.
"""
import collections, os, shutil, subprocess, sys, tempfile

from gcov_lines import line_counts

root = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
build = os.path.join(root, "build-cov")
binary = os.path.join(build, "tests", "pdflash_tests")
pattern = sys.argv[1] if len(sys.argv) > 1 else "*"


def tests():
    out = subprocess.run([binary, "--gtest_list_tests", "--gtest_filter=" + pattern],
                         capture_output=True, text=True, check=True).stdout
    suite = None
    for line in out.splitlines():
        if not line.startswith(" "):
            suite = line.split()[0] if line.strip().endswith(".") else None
        elif suite:
            yield suite + line.split()[0]


def lines_run(tree):
    return {f"{rel}:{n}" for (rel, n), run in line_counts(tree, root, notes=build).items() if run}


per_test = {}
for name in tests():
    tree = tempfile.mkdtemp(prefix="pdflash-cov-")
    env = dict(os.environ, GCOV_PREFIX=tree)
    try:  # a hung test writes no counts: it is named and counts as running nothing
        subprocess.run([binary, "--gtest_filter=" + name], cwd=os.path.dirname(binary), env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=1800)
    except subprocess.TimeoutExpired:
        print(f"  {name}: timed out", file=sys.stderr)
    per_test[name] = lines_run(os.path.join(tree, os.path.relpath(build, "/")))
    shutil.rmtree(tree)
    print(f"  ran {name}", file=sys.stderr)

count = collections.Counter(l for run in per_test.values() for l in run)
for name, run in sorted(per_test.items(), key=lambda kv: sum(count[l] == 1 for l in kv[1])):
    own = sorted(l for l in run if count[l] == 1)
    print(f"{len(own):5d} own of {len(run):5d}  {name}  {' '.join(own[:4])}")
