#!/bin/sh
# Runs the console's browser tests: Playwright (playwright-core) driving Debian's Chromium
# against the console of a real halvyn.
#
#   HALVYN_BIN=build/default/app/halvyn tests/browser/run.sh [TEST_FILE...]
#
# HALVYN_BIN defaults to build/default/app/halvyn of this tree, HALVYN_DEVSIM_BIN to the
# halvyn-devsim beside it, HALVYN_CLIENT_BIN (absolute) to that build's halvyn-client.
# Installs the npm packages from package-lock.json when node_modules is missing, and
# Debian's Chromium when /usr/bin/chromium is missing and this runs as root. Screenshots
# go to ARTIFACT_DIR (default tests/browser/artifacts).
#
# The tests run in a network namespace of their own with only loopback up (multicast routed
# to it): halvyn's network start-up and the simulated LAN devices stay inside, and nothing
# leaves the machine. Exits 77 (skipped) where no such namespace can be made.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
absolute() { (cd "$(dirname "$1")" && printf '%s/%s\n' "$(pwd)" "$(basename "$1")"); }

: "${HALVYN_BIN:=$here/../../build/default/app/halvyn}"
HALVYN_BIN=$(absolute "$HALVYN_BIN")
: "${HALVYN_DEVSIM_BIN:=$(dirname "$HALVYN_BIN")/../tools/devsim/halvyn-devsim}"
if [ -e "$HALVYN_DEVSIM_BIN" ]; then HALVYN_DEVSIM_BIN=$(absolute "$HALVYN_DEVSIM_BIN"); fi
: "${CHROMIUM_BIN:=/usr/bin/chromium}"
export HALVYN_BIN HALVYN_DEVSIM_BIN CHROMIUM_BIN

if [ -z "${HALVYN_PRIVATE_NETWORK:-}" ]; then
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
  if [ ! -d "$here/node_modules/playwright-core" ]; then
    (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
  fi
  # Into a network namespace of our own: as root, or else through a user namespace.
  for flags in "--net" "--net --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $flags true 2>/dev/null; then
      HALVYN_PRIVATE_NETWORK=1 exec unshare $flags sh "$here/run.sh" "$@"
    fi
  done
  echo "run.sh: skipped: cannot make a private network namespace (unshare --net)" >&2
  exit 77
fi

ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo
# An address of the namespace's own besides loopback, for the console's remote mode.
ip addr add 10.77.0.1/32 dev lo

cd "$here"
if [ $# -eq 0 ]; then set -- *.test.mjs; fi
exec node --test --test-concurrency=1 --test-timeout=300000 "$@"
