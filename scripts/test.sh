#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in the normal
# build and once under AddressSanitizer + UndefinedBehaviorSanitizer; then
# runs each fuzz target for a bounded time (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --repeat after-timeout:3

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVISARA_SANITIZE=ON -DVISARA_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/support/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --repeat after-timeout:3

scripts/fuzz.sh
