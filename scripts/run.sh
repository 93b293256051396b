#!/usr/bin/env bash
# Installs what is missing, builds, and runs halvyn with its console on
# http://127.0.0.1:7080/. Extra arguments go to halvyn.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset default >/dev/null
# Only the three programs: the tests, the benchmark and the soak are
# scripts/test.sh's to build.
cmake --build --preset default -j "$(nproc)" --target halvyn halvyn-devsim halvyn-client
exec build/default/app/halvyn "$@"
