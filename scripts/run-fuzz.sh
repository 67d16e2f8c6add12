#!/usr/bin/env bash
# Builds the command-input fuzz target with clang and libFuzzer and runs it for
# a fixed time (default 60 s; give another number of seconds as the first
# argument). Fails on any crash, leak, timeout or sanitizer report.
# Needs clang and its runtimes (Debian: clang, libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs" --target tondrel_fuzz_input

# New inputs go to a corpus in the build tree; the checked-in seeds stay as
# they are.
out=build/fuzz/fuzz-input
mkdir -p "$out/corpus"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
build/fuzz/tests/fuzz/tondrel_fuzz_input \
  -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
  -dict=tests/fuzz/command.dict -artifact_prefix="$out/" \
  "$out/corpus" tests/fuzz/corpus
echo "fuzzing: ${seconds} s without a crash, leak or sanitizer report"
