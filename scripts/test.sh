#!/usr/bin/env bash
# Runs every test of the project:
#   0. the format check (clang-format);
#   1. the normal build: all unit, integration and end-to-end tests
#      (the PipeWire tests start a private sound server of their own), with
#      the Node.js package's addon, built first by npm as its hosts build it;
#   2. its Debian packages, installed into a scratch root, with a host built
#      against them;
#   3. the capture library's tests under ThreadSanitizer;
#   4. the same under AddressSanitizer with UndefinedBehaviorSanitizer;
#   5. every libFuzzer target for a bounded time (MIVO_FUZZ_SECONDS, 60).
# Warnings are errors everywhere. Installs the Debian packages first. Each
# configuration keeps its own build folder (CMakePresets.json), so a second
# run, or a run after scripts/demo.sh, only builds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${MIVO_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh demo test

fuzz_seconds=${MIVO_FUZZ_SECONDS:-60}

step() { printf '\n=== %s ===\n' "$*"; }

step "format of C and C++ sources"
scripts/check-format.sh

step "Node.js package: npm ci (builds its addon with the package's CMake script)"
(cd bindings/node && npm ci --no-audit --no-fund)
node -e 'require("./bindings/node/build/mivo_node.node")'

step "normal build and all tests"
cmake --preset default -DBUILD_TESTING=ON -DMIVO_BUILD_NODE=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2 -LE pipewire
# Each starts a real sound server and session manager of its own: one at a time.
ctest --test-dir build --output-on-failure -L pipewire

step "Debian packages and a host built against them"
scripts/check-packages.sh build

step "capture tests under ThreadSanitizer"
cmake --preset tsan
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L capture -j2

step "capture tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build build-asan
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
  ctest --test-dir build-asan --output-on-failure -L capture -j2

step "fuzz targets, ${fuzz_seconds} s each"
cmake --preset fuzz
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
