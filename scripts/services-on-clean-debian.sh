#!/usr/bin/env bash
# Proves the service package on a clean Debian 12: makes a fresh bookworm root
# with debootstrap from the mirror, installs the package there with apt-get
# (without recommended packages, so the declared dependencies must do), then
# boots that root as a container (systemd-nspawn --boot, systemd as PID 1 and
# a network of its own). A check unit in it waits for the service, which
# nothing but its own enabling starts, fetches a status page and a missing
# page from it, reads the journal, and powers the container off. Needs root
# and the mirror; takes some minutes. Build the package first: bash scripts/package.sh
#
# usage: services-on-clean-debian.sh [norvale-services_*.deb]   (default build/norvale-services_*.deb)
# NORVALE_DEBIAN_MIRROR picks the mirror (default http://deb.debian.org/debian).
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(ls build/norvale-services_*.deb)}")
mirror=${NORVALE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, systemd-nspawn)" >&2; exit 1; }
tools=()
command -v debootstrap >/dev/null || tools+=(debootstrap)
command -v systemd-nspawn >/dev/null || tools+=(systemd-container)
if [ "${#tools[@]}" -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${tools[@]}"
fi

work=$(mktemp -d /var/tmp/norvale-services-debian.XXXXXX)
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root
echo "debootstrap bookworm into $root ..."
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log" >&2; exit 1; }
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf"

unshare --mount --propagation private bash -euo pipefail -c '
  root=$1 deb=/tmp/$2
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  chroot "$root" apt-get update -q
  # curl is the check'"'"'s own need.
  chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "$deb" curl
' services-on-clean-debian "$root" "$(basename "$deb")"

# The check, run once the container has booted; its findings land in /root.
cat >"$root/usr/local/bin/norvale-services-check" <<'CHECK'
#!/bin/bash
exec >/root/check.out 2>&1
page=http://127.0.0.1:8858/query/domain.asp?domain=chenglan.cn
for _ in $(seq 60); do
  systemctl is-active --quiet norvale-services && curl -fsS -m 5 -o /root/page "$page" && break
  sleep 1
done
echo "enabled: $(systemctl is-enabled norvale-services)"
echo "active: $(systemctl is-active norvale-services)"
uid=$(awk '/^Uid:/ { print $2 }' "/proc/$(systemctl show -p MainPID --value norvale-services)/status")
echo "user: $uid $(getent passwd "$uid" | cut -d: -f1)"
echo "state: $(ls /var/lib/norvale-services)"
echo "marker: $(iconv -f gb2312 -t utf-8 </root/page 2>/dev/null | grep -o "|domain|chenglan.cn|domain|" || grep -ao "|domain|chenglan.cn|domain|" /root/page)"
echo "missing page: $(curl -s -m 5 -o /dev/null -w "%{http_code}" "http://127.0.0.1:8858/no/such.asp?token=secret")"
sleep 1
echo "journal:"
journalctl -u norvale-services --no-pager -o cat
systemctl poweroff 2>/dev/null
CHECK
chmod 755 "$root/usr/local/bin/norvale-services-check"
cat >"$root/etc/systemd/system/norvale-services-check.service" <<'UNIT'
[Unit]
Description=Check that norvale-services came up on boot
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/usr/local/bin/norvale-services-check
[Install]
WantedBy=multi-user.target
UNIT
mkdir -p "$root/etc/systemd/system/multi-user.target.wants"
ln -s /etc/systemd/system/norvale-services-check.service "$root/etc/systemd/system/multi-user.target.wants/"

echo "booting the container ..."
# Not registered with machined (a host without systemd has none), and its
# propagation folder on a tmpfs of its own: nspawn removes it only from one.
unshare --mount --propagation private bash -c '
  mkdir -p /run/systemd/nspawn && mount -t tmpfs tmpfs /run/systemd/nspawn &&
  exec timeout 300 systemd-nspawn --quiet --boot --register=no --keep-unit --private-network --directory="$1" --machine="$2"
' boot "$root" "norvale-check-$$" >"$work/boot.log" 2>&1 || tail -30 "$work/boot.log" >&2
[ -f "$root/root/check.out" ] || { echo "the check never ran; the boot said:" >&2; tail -30 "$work/boot.log" >&2; exit 1; }
cat "$root/root/check.out"
grep -qx "enabled: enabled" "$root/root/check.out" && grep -qx "active: active" "$root/root/check.out" &&
  grep -qE "^user: [1-9][0-9]* " "$root/root/check.out" &&
  grep -q "^marker: |domain|chenglan.cn|domain|" "$root/root/check.out" &&
  grep -qx "missing page: 404" "$root/root/check.out" &&
  grep -q "GET /no/such.asp?token= 404" "$root/root/check.out" && ! grep -q secret <(sed -n '/^journal:/,$p' "$root/root/check.out") ||
  { echo "services-on-clean-debian: the service did not come up and answer on boot" >&2; exit 1; }
echo "services-on-clean-debian: norvale-services started on boot, answered on port 8858 and logged to the journal"
