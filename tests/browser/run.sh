#!/bin/sh
# Runs the console's browser tests: Playwright (playwright-core) driving Debian's Chromium
# against the console of a real halvyn.
#
#   HALVYN_BIN=build/default/app/halvyn tests/browser/run.sh [TEST_FILE...]
#
# HALVYN_BIN defaults to build/default/app/halvyn of this tree. Installs the npm packages
# from package-lock.json when node_modules is missing, and Debian's Chromium when
# /usr/bin/chromium is missing and this runs as root. Screenshots go to ARTIFACT_DIR
# (default tests/browser/artifacts).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
: "${HALVYN_BIN:=$here/../../build/default/app/halvyn}"
HALVYN_BIN=$(cd "$(dirname "$HALVYN_BIN")" && pwd)/$(basename "$HALVYN_BIN")
export HALVYN_BIN
: "${CHROMIUM_BIN:=/usr/bin/chromium}"
export CHROMIUM_BIN

if [ ! -x "$HALVYN_BIN" ]; then
  echo "run.sh: no halvyn at $HALVYN_BIN (build it, or set HALVYN_BIN)" >&2
  exit 1
fi
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  echo "run.sh: node and npm are needed" >&2
  exit 1
fi
if [ ! -x "$CHROMIUM_BIN" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null
  else
    echo "run.sh: Chromium is missing: apt-get install -y chromium" >&2
    exit 1
  fi
fi

cd "$here"
if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi

if [ $# -gt 0 ]; then
  exec node --test --test-concurrency=1 --test-timeout=300000 --test-reporter=spec "$@"
fi
exec npm test --silent
