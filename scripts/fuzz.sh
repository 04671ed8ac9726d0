#!/usr/bin/env bash
# Runs every fuzz target of fuzz/ for SECONDS each (built with clang into
# build-fuzz/, under AddressSanitizer and UndefinedBehaviorSanitizer). Each
# starts from its checked-in seeds in fuzz/corpus/NAME and from what earlier
# runs here found (build-fuzz/corpus/NAME, where new inputs go). A target
# that crashes or breaks one of its properties leaves the input in
# build-fuzz/findings/ and fails the run; once the code is mended, the input
# joins fuzz/corpus/NAME.
#
# usage: scripts/test.sh --fuzz SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/test.sh --fuzz SECONDS" >&2
  exit 2
fi
bash scripts/setup.sh

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNORVALE_FUZZ=ON -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz --target fuzzers

symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer)
export ASAN_OPTIONS="external_symbolizer_path=$symbolizer:detect_leaks=1"
export UBSAN_OPTIONS="external_symbolizer_path=$symbolizer:print_stacktrace=1:halt_on_error=1"

mkdir -p build-fuzz/findings build-fuzz/logs
failed=()
for program in build-fuzz/bin/fuzz_*; do
  name=${program##*/fuzz_}
  mkdir -p "build-fuzz/corpus/$name"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
           -artifact_prefix="build-fuzz/findings/$name-")
  if [ -f "fuzz/$name.dict" ]; then
    options+=(-dict="fuzz/$name.dict")
  fi
  log=build-fuzz/logs/$name.log
  if "$program" "${options[@]}" "build-fuzz/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
    # libFuzzer's last status line: runs, coverage, corpus.
    echo "$name: $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
  else
    failed+=("$name")
    echo "$name: FAILED"
    grep -E -A 30 'PROPERTY BROKEN|ERROR: |runtime error' "$log" | head -n 60 || tail -n 40 "$log"
    grep -E 'Test unit written to' "$log" || true
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzzing: FAILED (${failed[*]}); logs in build-fuzz/logs, inputs in build-fuzz/findings"
  exit 1
fi
echo "fuzzing: clean, ${seconds} s per target"
