#!/usr/bin/env bash
# Reads a card through the card-reader model (tests/support/faulty_fuse.py:
# FUSE, no page cache, a set bandwidth, every request counted) with
# `kalvory recover`, `cat`, PhotoRec, `dd bs=1M` and `kalvory image`, and
# prints each one's time and the bytes it read against the card's size.
# Not part of CI: it needs root (FUSE), takes minutes and a few GiB in WORK.
#   bash bench/card_reader_bench.sh [KALVORY]
# Environment: CARD_MIB (1024), BANDWIDTH bytes/s (100000000), FORMAT quick|none
# (quick: the card is quick-formatted after it was filled), WORK (/tmp/kalvory-card-bench),
# RUNS (the runs to make, in order: "cat dd image recover photorec"), OUT (where
# recover and PhotoRec write: WORK; a tmpfs keeps the host disk's writeback out of the figures).
set -euo pipefail
cd "$(dirname "$0")/.."
kalvory=$(realpath "${1:-build/release/cli/kalvory}")
card_mib=${CARD_MIB:-1024}
bandwidth=${BANDWIDTH:-100000000}
format=${FORMAT:-quick}
work=${WORK:-/tmp/kalvory-card-bench}
out=${OUT:-$work}
server=$(realpath tests/support/faulty_fuse.py)
card=$work/card-$card_mib-$format.img
mkdir -p "$work"

for tool in mkfs.fat mcopy mmd ffmpeg exiftool; do
  command -v "$tool" >/dev/null || { echo "card_reader_bench: $tool is needed to make the card" >&2; exit 1; }
done

# A FAT32 card nearly full of AVCHD-like streams and Exif stills, made once.
make_card() {
  [ -f "$card.done" ] && return
  local scratch=$work/media
  rm -rf "$scratch" "$card" && mkdir -p "$scratch"
  ffmpeg -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=25 -t 8 -c:v mpeg2video -b:v 24M \
    -f mpegts -mpegts_m2ts_mode 1 -muxrate 30M "$scratch/stream.mts" # a set mux rate: arrival times that climb, as a camcorder's
  for i in $(seq 1 20); do
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080,hue=h=$((i * 17))" -frames:v 1 -q:v 3 "$scratch/$i.jpg"
    exiftool -q -overwrite_original -Make=Kalvory -Model=Bench "-DateTimeOriginal=2026:01:01 10:00:$((i % 60))" "$scratch/$i.jpg"
  done
  truncate -s "${card_mib}M" "$card"
  mkfs.fat -F 32 -s 8 "$card" >/dev/null
  mmd -i "$card" ::DCIM ::DCIM/100CDPFP ::PRIVATE ::PRIVATE/AVCHD ::PRIVATE/AVCHD/BDMV ::PRIVATE/AVCHD/BDMV/STREAM
  for i in $(seq 1 20); do
    mcopy -i "$card" "$scratch/$i.jpg" "::DCIM/100CDPFP/$(printf 'IMGA%04d.JPG' "$i")"
  done
  local stream_bytes n=0
  stream_bytes=$(stat -c %s "$scratch/stream.mts")
  # Fill to about 90 %.
  while [ $(( (n + 1) * stream_bytes )) -lt $(( card_mib * 1024 * 1024 * 9 / 10 )) ]; do
    mcopy -i "$card" "$scratch/stream.mts" "::PRIVATE/AVCHD/BDMV/STREAM/$(printf '%05d.MTS' "$n")"
    n=$((n + 1))
  done
  [ "$format" = quick ] && mkfs.fat -F 32 -s 8 "$card" >/dev/null
  echo "card: $card_mib MiB FAT32, $n streams of $stream_bytes bytes and 20 stills, format: $format"
  touch "$card.done"
}

mnt=$work/mnt
server_pid=
stats=$work/stats
mount_model() {
  mkdir -p "$mnt"
  /usr/bin/python3 "$server" "$card" "$mnt" --bandwidth "$bandwidth" --stats "$stats" >"$work/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [ -e "$mnt/card.img" ] && return; sleep 0.1; done
  echo "card_reader_bench: the model did not mount (see $work/server.log)" >&2
  exit 1
}
unmount_model() {
  fusermount -u "$mnt" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}
trap unmount_model EXIT

card_bytes=0
declare -A seconds
# run NAME COMMAND...: one fresh mount per run, so the counts are the run's own.
run() {
  local name=$1; shift
  mount_model
  local start end bytes requests
  start=$(date +%s.%N)
  "$@" >"$work/$name.out" 2>"$work/$name.err" || echo "  ($name exited $?; see $work/$name.err)"
  end=$(date +%s.%N)
  # Fixed-width decimal with leading zeros: read as base 10.
  bytes=$((10#$(awk '/^bytes/ {print $2}' "$stats")))
  requests=$((10#$(awk '/^requests/ {print $2}' "$stats")))
  unmount_model
  seconds[$name]=$(echo "$end - $start" | bc -l)
  printf '%-16s %8.2f s  %7.1f MB/s  read %.3fx the card  (%d requests)\n' "$name" "${seconds[$name]}" \
    "$(echo "$bytes / ${seconds[$name]} / 1000000" | bc -l)" "$(echo "$bytes / $card_bytes" | bc -l)" "$requests"
}

make_card
card_bytes=$(stat -c %s "$card")
echo "model: $((bandwidth / 1000000)) MB/s, no page cache; card $card ($card_bytes bytes)"
rm -rf "$out/recovered" "$out/photorec" "$work/image.img" "$work/image.img.map"

for what in ${RUNS:-cat dd image recover photorec}; do
  case $what in
  cat) run cat sh -c "cat '$mnt/card.img' > /dev/null" ;;
  dd) # Both dd and kalvory image write an image and flush it at the end.
    run dd-bs=1M dd if="$mnt/card.img" of="$work/dd.img" bs=1M conv=fsync
    rm -f "$work/dd.img" ;;
  image)
    run kalvory-image "$kalvory" image "$mnt/card.img" "$work/image.img" --map "$work/image.img.map"
    cmp -s "$card" "$work/image.img" && echo "  the image equals the card" || echo "  THE IMAGE DIFFERS FROM THE CARD"
    rm -f "$work/image.img" "$work/image.img.map" ;;
  recover)
    run kalvory-recover "$kalvory" recover "$mnt/card.img" "$out/recovered"
    rm -rf "$out/recovered" ;;
  photorec)
    if command -v photorec >/dev/null; then
      mkdir -p "$out/photorec"
      run photorec sh -c "cd '$out/photorec' && photorec /log /d '$out/photorec/out' /cmd '$mnt/card.img' partition_none,fileopt,everything,enable,wholespace,search"
      rm -rf "$out/photorec"
    else
      echo "photorec: not installed (Debian package testdisk); skipped"
    fi ;;
  esac
done

ratio() {
  [ -n "${seconds[$1]:-}" ] && [ -n "${seconds[$2]:-}" ] && echo "$3: $(echo "scale=3; ${seconds[$1]} / ${seconds[$2]}" | bc -l)x"
  return 0
}
ratio dd-bs=1M kalvory-image "kalvory image's rate against dd bs=1M's"
ratio kalvory-recover cat "kalvory recover's time against cat's"
ratio kalvory-recover photorec "kalvory recover's time against PhotoRec's"
exit 0
