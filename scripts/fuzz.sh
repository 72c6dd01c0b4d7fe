#!/usr/bin/env bash
# Runs every libFuzzer target (built into build-asan/ as scripts/sanitize.sh
# builds it) for a fixed time each, seeded from the example files, and reports
# executions and findings.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60, all)
#
# The corpus grows in build-asan/fuzz-corpus/ from run to run. A finding lands
# in build-asan/fuzz-findings/<target>/; once fixed, copy it to
# fuzz/regressions/<target>/ and the unit tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
all=(settings cmdline pd_file companion base64 challenge sim_files ecdsa)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

PDFLASH_CLANG=1 ./scripts/setup.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DPDFLASH_SANITIZE=address,undefined -DPDFLASH_FUZZ=ON \
  -DPDFLASH_BENCH=OFF -DPDFLASH_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)" --target mkfirmware pdsim pdflash \
  $(printf 'fuzz_%s ' "${targets[@]}")

root="$PWD/build-asan"
seeds="$root/fuzz-seeds"
rm -rf "$seeds" && mkdir -p "$seeds"
for t in "${all[@]}"; do mkdir -p "$seeds/$t"; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seeds: the example files, example firmware and a virtual board's files.
mkdir -p "$work/fw"
"$root/mkfirmware" "$work/fw" >/dev/null
ids=$'PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n'
cp examples/Setting.ini "$seeds/settings/example"
n=0
for extra in "" "ReadBinOnly=1" "BackUpOnly=1" "ReadVerOnly=1" "FlashDumpOnly=1" \
  "DbgMsg=1"$'\n'"OutputProgress=7" "NeedMathChallenge=1" "CreatePDImgOnly=1"; do
  printf '[Config]\n%sPD1Bin=new.bin\n%s\n' "$ids" "$extra" >"$seeds/settings/s$((n++))"
done
n=0
for line in "/F0" "/B0" "/U" "/CKFW" "/FV" $'/INI\nSetting.ini' $'/PATH\nx' $'/RDREG\n1000' \
  $'/WRREG\n1000\n5' "/GPIO1H" $'/F0\n/msgwnd:1234'; do
  printf '%s' "$line" >"$seeds/cmdline/c$((n++))"
done
n=0
for f in "$work"/fw/pd_*.bin; do
  for function in 0 1 2 3 4; do
    { printf "\\x0$function"; cat "$f"; } >"$seeds/pd_file/p$((n++))"
  done
done
n=0
for f in "$work"/fw/*.bin; do
  case "$(basename "$f")" in pd_*) continue ;; esac
  for which in 0 1 2; do
    { printf "\\x0$which"; cat "$f"; } >"$seeds/companion/c$((n++))"
  done
done
{ printf '\x00'; cat examples/Setting.ini; } >"$seeds/base64/encode"
{ printf '\x01'; base64 -w 60 examples/Challenge.ini; } >"$seeds/base64/decode"
cp examples/Challenge.ini "$seeds/challenge/example"
"$root/pdsim" init "$work/board" >/dev/null
"$root/pdsim" load "$work/board" 20000 "$(ls "$work"/fw/pd_*.bin | head -1)" >/dev/null
cp "$work/board/device.ini" "$seeds/sim_files/device_ini"
(cd "$work" && PDFLASH_SIM=board "$root/pdflash" /F0 >/dev/null 2>&1) || true
if [ -f "$work/board/state.ini" ]; then
  { cat "$work/board/device.ini"; printf '\0'; cat "$work/board/state.ini"; } >"$seeds/sim_files/with_state"
fi
printf '[Device]\nIdentity=B0\n[Device2]\nIdentity=C0\nFlashSize=100000\n' >"$seeds/sim_files/two"
# Signed images come from the program itself: the target makes them.
for t in "${targets[@]}"; do
  [ "$t" = ecdsa ] && (cd "$work" && PDFLASH_FUZZ_SEEDS="$seeds/ecdsa" "$root/fuzz/fuzz_ecdsa") >/dev/null
done

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
printf '%-10s %8s %12s %8s %8s %9s\n' target seconds executions execs/s corpus findings
found=0
for t in "${targets[@]}"; do
  corpus="$root/fuzz-corpus/$t"
  findings="$root/fuzz-findings/$t"
  mkdir -p "$corpus" "$findings"
  log="$root/fuzz-$t.log"
  # The targets write their scratch files under the temporary folder only.
  status=0
  # A signed image must be able to outgrow the room above its zone.
  max_len=200000
  [ "$t" = ecdsa ] && max_len=400000
  (cd "$work" && "$root/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$seeds/$t") >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  count=$(find "$findings" -type f | wc -l)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-10s %8s %12s %8s %8s %9s\n' "$t" "$seconds" "${execs:-?}" "${rate:-?}" \
    "$(ls "$corpus" | wc -l)" "$count"
  if [ "$status" -ne 0 ] || [ "$count" -ne 0 ]; then
    found=1
    echo "  finding(s) in $findings, log $log:" >&2
    grep -E 'ERROR|SUMMARY|runtime error' "$log" | head -5 >&2 || true
  fi
done
exit "$found"
