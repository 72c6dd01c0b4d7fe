#!/usr/bin/env bash
# Builds the tool and composes a flash image from a generated example firmware.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp build/pdflash build/Challenge.ini "$demo/"
build/mkfirmware "$demo"
cat > "$demo/Setting.ini" <<'INI'
[Config]
PD1Bin=pd_50k_v0E010200.bin
CreatePDImgOnly=2
ImgProject=Demo_Board
INI
(cd "$demo" && ./pdflash)
ls -l "$demo"/NewPD1Image_*.bin
