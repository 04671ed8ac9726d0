#!/usr/bin/env bash
# Proves the package on a clean Debian 12: makes a fresh bookworm root with
# debootstrap from the mirror, installs the package there with apt-get
# (without recommended packages, so the declared dependencies must do), and
# runs the installed first start in it as an ordinary user
# (tests/kestrup/installed-first-run.sh --installed). Needs root and the
# mirror; takes some minutes. Build the package first: bash scripts/package.sh
#
# usage: package-on-clean-debian.sh [PACKAGE.deb]   (default build/norvale_*.deb)
# NORVALE_DEBIAN_MIRROR picks the mirror (default http://deb.debian.org/debian).
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(ls build/norvale_*.deb)}")
mirror=${NORVALE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot)" >&2; exit 1; }
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
fi

work=$(mktemp -d /var/tmp/norvale-clean-debian.XXXXXX)
# The chroot's mounts live in a private mount namespace and are gone by now.
trap 'rm -rf --one-file-system "$work"' EXIT
echo "debootstrap bookworm into $work/root ..."
debootstrap --variant=minbase bookworm "$work/root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log" >&2; exit 1; }
cp "$deb" tests/kestrup/installed-first-run.sh "$work/root/tmp/"
cp /etc/resolv.conf "$work/root/etc/resolv.conf"

unshare --mount --propagation private bash -euo pipefail -c '
  root=$1 deb=/tmp/$2
  # A mount point of its own, so that namespaces made inside can set their
  # mount propagation.
  mount --bind "$root" "$root"
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  chroot "$root" apt-get update -q
  # iproute2 is the test'"'"'s own need (it brings up loopback).
  chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "$deb" iproute2
  chroot "$root" bash /tmp/installed-first-run.sh --installed
' package-on-clean-debian "$work/root" "$(basename "$deb")"
