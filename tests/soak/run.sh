#!/usr/bin/env bash
# Runs the soak for as long as you like, outside CTest and its timeout:
#   tests/soak/run.sh [--seconds N] [--seed S] [--build default|asan|tsan]
# Builds what the soak needs in that build (default: the normal one), then
# runs it: N seconds of load (120 unless given), then the end checks.
# Needs root (network namespaces). Ends by itself: the run is bounded by N,
# and a hard limit of N + 15 minutes stops a run that hangs.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=120
seed=""
build=default
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
case "$seconds" in ''|*[!0-9]*) echo "--seconds takes a whole number" >&2; exit 2 ;; esac

[ -f "build/$build/build.ninja" ] || cmake --preset "$build" >/dev/null
cmake --build "build/$build" --target soak_test halvyn halvyn-devsim -j2
export HALVYN_SOAK_SECONDS="$seconds"
if [ -n "$seed" ]; then export HALVYN_SOAK_SEED="$seed"; fi
exec timeout --kill-after=30 $((seconds + 900)) "build/$build/tests/soak/soak_test"
