#!/usr/bin/env bash
# The full-size interleaved card: 800 stills on FAT32, every second deleted,
# two streams written into the freed clusters in turns and deleted too. Both
# directory modes must give back the 400 live stills and the two streams
# byte for byte (402 files) and none of the 400 overwritten stills. The suite
# runs a smaller card of the same kind.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory_tests_restorelib >/dev/null
KALVORY_FULL_INTERLEAVED=1 ./build/release/tests/kalvory_tests_restorelib --gtest_filter='*InterleavedStreams.*'
