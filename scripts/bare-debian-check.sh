#!/usr/bin/env bash
# Proves that the README's commands work on a bare Debian 12: builds a
# minbase root with debootstrap (from the first Debian mirror in apt's
# sources), copies this checkout's committed files into it and, as root
# inside it, runs
#
#   1. scripts/run.sh --help      installs the build dependencies, builds the
#                                  three programs and starts halvyn, which
#                                  prints its usage and exits;
#   2. scripts/run.sh --start      halvyn serving its console, in a network
#                                  namespace with loopback only (so nothing it
#                                  sends at start-up leaves the machine),
#                                  until it prints its console address; then
#                                  SIGTERM, and its exit status must be 0;
#   3. scripts/install-deps.sh test, the configuration of the three test
#                                  builds, the whole default build and its
#                                  unit tests (the start of scripts/test.sh);
#                                  with --full, scripts/test.sh itself (about
#                                  an hour on two cores).
#
# Prints how long each step took. Not part of scripts/test.sh: it downloads
# a few hundred megabytes of Debian packages and takes a quarter of an hour.
#
# Usage (root): scripts/bare-debian-check.sh [--full] [--keep] [WORKDIR]
#   WORKDIR defaults to /var/tmp/halvyn-bare-debian; the bootstrapped root
#   is kept there (base/) and copied for each run, so a second run skips
#   debootstrap. --keep leaves the run's root behind for a look inside.
set -euo pipefail

full=0
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=1 ;;
    --keep) keep=1 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
work=${1:-/var/tmp/halvyn-bare-debian}
source_dir=$(cd "$(dirname "$0")/.." && pwd)

[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, unshare)" >&2; exit 1; }
command -v debootstrap >/dev/null || {
  echo "Installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
}

# The mirror apt already uses for Debian's main archive.
mirror=$(grep -rhoE '(URIs:|deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
           /etc/apt/sources.list.d/ 2>/dev/null | grep -oE 'https?://[^ ]+' | head -n1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

step() {  # step NAME COMMAND...: runs it and records how long it took
  local name=$1 start end
  shift
  echo "=== $name"
  start=$(date +%s)
  "$@"
  end=$(date +%s)
  timings+=("$(printf '%-48s %4d s' "$name" $((end - start)))")
}
timings=()

mkdir -p "$work"
if [ ! -x "$work/base/usr/bin/apt-get" ]; then
  rm -rf "$work/base"
  step "debootstrap --variant=minbase bookworm" \
    debootstrap --variant=minbase bookworm "$work/base" "$mirror"
fi

root="$work/run"
rm -rf "$root"
cp -a "$work/base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/src/halvyn"
git -C "$source_dir" archive HEAD | tar -x -C "$root/src/halvyn"

# Everything below runs in a private mount namespace: /proc, /dev and /sys of
# the root vanish with it.
inside() {  # inside [--no-network] COMMAND: a shell command as root in the root
  local unshare=(unshare --mount --fork) loopback=
  if [ "$1" = --no-network ]; then
    unshare+=(--net)
    loopback="ip link set lo up"
    shift
  fi
  "${unshare[@]}" sh -c '
    set -e
    $3
    mount -t proc proc "$1/proc"
    mount --rbind /dev "$1/dev"
    mount --make-rslave "$1/dev"
    mount -t sysfs sysfs "$1/sys"
    exec chroot "$1" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
      bash -c "cd /src/halvyn || exit 1
$2"
  ' sh "$root" "$1" "$loopback"
}

step "scripts/run.sh --help (install, build, start)" inside 'scripts/run.sh --help >/dev/null'

# A second run: nothing to install or build; halvyn runs until it has said
# where its console is, then gets SIGTERM.
run_halvyn() {
  inside --no-network '
    scripts/run.sh --start > /tmp/halvyn.out 2> /tmp/halvyn.err &
    pid=$!
    for _ in $(seq 600); do
      grep -q "^Console: " /tmp/halvyn.out && break
      sleep 0.1
    done
    kill -TERM $pid
    wait $pid
    status=$?
    cat /tmp/halvyn.out /tmp/halvyn.err
    echo "halvyn exit status $status"
    grep -q "^Console: http://127.0.0.1:7080/" /tmp/halvyn.out && [ $status -eq 0 ]'
}
step "scripts/run.sh --start (no network), SIGTERM" run_halvyn

if [ "$full" -eq 1 ]; then
  step "scripts/test.sh" inside 'scripts/test.sh'
else
  step "scripts/install-deps.sh test" inside 'scripts/install-deps.sh test >/dev/null'
  step "configure default, asan and tsan" \
    inside 'set -e; for p in default asan tsan; do cmake --preset $p >/dev/null; echo "$p configured"; done'
  step "build everything (default), ctest -L unit" \
    inside 'set -eo pipefail; cmake --build --preset default -j "$(nproc)" >/dev/null; ctest --preset default -L unit -j "$(nproc)" | tail -n 4'
fi

[ "$keep" -eq 1 ] || rm -rf "$root"
echo "=== timings (mirror $mirror, $(nproc) cores)"
printf '%s\n' "${timings[@]}"
