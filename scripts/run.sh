#!/usr/bin/env bash
# Builds Norvale, starts the operator's services on this machine and opens
# Norvale against them. Without a display, Norvale starts under a virtual one
# until it is ready, which shows that the whole start-up works.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

mkdir -p run
services_log=run/norvale-services.log
services_pid=
trap '[ -n "$services_pid" ] && { kill "$services_pid" 2>/dev/null; wait "$services_pid" 2>/dev/null || true; }' EXIT

# The status and whois pages ask the registries for the names the seeded
# tables do not decide. Where none can be reached (offline, or a sandbox),
# every such name would be "查询失败", so the services then answer from their
# seeded tables alone. NORVALE_REGISTRIES=on|off decides without the probe.
registries=${NORVALE_REGISTRIES:-}
if [ -z "$registries" ]; then
  if curl -fsS --max-time 5 -o /dev/null https://data.iana.org/rdap/dns.json 2>/dev/null; then
    registries=on
  else
    registries=off
  fi
fi
if [ "$registries" = on ]; then
  echo "norvale-services: asking the registries (RDAP and whois) for names the seeded tables do not hold."
else
  echo "norvale-services: no registry can be reached; answering from the seeded tables alone" \
       "(a name they do not hold shows as free)."
fi

# Starts norvale-services on the given port; true once it serves.
start_services() {
  build/bin/norvale-services --port "$1" --db run/norvale-services.db --registries "$registries" >"$services_log" 2>&1 &
  services_pid=$!
  for _ in $(seq 1 100); do
    grep -q 'listening on' "$services_log" 2>/dev/null && return 0
    kill -0 "$services_pid" 2>/dev/null || { wait "$services_pid" 2>/dev/null || true; services_pid=; return 1; }
    sleep 0.1
  done
  return 1
}

# 8858 is the built-in address; when something else holds it, any free port
# will do, and Norvale is told where the services are.
if ! start_services 8858; then
  echo "Port 8858 is taken; starting norvale-services on a free port."
  if ! start_services 0; then
    echo "norvale-services did not start:" >&2
    cat "$services_log" >&2
    exit 1
  fi
fi
base=$(grep -m1 -o 'http://[^ ]*' "$services_log")
echo "norvale-services: listening on $base"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/bin/norvale --data-service "$base"
  exit 0
fi

echo "No display here: starting Norvale under a virtual display until it is ready."
norvale_log=run/norvale.log
# Its own process group, so that Xvfb and Norvale end together.
setsid xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/norvale --data-service "$base" >"$norvale_log" 2>&1 &
norvale_pid=$!
stop_norvale() { kill -- "-$norvale_pid" 2>/dev/null || true; wait "$norvale_pid" 2>/dev/null || true; }
for _ in $(seq 1 600); do
  if grep -q 'Norvale is ready' "$norvale_log" 2>/dev/null; then
    grep -m1 'Norvale is ready' "$norvale_log"
    stop_norvale
    exit 0
  fi
  kill -0 "$norvale_pid" 2>/dev/null || break
  sleep 0.1
done
echo "Norvale did not reach the ready state:" >&2
cat "$norvale_log" >&2
stop_norvale
exit 1
