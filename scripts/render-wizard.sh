#!/usr/bin/env bash
# Renders the launcher and every wizard page to PNG files, in English, Japanese
# and Simplified Chinese, under build/wizard-pages/<language>/ for a person to
# look at. Needs no display (Qt's offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
# Japanese and Chinese need fonts that hold their characters; the tests do not.
if [ "$(id -u)" = 0 ] && ! fc-list 2>/dev/null | grep -qi "noto.*cjk"; then
  apt-get install -y --no-install-recommends fonts-noto-cjk >/dev/null
fi
cmake --preset release >/dev/null
cmake --build --preset release --target kalvory-wizard-render >/dev/null
for pair in en:C.UTF-8 ja:ja_JP.UTF-8 zh:zh_CN.UTF-8; do
  language="${pair%%:*}"
  out="build/wizard-pages/$language"
  rm -rf "$out"
  QT_QPA_PLATFORM=offscreen LC_ALL="${pair#*:}" ./build/release/tests/wizard/kalvory-wizard-render "$out" 2>/dev/null
  echo "$out: $(ls "$out" | wc -l) pages"
done
