#!/usr/bin/env bash
# Runs every test of the project:
#   1. the normal build: all unit, integration and end-to-end tests
#      (the PipeWire tests start a private sound server of their own);
#   2. the capture library's tests under ThreadSanitizer;
#   3. the same under AddressSanitizer with UndefinedBehaviorSanitizer;
#   4. every libFuzzer target for a bounded time (MIVO_FUZZ_SECONDS, 60).
# Warnings are errors everywhere. Installs the Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${MIVO_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh

fuzz_seconds=${MIVO_FUZZ_SECONDS:-60}
common=(-G Ninja -DMIVO_WERROR=ON)
sanitized=(-DMIVO_BUILD_OCR=OFF -DMIVO_BUILD_BENCH=OFF -DMIVO_AUDIO_BACKEND=simulated)

step() { printf '\n=== %s ===\n' "$*"; }

step "normal build and all tests"
cmake -S . -B build "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j2 -LE pipewire
ctest --test-dir build --output-on-failure -L pipewire

step "capture tests under ThreadSanitizer"
cmake -S . -B build-tsan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DMIVO_SANITIZER=thread "${sanitized[@]}"
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L capture -j2

step "capture tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DMIVO_SANITIZER=address "${sanitized[@]}"
cmake --build build-asan
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
  ctest --test-dir build-asan --output-on-failure -L capture -j2

step "fuzz targets, ${fuzz_seconds} s each"
cmake -S . -B build-fuzz "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DMIVO_FUZZ=ON \
  -DMIVO_BUILD_BENCH=OFF -DMIVO_AUDIO_BACKEND=simulated
mapfile -t fuzzers < <(ninja -C build-fuzz -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)
[ "${#fuzzers[@]}" -gt 0 ] || { echo "no fuzz targets found"; exit 1; }
cmake --build build-fuzz --target "${fuzzers[@]}"
for fuzzer in "${fuzzers[@]}"; do
  corpus=tests/fuzz-corpus/$fuzzer
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "--- $fuzzer"
  "build-fuzz/fuzz/$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done

step "all test runs passed"
