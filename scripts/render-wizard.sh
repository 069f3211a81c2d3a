#!/usr/bin/env bash
# Renders the launcher and every wizard page to PNG files, in English, Japanese
# and Simplified Chinese, at 100 % and 200 % scale, under
# build/wizard-pages/<language>[-200]/ for a person to look at. Needs no
# display (Qt's offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
# Japanese and Chinese need fonts that hold their characters; the tests do not.
if [ "$(id -u)" = 0 ] && ! fc-list 2>/dev/null | grep -qi "noto.*cjk"; then
  apt-get install -y --no-install-recommends fonts-noto-cjk >/dev/null
fi
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory-wizard-render >/dev/null
# A screen large enough for the sheet at 200 % (the offscreen default is 800x600).
screens="$PWD/build/wizard-pages/screens.json"
mkdir -p build/wizard-pages
echo '{"screens": [{"name": "render", "x": 0, "y": 0, "width": 2400, "height": 2000, "logicalDpi": 96}]}' >"$screens"
for pair in en:C.UTF-8 ja:ja_JP.UTF-8 zh:zh_CN.UTF-8; do
  language="${pair%%:*}"
  for scale in 1 2; do
    out="build/wizard-pages/$language"
    if [ "$scale" = 2 ]; then out="$out-200"; fi
    rm -rf "$out"
    QT_QPA_PLATFORM="offscreen:configfile=$screens" QT_SCALE_FACTOR=$scale LC_ALL="${pair#*:}" \
      ./build/release/tests/wizard/kalvory-wizard-render "$out" 2>/dev/null
    echo "$out: $(ls "$out" | wc -l) pages"
  done
done
