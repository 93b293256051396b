#!/usr/bin/env bash
# Installs what is missing, checks the C++ files against .clang-format
# (scripts/check-format.sh), builds the normal, the ASan+UBSan and the TSan
# builds, and runs every test: all kinds in the normal build, the unit,
# integration and soak tests again under both sanitizers, and a short run
# (about 20 s) of every fuzzer in the ASan build.
# Set HALVYN_TEST_BUILDS="default" (or "default asan") to run fewer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

# The lines of a failed test's output that say what failed (at most 12), from
# the build's LastTest.log: gtest failures, node's "not ok" and its errors.
failure_lines() {
  local log="build/$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  awk -v name="$2" '
    $0 ~ /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); inside = ($0 == name); next }
    /^Command: / { next }
    inside && /Failure|FAILED|not ok|error:|Error|Expected|Which is|Timeout|expected|actual/ { print }
  ' "$log" | head -n 12
}

status=0
summary=()
# A format difference fails the run at the end; the builds and tests still run.
echo "=== format"
if scripts/check-format.sh; then
  summary+=("format: ok")
else
  status=1
  summary+=("format: FAILED")
fi

builds=${HALVYN_TEST_BUILDS:-default asan tsan}
jobs=$(nproc)
for build in $builds; do
  echo "=== $build build"
  cmake --preset "$build" >/dev/null
  cmake --build --preset "$build" -j "$jobs"
  if [ "$build" = default ]; then
    labels=""
  elif [ "$build" = asan ]; then
    labels="unit|integration|fuzz|soak"
  else
    labels="unit|integration|soak"
  fi
  if ctest --preset "$build" -j "$jobs" ${labels:+-L "$labels"}; then
    summary+=("$build: all tests passed")
  else
    status=1
    summary+=("$build: FAILED")
    failed_log="build/$build/Testing/Temporary/LastTestsFailed.log"
    [ -f "$failed_log" ] && while IFS= read -r line; do
      summary+=("  $line")
      while IFS= read -r detail; do summary+=("    $detail"); done < <(failure_lines "$build" "${line#*:}")
    done <"$failed_log"
  fi
done
# Repeated last, so that the tail of a long log says which step failed.
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit $status
