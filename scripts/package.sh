#!/usr/bin/env bash
# Builds the Debian package build/norvale_<version>_<arch>.deb and checks what
# it holds: the program folder, the links, the desktop entry and the declared
# dependencies. Install it with: sudo apt-get install ./build/norvale_*.deb
#
# usage: scripts/package.sh [BUILD_DIR]   another build folder than build/; one
#        configured with -DBUILD_TESTING=OFF builds only what the package holds
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/build.sh "$dir"
rm -f "$dir"/norvale_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/norvale_*.deb)

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

echo "$deb"
echo "Depends: $depends"
