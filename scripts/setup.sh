#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Norvale needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-odbc
  qt6-translations-l10n
  libgl-dev
  libcurl4-openssl-dev
  libc-ares-dev
  libcpp-httplib-dev
  libmaxminddb-dev
  libicu-dev
  unixodbc unixodbc-dev tdsodbc libsqliteodbc
  sqlite3
  curl
  postgresql odbc-postgresql libqt6sql6-psql
  fonts-noto-cjk
  xvfb xauth openbox x11-utils
  dbus-daemon dbus-bin at-spi2-core xdotool
  dpkg-dev file desktop-file-utils
  util-linux iproute2
  # the services bench: the load client, and the reference server it measures against
  wrk nginx
  # several instances behind one address, and its failover test
  haproxy
  # the bulk search bench: the DNS load client that measures the test DNS server
  dnsperf
  # the sanitizer builds and fuzz targets: clang, its runtimes and symbolizer; the report check
  clang libclang-rt-14-dev llvm-14 python3
)

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
