#!/usr/bin/env bash
# Builds the Debian packages build/norvale_<version>_<arch>.deb (the desktop
# program) and build/norvale-services_<version>_<arch>.deb (the operator's
# services as a system service), and checks what they hold: the program
# folder, the links, the desktop entry, the unit, the settings and the declared
# dependencies. Install with: sudo apt-get install ./build/norvale_*.deb
#
# usage: scripts/package.sh [BUILD_DIR]   another build folder than build/; one
#        configured with -DBUILD_TESTING=OFF builds only what the packages hold
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/build.sh "$dir"
rm -f "$dir"/norvale_*.deb "$dir"/norvale-services_*.deb
(cd "$dir" && cpack -G DEB >/dev/null && cpack -G DEB -D NORVALE_SERVICES_PACKAGE=ON >/dev/null)
deb=$(ls "$dir"/norvale_*.deb)
services_deb=$(ls "$dir"/norvale-services_*.deb)

fail() { echo "package check: $*" >&2; exit 1; }
contents=$(dpkg-deb --contents "$deb")
for path in usr/lib/norvale/norvale usr/lib/norvale/norvale-cli usr/lib/norvale/kestrup usr/lib/norvale/norvale-services \
            usr/lib/norvale/readme.txt usr/lib/norvale/set.ini \
            usr/lib/norvale/setup/odbc-FreeTDS.ini usr/lib/norvale/setup/odbc-SQLite3.ini \
            "usr/lib/norvale/setup/libtdsodbc.so -> " "usr/lib/norvale/setup/libsqlite3odbc.so -> " \
            "usr/lib/norvale/setup/NotoSerifCJK-Regular.ttc -> " "usr/lib/norvale/setup/NotoSansCJK-Regular.ttc -> " \
            "usr/bin/norvale -> ../lib/norvale/norvale" "usr/bin/norvale-cli -> ../lib/norvale/norvale-cli" \
            "usr/bin/norvale-services -> ../lib/norvale/norvale-services" \
            usr/share/applications/norvale.desktop usr/share/icons/hicolor/scalable/apps/norvale.svg \
            usr/share/icons/hicolor/256x256/apps/norvale.png; do
  grep -qF "./$path" <<<"$contents" || fail "$path is missing"
done

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libqt6sql6 libcurl4 libicu72 libqt6sql6-odbc libqt6sql6-sqlite qt6-qpa-plugins \
               qt6-translations-l10n libodbc2 odbcinst tdsodbc libsqliteodbc fonts-noto-cjk fontconfig; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "the package does not depend on $package"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/norvale.desktop" || fail "the desktop entry is not valid"

grep -q "etc/norvale\|lib/systemd" <<<"$contents" && fail "the desktop package holds the service's files"

contents=$(dpkg-deb --contents "$services_deb")
for path in usr/sbin/norvale-services usr/lib/systemd/system/norvale-services.service etc/norvale/services.conf \
            usr/share/doc/norvale-services/README.md; do
  grep -qF "./$path" <<<"$contents" || fail "$path is missing from $services_deb"
done
grep -q "usr/lib/norvale/\|usr/bin/" <<<"$contents" && fail "$services_deb holds the desktop package's files"
[ "$(dpkg-deb --ctrl-tarfile "$services_deb" | tar -xO ./conffiles)" = /etc/norvale/services.conf ] ||
  fail "/etc/norvale/services.conf is not a conffile"
services_depends=$(dpkg-deb --field "$services_deb" Depends)
for package in libqt6core6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql libcurl4 libmaxminddb0 ca-certificates systemd; do
  grep -qE "(^|, )$package( |,|$)" <<<"$services_depends" || fail "$services_deb does not depend on $package"
done
dpkg-deb --extract "$services_deb" "$unpacked"
if command -v systemd-analyze >/dev/null; then
  # Checks the unit's syntax; that the program is missing here is no fault.
  problems=$(systemd-analyze verify "$unpacked/usr/lib/systemd/system/norvale-services.service" 2>&1 |
               grep -v "usr/sbin/norvale-services" || true)
  [ -z "$problems" ] || fail "the unit does not verify: $problems"
fi

echo "$deb"
echo "Depends: $depends"
echo "$services_deb"
echo "Depends: $services_depends"
