#!/usr/bin/env bash
# Runs one libFuzzer target for CTest (see fuzz/CMakeLists.txt).
#   run_fuzzer.sh smoke BINARY FUZZ_DIR NAME SECONDS ARTIFACT_DIR
#       fuzzes for SECONDS from a temporary copy of FUZZ_DIR/corpus/NAME; a
#       failing input is kept in ARTIFACT_DIR
#   run_fuzzer.sh regressions BINARY FUZZ_DIR NAME
#       runs every file of FUZZ_DIR/regressions/NAME and FUZZ_DIR/corpus/NAME once
set -euo pipefail
mode=$1 binary=$2 fuzz_dir=$3 name=$4

options=(-timeout=10 -rss_limit_mb=2048)
if [ -f "$fuzz_dir/dict/$name.dict" ]; then
  options+=(-dict="$fuzz_dir/dict/$name.dict")
fi

case $mode in
  smoke)
    seconds=$5 artifacts=$6
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/corpus" "$artifacts"
    if [ -d "$fuzz_dir/corpus/$name" ]; then
      cp -R "$fuzz_dir/corpus/$name/." "$work/corpus/"
    fi
    cd "$work"
    "$binary" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$work/corpus"
    ;;
  regressions)
    inputs=()
    for dir in "$fuzz_dir/regressions/$name" "$fuzz_dir/corpus/$name"; do
      [ -d "$dir" ] || continue
      while IFS= read -r -d '' file; do inputs+=("$file"); done \
        < <(find "$dir" -maxdepth 1 -type f ! -name '.*' -print0 | sort -z)
    done
    if [ ${#inputs[@]} -eq 0 ]; then
      echo "no inputs for $name"
      exit 0
    fi
    cd "$(mktemp -d)"
    trap 'rm -rf "$PWD"' EXIT
    "$binary" "${options[@]}" "${inputs[@]}"
    ;;
  *)
    echo "usage: $0 smoke|regressions BINARY FUZZ_DIR NAME [SECONDS ARTIFACT_DIR]" >&2
    exit 2
    ;;
esac
