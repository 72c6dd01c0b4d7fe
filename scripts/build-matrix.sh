#!/usr/bin/env bash
# Builds every compiler, target and build type with warnings as errors into
# build-matrix/<combo>/ and runs `pdflash --version` of each (the Windows ones
# under wine). Combos are <gcc|clang>-<native|mingw>-<build type>; arguments
# are glob patterns that select them (default: all), e.g.
#   scripts/build-matrix.sh 'clang-*' '*-mingw-Release'
# PDFLASH_JOBS sets the parallel jobs of each build (default: nproc). ccache is
# used when it is installed. Exits non-zero when any combo failed; each one's
# output is in build-matrix/<combo>.log.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
top=$PWD
jobs=${PDFLASH_JOBS:-$(nproc)}
out=build-matrix

combos=()
for cc in gcc clang; do
  for os in native mingw; do
    for type in Debug Release RelWithDebInfo MinSizeRel; do
      combos+=("$cc-$os-$type")
    done
  done
done
[ $# -eq 0 ] && set -- '*'
selected=()
for combo in "${combos[@]}"; do
  for pattern in "$@"; do
    # shellcheck disable=SC2053
    if [[ $combo == $pattern ]]; then
      selected+=("$combo")
      break
    fi
  done
done
if [ ${#selected[@]} -eq 0 ]; then
  echo "build-matrix: no combo matches $*; combos are:" >&2
  printf '  %s\n' "${combos[@]}" >&2
  exit 2
fi

# Only the packages the chosen combos need.
want_windows=0 want_clang=0
for combo in "${selected[@]}"; do
  [[ $combo == *-mingw-* ]] && want_windows=1
  [[ $combo == clang-* ]] && want_clang=1
done
PDFLASH_WINDOWS=$want_windows PDFLASH_CLANG=$want_clang ./scripts/setup.sh || exit 1

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Trees of other checkouts below the same folder share the cache.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
fi

export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-/tmp/pdflash-wine}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}  # no Mono/Gecko installer prompts
unset DISPLAY WAYLAND_DISPLAY
version=$(sed -n 's/^project(pdflash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# build COMBO: configures, builds and smoke-runs one combo; prints its result.
build() {
  local combo=$1 cc os type dir log
  IFS=- read -r cc os type <<<"$combo"
  dir=$out/$combo
  log=$out/$combo.log
  local args=(-S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DPDFLASH_WERROR=ON "${launcher[@]}")
  case $cc-$os in
    gcc-native) args+=(-DCMAKE_CXX_COMPILER=g++) ;;
    clang-native) args+=(-DCMAKE_CXX_COMPILER=clang++) ;;
    gcc-mingw) args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake") ;;
    clang-mingw) args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-clang.cmake") ;;
  esac
  echo "== cmake ${args[*]}" >"$log"
  if ! cmake "${args[@]}" >>"$log" 2>&1; then
    echo "configure-failed"
    return
  fi
  # Past the first error, so that the log lists every one.
  local keep_going=-k
  grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt" && keep_going="-k 0"
  echo "== build -j$jobs" >>"$log"
  # shellcheck disable=SC2086
  if ! nice -n 10 cmake --build "$dir" -j"$jobs" -- $keep_going >>"$log" 2>&1; then
    echo "build-failed"
    return
  fi
  local run=("$dir/pdflash")
  [ "$os" = mingw ] && run=(wine "$dir/pdflash.exe")
  # Into a file, not a pipe: wine's background processes would hold a pipe open.
  local status=0
  timeout 300 "${run[@]}" --version </dev/null >"$dir/version.txt" 2>&1 || status=$?
  printf '== %s --version (exit %s)\n' "${run[*]}" "$status" >>"$log"
  cat "$dir/version.txt" >>"$log"
  if [ "$status" -ne 0 ] || ! tr -d '\r' <"$dir/version.txt" | grep -qx "pdflash $version"; then
    echo "smoke-failed"
    return
  fi
  echo "ok"
}

mkdir -p "$out"
results=() seconds=() failed=0
for combo in "${selected[@]}"; do
  printf 'build-matrix: %-28s ' "$combo"
  start=$SECONDS
  result=$(build "$combo")
  results+=("$result")
  seconds+=($((SECONDS - start)))
  [ "$result" = ok ] || failed=$((failed + 1))
  printf '%s (%ss)\n' "$result" "${seconds[-1]}"
done

printf '\n%-28s %-17s %8s\n' combo result seconds
for i in "${!selected[@]}"; do
  printf '%-28s %-17s %8s\n' "${selected[$i]}" "${results[$i]}" "${seconds[$i]}"
done
if [ "$failed" -ne 0 ]; then
  echo "build-matrix: $failed of ${#selected[@]} failed; see $out/<combo>.log" >&2
  exit 1
fi
