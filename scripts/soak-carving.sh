#!/usr/bin/env bash
# A longer run of the carving property test: N seeded card layouts (default
# 3000) through the sector search, each file checked byte for byte.
#   bash scripts/soak-carving.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory_tests_restorelib
KALVORY_LAYOUTS="${1:-3000}" build/release/tests/kalvory_tests_restorelib --gtest_filter='CarvedLayouts.*'
