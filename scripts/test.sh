#!/usr/bin/env bash
# The whole test suite: set-up, build, then every test under CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
