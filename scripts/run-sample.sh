#!/usr/bin/env bash
# Builds Kalvory, writes the built-in sample card (a small FAT16 image with live
# and deleted camcorder files, and a clip and stills an earlier quick format
# left in its free space) and recovers it into ./recovered.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory kalvory-make-sample-card >/dev/null
mkdir -p build/sample
./build/release/demo/kalvory-make-sample-card build/sample/card.img
rm -rf recovered # the sample's own output folder, fresh on every run
./build/release/cli/kalvory recover build/sample/card.img recovered
