#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer (clang, into
# build-asan/, which holds the fuzz targets too) and runs the whole test
# suite. Every finding is fatal, so any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
PDFLASH_CLANG=1 ./scripts/setup.sh

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DPDFLASH_SANITIZE=address,undefined -DPDFLASH_FUZZ=ON \
  -DPDFLASH_BENCH=OFF -DPDFLASH_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
# The libusb test runs this binary again under umockdev-run, which preloads
# its library into it. clang links the sanitizer runtime into the executable,
# so it stays first whatever is preloaded (the shared runtime of a g++ build
# would refuse to start behind the preload).
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# The mocked-bus test skips itself without umockdev: here it must have run.
mocked=$(build-asan/tests/pdflash_tests --gtest_filter='LibusbBackend.RunsAgainstAMockedBus' 2>&1) || {
  printf '%s\n' "$mocked"
  exit 1
}
if ! grep -q '^\[  PASSED  \] 1 test' <<<"$mocked" || grep -q 'SKIPPED' <<<"$mocked"; then
  printf '%s\n' "$mocked"
  echo "sanitize: the libusb test against the mocked bus did not run" >&2
  exit 1
fi
echo "sanitize: whole suite clean under AddressSanitizer and UndefinedBehaviorSanitizer"
