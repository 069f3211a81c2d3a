#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan+UBSan) and runs each for
# SECONDS (default 60) from its seed corpus, one target after another in one
# process (a single job, a single worker). Inputs that crash, hang or leak go
# to build/fuzz/findings/<target>/; a fixed one belongs in
# fuzz/findings/<target>/, which the normal test run replays.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fat1216 fat32 exfat mts_length management_files jpeg dv_clip xml_length verify file_stream partition_table
           mapfile iso_boxes iso_sample_tables clip_meta)
fi
build=build/fuzz

# clang and its libFuzzer runtime are only needed here, not by the test build.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang libclang-rt-14-dev
  fi
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKALVORY_FUZZ=ON -DKALVORY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target kalvory_fuzz_seeds "${targets[@]/#/fuzz_}"
# Seeds are made again only when their maker changed, so that two runs of
# this script (for different targets) can share the build.
if [ ! -d "$build/seeds" ] || [ "$build/fuzz/kalvory_fuzz_seeds" -nt "$build/seeds" ]; then
  rm -rf "$build/seeds.new"
  ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/kalvory_fuzz_seeds" "$build/seeds.new"
  rm -rf "$build/seeds" && mv "$build/seeds.new" "$build/seeds"
fi

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  # New inputs go to the first folder; the seeds and the saved findings are read.
  read_only=("$build/seeds/$target")
  if [ -d "fuzz/findings/$target" ]; then read_only+=("fuzz/findings/$target"); fi
  set +e
  "$build/fuzz/fuzz_$target" "$corpus" "${read_only[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" >"$build/$target.log" 2>&1
  code=$?
  set -e
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^SUMMARY' \
    "$build/$target.log" || true
  if [ "$code" != 0 ]; then
    echo "== $target: FINDING (exit $code), see $build/$target.log and $findings/" >&2
    status=1
  fi
done
exit "$status"
