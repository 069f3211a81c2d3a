#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the whole test suite.
# Usage: scripts/test.sh [release|debug|asan|tsan]   (default: release)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
bash scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
