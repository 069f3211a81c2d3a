#!/usr/bin/env bash
# The confirmation page's thumbnail strip on a card of 1,000 stills, with
# Exif thumbnails and with pictures to decode: it must fill within 1 s while
# the interface thread never stalls for more than 50 ms. Exits non-zero when
# a run misses either.
#   bash bench/wizard_preview_bench.sh [STILLS]
set -euo pipefail
cd "$(dirname "$0")/.."
stills=${1:-1000}
cmake --build --preset release --target wizard_preview_bench >/dev/null
status=0
for source in exif decode; do
  QT_QPA_PLATFORM=offscreen ./build/release/bench/wizard/wizard_preview_bench "$stills" "$source" 2>/dev/null || status=1
done
exit $status
