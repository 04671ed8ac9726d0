#!/usr/bin/env bash
# Runs the installed programs as the users of the package meet them: Norvale
# started by its desktop entry hands off to Kestrup, which sets up the user's
# components and starts Norvale again, which runs normally; the user's next
# start runs normally at once. The installation's first-run marker stays, so
# that every user, root first, hands off once.
#
# The programs run in private pid, mount and network namespaces, so that the
# services can take Norvale's default port and everything started ends with
# the test. Where that is not permitted (not root), the test skips (77).
#
# usage: installed-first-run.sh --build BUILD_DIR   installs the build into a temporary root, which
#                                                   only the test sees laid over /usr
#        installed-first-run.sh --installed         the package is installed on this system
set -euo pipefail

if [ "$(id -u)" -ne 0 ] || ! unshare --pid --fork --mount-proc --net true 2>/dev/null; then
  echo "SKIP: needs root for private namespaces and an ordinary user to run as" >&2
  exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
case "${1:-}" in
  --build)
    staged=$tmp/root
    DESTDIR=$staged "${CMAKE:-cmake}" --install "$2" --prefix /usr >/dev/null ;;
  --installed)
    staged= ;;
  *)
    echo "usage: $0 --build BUILD_DIR | --installed" >&2
    exit 2 ;;
esac
mkdir -p "$tmp/home"
chown 65534:65534 "$tmp/home"

# Inside the namespaces: $1 the temporary folder, $2 the staged installation or "".
inside() {
  set -euo pipefail
  local tmp=$1 staged=$2 home=$1/home
  if [ -n "$staged" ]; then
    mount -t overlay overlay -o lowerdir="$staged/usr":/usr /usr
  fi
  local program=/usr/lib/norvale components=$home/.local/share/norvale/components
  # The desktop entry's command, found on the user's PATH.
  local norvale
  norvale=$(PATH=/usr/bin:/bin command -v "$(sed -n 's/^Exec=//p' /usr/share/applications/norvale.desktop)")
  # A sanitizer build's settings (where its reports go) survive the clean
  # environments below.
  local keep=() name
  for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS ASAN_SYMBOLIZER_PATH; do
    [ -z "${!name:-}" ] || keep+=("$name=${!name}")
  done
  # An ordinary user (nobody), who cannot write the program folder.
  local as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups
                 env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen "${keep[@]}")

  fail() { echo "FAIL: $*" >&2; cat "$tmp"/*.log >&2; exit 1; }
  wait_for() {  # wait_for SECONDS COMMAND...: polls until the command succeeds
    local limit=$(($1 * 10)); shift
    for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
    return 1
  }
  ready() { grep -q 'Norvale is ready' "$1"; }
  registered() {
    grep -qx "Driver=$components/libtdsodbc.so" "$home/.odbcinst.ini" 2>/dev/null &&
      grep -qx "Driver=$components/libsqlite3odbc.so" "$home/.odbcinst.ini" &&
      [ -L "$home/.local/share/fonts/NotoSerifCJK-Regular.ttc" ] &&
      [ -L "$home/.local/share/fonts/NotoSansCJK-Regular.ttc" ]
  }
  no_kestrup() { ! grep -qx kestrup /proc/[0-9]*/comm 2>/dev/null; }

  # The operator's services on Norvale's default address, free in here.
  ip link set lo up
  "$program/norvale-services" --port 8858 --registries off --db "$tmp/services.db" >"$tmp/services.log" 2>&1 &
  wait_for 10 grep -qs 'listening on' "$tmp/services.log" || fail "the services did not start"

  # Root can write the program folder, yet the installation's read-only marker
  # keeps the first run per user: root hands off once and the marker stays for
  # the others. Root's font cache goes to the machine's cache folder, so that
  # is laid over with an empty one here.
  mount -t tmpfs tmpfs /var/cache/fontconfig
  mkdir -p "$tmp/root-home"
  timeout 30 env -i PATH=/usr/bin:/bin HOME="$tmp/root-home" QT_QPA_PLATFORM=offscreen "${keep[@]}" "$norvale" \
    >"$tmp/root.log" 2>&1 || fail "root's first start did not hand off and end"
  wait_for 60 ready "$tmp/root.log" || fail "Norvale did not come back after Kestrup for root"
  [ -f "$tmp/root-home/.config/norvale/first-run-done" ] || fail "root's first run is not recorded"
  wait_for 10 no_kestrup || fail "Kestrup did not end"

  # An ordinary user's first start: hands off and ends at once; Kestrup brings
  # Norvale back.
  timeout 30 "${as_user[@]}" "$norvale" >"$tmp/first.log" 2>&1 || fail "the first start did not hand off and end"
  wait_for 60 ready "$tmp/first.log" || fail "Norvale did not come back after Kestrup"
  wait_for 10 no_kestrup || fail "Kestrup did not end"
  [ -f "$program/set.ini" ] || fail "the installation's marker is gone"
  [ -f "$home/.config/norvale/first-run-done" ] || fail "the user's first run is not recorded"
  for file in odbc-FreeTDS.ini odbc-SQLite3.ini libtdsodbc.so libsqlite3odbc.so \
              NotoSerifCJK-Regular.ttc NotoSansCJK-Regular.ttc; do
    [ -f "$components/$file" ] || fail "$file is not in the user's component folder"
  done
  wait_for 60 registered || fail "the drivers and faces were not registered for the user"

  # Next start: no hand-off, this very process becomes ready.
  "${as_user[@]}" "$norvale" >"$tmp/second.log" 2>&1 &
  local second=$!
  wait_for 60 ready "$tmp/second.log" || fail "the second start did not become ready"
  kill -0 "$second" 2>/dev/null || fail "the second start handed off again"
  echo "installed first run: handed off once, components set up, Norvale back and ready"
}
export -f inside
unshare --pid --fork --mount-proc --net bash -c 'inside "$1" "$2"' inside "$tmp" "$staged"
