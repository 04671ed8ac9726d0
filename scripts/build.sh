#!/usr/bin/env bash
# Installs what is needed, then configures and builds everything into build/.
#
# usage: scripts/build.sh [BUILD_DIR]   another build folder than build/
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/setup.sh
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVALE_WERROR="$werror" >/dev/null
cmake --build "$dir"
