#!/usr/bin/env bash
# Runs HAProxy in the foreground with scripts/haproxy/norvale-services.cfg:
# FRONT is the address Norvale reaches, then the two instances' addresses.
#
# usage: services-behind-haproxy.sh FRONT INSTANCE1 INSTANCE2
#   e.g. services-behind-haproxy.sh 0.0.0.0:8858 127.0.0.1:8861 127.0.0.1:8862
set -euo pipefail
[ $# -eq 3 ] || { sed -n '5,6p' "$0" >&2; exit 2; }
command -v haproxy >/dev/null || { echo "haproxy is missing: bash scripts/setup.sh" >&2; exit 1; }
export NORVALE_FRONT=$1 NORVALE_SERVICES_1=$2 NORVALE_SERVICES_2=$3
config="$(dirname "$0")/haproxy/norvale-services.cfg"
haproxy -c -q -f "$config"
exec haproxy -W -db -f "$config"
