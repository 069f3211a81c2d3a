#!/usr/bin/env bash
# Builds Kalvory and runs the main job on the built-in sample (no card needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory-foundation-demo
./build/release/demo/kalvory-foundation-demo
