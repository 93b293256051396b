#!/usr/bin/env bash
# Runs the libFuzzer targets for as long as wanted, one target after another.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  how long each target fuzzes (default 1800)
#   TARGET   e.g. relay_dispatch or relay_dispatch_fuzzer (default: every target)
#
# Builds the fuzzers of the asan preset first. Each target fuzzes with
# FUZZ_WORKERS processes (default: the number of cores) from a work corpus,
# build/asan/fuzz/work/TARGET/corpus, seeded from fuzz/corpus/TARGET and kept
# between runs; the source tree's corpus is never written. The first input that
# crashes, hangs (10 s) or runs out of memory (2 GB) ends that target's run and
# is saved in fuzz/regressions/TARGET/ for review: once fixed, keep it there
# (committed) and the fuzz.TARGET.regressions test replays it.
# The full log of each run is build/asan/fuzz/work/TARGET/fuzz.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-1800}
[ $# -gt 0 ] && shift
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [SECONDS] [TARGET...]" >&2
  exit 2
fi
workers=${FUZZ_WORKERS:-$(nproc)}

targets=()
if [ $# -eq 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzzer}")
  done
else
  for name in "$@"; do targets+=("${name%_fuzzer}"); done
fi

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$workers" --target "${targets[@]/%/_fuzzer}"

status=0
for target in "${targets[@]}"; do
  binary=$root/build/asan/fuzz/${target}_fuzzer
  work=$root/build/asan/fuzz/work/$target
  regressions=$root/fuzz/regressions/$target
  mkdir -p "$work/corpus" "$regressions"
  if [ -d "fuzz/corpus/$target" ]; then
    cp -R -n "fuzz/corpus/$target/." "$work/corpus/"
  fi
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
           -artifact_prefix="$regressions/" -print_final_stats=1)
  # One worker fuzzes in this process; more run as libFuzzer's fork mode,
  # which shares the corpus between them.
  [ "$workers" -gt 1 ] && options+=(-fork="$workers")
  if [ -f "fuzz/dict/$target.dict" ]; then
    options+=(-dict="$root/fuzz/dict/$target.dict")
  fi

  echo "=== $target: ${seconds} s with $workers workers"
  before=$(find "$regressions" -type f | wc -l)
  (cd "$work" && "$binary" "${options[@]}" corpus) >"$work/fuzz.log" 2>&1 || true
  # The totals: fork mode's last progress line, or the single process's count.
  grep -E '^#[0-9]+: cov|^Done [0-9]+ runs' "$work/fuzz.log" | tail -n 1 || true
  found=$(( $(find "$regressions" -type f | wc -l) - before ))
  echo "corpus: $(find "$work/corpus" -type f | wc -l) inputs; new failing inputs: $found"
  if [ "$found" -gt 0 ]; then
    echo "see $work/fuzz.log and $regressions/"
    status=1
  fi
done
exit $status
