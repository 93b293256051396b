#!/usr/bin/env bash
# Checks of the Debian package, run by CTest one check at a time:
#
#   package_checks.sh CHECK BUILD_DIR PACKAGE_DIR VERSION [EXECUTABLE...]
#
#   build     cpack -G DEB in BUILD_DIR, the package into PACKAGE_DIR (the
#             fixture the other checks use)
#   contents  the package holds the executables, unit, manual page, README ...
#   depends   its dependencies were computed from the binaries
#   lintian   lintian reports no errors
#   runs      unpacked into a fresh folder, the programs run from there
#   unit      systemd-analyze accepts the unit, its hardening holds, and the
#             sysusers entry creates the service's user
#   manual    the manual page renders without warnings and documents every
#             option that halvyn --help lists
#
# Every step is bounded in time; nothing is installed on this machine.
set -euo pipefail

check=$1 build_dir=$2 package_dir=$3 version=$4
shift 4
executables=("$@")

architecture=$(dpkg --print-architecture)
deb=$package_dir/halvyn_${version}_${architecture}.deb
work=$(mktemp -d /tmp/halvyn-package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

need_package() {
  [ -f "$deb" ] || fail "$deb is missing (the build check makes it)"
}

# The package unpacked into a fresh folder, as dpkg would install its files.
unpack() {
  need_package
  mkdir -p "$work/root"
  dpkg-deb -x "$deb" "$work/root"
}

case "$check" in
  build)
    rm -rf "$package_dir"
    mkdir -p "$package_dir"
    (cd "$build_dir" && timeout 300 cpack -G DEB -B "$package_dir") || fail "cpack"
    need_package
    echo "built $deb"
    ;;

  contents)
    need_package
    listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
    expected=(
      ./usr/lib/systemd/system/halvyn.service
      ./usr/lib/sysusers.d/halvyn.conf
      ./usr/share/man/man8/halvyn.8.gz
      ./usr/share/doc/halvyn/README.md
      ./usr/share/doc/halvyn/copyright
      ./usr/share/doc/halvyn/changelog.gz
      ./usr/share/halvyn/wireshark/halvyn.lua
    )
    for executable in "${executables[@]}"; do expected+=("./usr/bin/$executable"); done
    for path in "${expected[@]}"; do
      grep -qxF "$path" <<<"$listing" || fail "$path is not in the package"
    done
    for executable in "${executables[@]}"; do
      mode=$(dpkg-deb -c "$deb" | awk -v p="./usr/bin/$executable" '$6 == p {print $1}')
      [ "$mode" = "-rwxr-xr-x" ] || fail "$executable has mode $mode"
    done
    [ "$(dpkg-deb -f "$deb" Package)" = halvyn ] || fail "package name"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
    echo "contents ok: ${#expected[@]} files"
    ;;

  depends)
    need_package
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    # dpkg-shlibdeps writes versioned dependencies from the symbols the
    # binaries use; a hand-written list would not know libc6's minimum version.
    grep -Eq '(^|, )libc6 \(>= [0-9]' <<<"$depends" || fail "no computed libc6 dependency"
    grep -Eq '(^|, )libstdc\+\+6 \(>= [0-9]' <<<"$depends" || fail "no libstdc++6 dependency"
    grep -Eq '(^|, )libsystemd0( |,|$)' <<<"$depends" || fail "no libsystemd0 dependency"
    # Every library halvyn itself needs belongs to a package named in Depends.
    unpack
    binary=$work/root/usr/bin/halvyn
    libraries=$(ldd "$binary")
    depended=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
    for soname in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      library=$(awk -v name="$soname" '$1 == name {print $3}' <<<"$libraries")
      [ -n "$library" ] || fail "$soname is not found"
      # dpkg knows a library under the path its package ships (/lib or /usr/lib).
      owner=$({ dpkg -S "$library" || dpkg -S "$(readlink -f "$library")"; } 2>/dev/null |
        head -1 | cut -d: -f1) || fail "no package owns $library"
      grep -qxF "$owner" <<<"$depended" || fail "$soname ($owner) is not in Depends"
      echo "$soname: $owner"
    done
    ;;

  lintian)
    need_package
    # Errors fail the check; warnings are shown.
    timeout 300 lintian --fail-on error --display-info --no-tag-display-limit "$deb" ||
      fail "lintian reported errors"
    echo "lintian: no errors"
    ;;

  runs)
    unpack
    out=$(timeout 10 "$work/root/usr/bin/halvyn" --version) || fail "halvyn --version"
    [ "$out" = "Halvyn, Version 1.7" ] || fail "halvyn --version printed '$out'"
    timeout 10 "$work/root/usr/bin/halvyn" --help | grep -q '^Usage: halvyn' || fail "halvyn --help"
    for executable in "${executables[@]}"; do
      if ldd "$work/root/usr/bin/$executable" | grep -q 'not found'; then
        fail "$executable misses a library: $(ldd "$work/root/usr/bin/$executable")"
      fi
      timeout 10 "$work/root/usr/bin/$executable" --help >/dev/null || fail "$executable --help"
    done
    echo "runs ok: $out"
    ;;

  unit)
    unpack
    unit=$work/root/usr/lib/systemd/system/halvyn.service
    # The machine's own units (targets the unit names) beside the package's
    # files; the manual page from the package.
    cp -an /usr/lib/systemd/system/. "$work/root/usr/lib/systemd/system/"
    output=$(MANPATH=$work/root/usr/share/man timeout 60 \
      systemd-analyze verify --root="$work/root" "$unit" 2>&1) || fail "systemd-analyze verify: $output"
    # verify exits 0 on some mistakes (an unknown Type=, for one) and only says so.
    [ -z "$output" ] || fail "systemd-analyze verify: $output"
    # Overall exposure 2.0 or lower ("OK"), and the hardening the service promises.
    timeout 60 systemd-analyze security --offline=yes --threshold=20 "$unit" >"$work/security" 2>&1 ||
      fail "exposure above 2.0: $(tail -1 "$work/security")"
    tail -1 "$work/security"
    json=$(timeout 60 systemd-analyze security --offline=yes --json=short "$unit" 2>/dev/null)
    for setting in 'User=/DynamicUser=' 'NoNewPrivileges=' 'PrivateTmp=' 'ProtectSystem=' \
      'ProtectHome=' 'RestrictAddressFamilies=~AF_PACKET' 'RestrictAddressFamilies=~…' \
      'CapabilityBoundingSet=~CAP_NET_ADMIN' 'RestrictSUIDSGID='; do
      grep -qF "\"set\":true,\"name\":\"$setting\"" <<<"$json" || fail "$setting is not set"
    done
    # The sysusers entry creates the unprivileged user the unit runs as.
    mkdir -p "$work/root/etc"
    timeout 30 systemd-sysusers --root="$work/root" halvyn.conf || fail "systemd-sysusers"
    entry=$(grep '^halvyn:' "$work/root/etc/passwd") || fail "no halvyn user"
    IFS=: read -r _ _ uid _ _ home shell <<<"$entry"
    [ "$uid" -gt 0 ] && [ "$uid" -lt 1000 ] || fail "halvyn is not a system user: $entry"
    [ "$home" = /var/lib/halvyn ] || fail "halvyn's home is $home"
    [ "$shell" = /usr/sbin/nologin ] || fail "halvyn's shell is $shell"
    echo "unit ok"
    ;;

  manual)
    unpack
    page=$work/root/usr/share/man/man8/halvyn.8.gz
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 timeout 30 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/page.txt")
    [ -z "$warnings" ] || fail "man reports: $warnings"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS CONSOLE NETWORK FILES SIGNALS 'EXIT STATUS'; do
      grep -q "^$section\$" "$work/page.txt" || fail "no $section section"
    done
    options=$(timeout 10 "$work/root/usr/bin/halvyn" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$options" ] || fail "halvyn --help lists no options"
    for option in $options; do
      # Options are set at the start of an item (hyphens may render as ‐).
      grep -qE -- "^ +${option//-/[-‐]}( |,|$)" "$work/page.txt" || fail "$option is not documented"
    done
    echo "manual ok: $(wc -w <<<"$options") options documented"
    ;;

  *)
    fail "unknown check $check"
    ;;
esac
