#!/usr/bin/env bash
# Builds the tool and runs its main job, a firmware update, on a virtual
# device that holds an older firmware.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp build/pdflash build/pdsim build/Challenge.ini "$demo/"
cd "$demo"
../mkfirmware . >/dev/null
cat > Setting.ini <<'INI'
[Config]
PD1VID=2109
PD1PID=0107
PD1RomVID=2109
PD1RomPID=1107
PD1Bin=pd_50k_v0E010200.bin
ResetAfterUpdate=1
OutputProgress=2
INI

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
say "A virtual board running firmware 0E.01.01.00"
./pdsim init board
./pdsim load board 20000 pd_50k_v0E010100.bin
./pdsim show board

say "pdflash: update to pd_50k_v0E010200.bin (virtual time)"
status=0
PDFLASH_SIM=board ./pdflash || status=$?
echo "exit code: $status (1 = PASS)"

say "pdflash /F0: the running version after the update"
version_status=0
PDFLASH_SIM=board ./pdflash /F0 || version_status=$?
./pdsim show board
[ "$status" -eq 1 ]
