#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a fixed
# time (default 60 s each; give another number of seconds as the first
# argument): the line framing alone, command reading alone, then the whole
# input path. Fails on any crash, leak, timeout or sanitizer report.
# Needs clang and its runtimes (Debian: clang, libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs" \
  --target tondrel_fuzz_framing tondrel_fuzz_command tondrel_fuzz_input

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
for target in framing command input; do
  # New inputs go to a corpus in the build tree; the checked-in seeds (the
  # same command lines serve all three) stay as they are.
  out="build/fuzz/fuzz-$target"
  mkdir -p "$out/corpus"
  echo "fuzzing $target for ${seconds} s"
  "build/fuzz/tests/fuzz/tondrel_fuzz_$target" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    -dict=tests/fuzz/command.dict -artifact_prefix="$out/" \
    "$out/corpus" tests/fuzz/corpus
done
echo "fuzzing: ${seconds} s each for framing, command reading and the input path without a crash, leak or sanitizer report"
