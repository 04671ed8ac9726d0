#!/usr/bin/env bash
# The whole test suite: set-up, build, then every test under CTest.
#
# usage: scripts/test.sh [ctest options]          the suite, e.g. -L core or -R test_web
#        scripts/test.sh --sanitizers [ctest options]
#                                                 the suite under the sanitizers (scripts/sanitizers.sh)
#        scripts/test.sh --fuzz SECONDS           each fuzz target for that long (scripts/fuzz.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  --sanitizers)
    shift
    exec bash scripts/sanitizers.sh "$@" ;;
  --fuzz)
    shift
    exec bash scripts/fuzz.sh "$@" ;;
esac
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
