#!/usr/bin/env bash
# The sanitizer pass: the whole suite under AddressSanitizer with
# UndefinedBehaviorSanitizer (build-asan/), then the core suites under
# ThreadSanitizer (build-tsan/), both built with clang. Every process the
# tests start writes its reports into the build's sanitizer-logs/, and
# scripts/sanitizer-reports.py decides which of them fail the pass: any
# report in our code does, a report inside Qt, glibc or another library
# only when scripts/sanitizer-suppressions does not name it.
#
# usage: scripts/test.sh --sanitizers [ctest options]
# Exits non-zero, with the failing reports printed, when a test fails or a
# report does.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh

symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# build FOLDER KIND TARGET: configures and builds one instrumented tree.
build() {
  CC=clang CXX=clang++ cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNORVALE_SANITIZE="$2" "${launcher[@]}" >/dev/null
  cmake --build "$1" --target "$3"
}

# A fresh log folder that every user can write to: some tests run programs
# as nobody.
fresh_logs() {
  rm -rf "$1"
  mkdir -p "$1"
  chmod 1777 "$1"
}

# check TITLE FOLDER CTEST_STATUS: the reports of one pass.
failed=0
check() {
  local logs=$2/sanitizer-logs
  shopt -s nullglob
  local files=("$logs"/*)
  shopt -u nullglob
  echo "== $1: reports in $logs"
  python3 scripts/sanitizer-reports.py --root "$root" --suppressions scripts/sanitizer-suppressions \
    "${files[@]}" || failed=1
  if [ "$3" -ne 0 ]; then
    echo "== $1: tests failed (above)"
    failed=1
  fi
}

# Memory errors abort the process they happen in, so its test fails; leaks
# and undefined behaviour are left to the report check, which knows whose
# they are.
build build-asan address all
fresh_logs build-asan/sanitizer-logs
status=0
ASAN_OPTIONS="log_path=$root/build-asan/sanitizer-logs/report:external_symbolizer_path=$symbolizer:exitcode=0:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1" \
UBSAN_OPTIONS="log_path=$root/build-asan/sanitizer-logs/report:external_symbolizer_path=$symbolizer:print_stacktrace=1:halt_on_error=0" \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" "$@" || status=$?
check "address and undefined behaviour" build-asan "$status"

# Qt is not built with the thread sanitizer: accesses made inside its
# libraries are not checked (ignore_noninstrumented_modules), and our hand-
# overs through Qt show the sanitizer a lock of their own (norvale/core/work/HandOver.h).
build build-tsan thread core_tests
fresh_logs build-tsan/sanitizer-logs
status=0
TSAN_OPTIONS="log_path=$root/build-tsan/sanitizer-logs/report:external_symbolizer_path=$symbolizer:exitcode=0:halt_on_error=0:ignore_noninstrumented_modules=1:second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -L core "$@" || status=$?
check "threads" build-tsan "$status"

if [ "$failed" -ne 0 ]; then
  echo "sanitizer pass: FAILED"
  exit 1
fi
echo "sanitizer pass: clean"
