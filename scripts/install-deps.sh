#!/usr/bin/env bash
# Installs the Debian packages Halvyn needs, only those not installed yet.
# Usage: scripts/install-deps.sh [build|test]   (test adds what the tests use)
#
# "build" is everything the default configuration needs to configure and
# build, GoogleTest included: it configures the tests too, even when only the
# programs are built (scripts/run.sh).
set -euo pipefail

kind=${1:-build}
packages=(cmake ninja-build g++ pkg-config libmicrohttpd-dev libcpp-httplib-dev nlohmann-json3-dev
          libsystemd-dev googletest libgtest-dev libgmock-dev)
if [ "$kind" = test ]; then
  packages+=(clang libclang-rt-14-dev clang-format iproute2
             chromium coturn
             dpkg-dev file lintian systemd man-db tshark)
fi

# Node.js and npm may come from another packaging of Node (which bundles npm
# and conflicts with Debian's npm package): only install Debian's when the
# commands are missing.
if [ "$kind" = test ]; then
  command -v node >/dev/null 2>&1 || packages+=(nodejs)
  command -v npm >/dev/null 2>&1 || packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
