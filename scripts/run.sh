#!/usr/bin/env bash
# Installs what is missing, builds, and runs halvyn with its console on
# http://127.0.0.1:7080/. Extra arguments go to halvyn.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/app/halvyn "$@"
