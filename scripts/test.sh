#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test three times: in the
# normal build, under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer; then runs each fuzz target for a bounded time
# (scripts/fuzz.sh). Ends with one line that counts the tests of all three
# builds. JOBS limits the parallel jobs (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=${JOBS:-$(nproc)}
export JOBS=$jobs

passed=0
failed=0
status=0
# Runs one build's tests with their output on screen and adds up what
# CTest's summary says; a run that ends without a summary counts as failed.
suite() {
  local name=$1 log rc line total bad skipped
  shift
  log=$(mktemp)
  set +e
  "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    echo "$name: the tests did not finish"
    failed=$((failed + 1))
    status=1
  else
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    skipped=$(grep -cE '\((Skipped|Disabled|Not Run)\)$' "$log" || true)
    passed=$((passed + total - bad - skipped))
    failed=$((failed + bad))
    echo "$name: $((total - bad - skipped)) passed, $bad failed, $skipped skipped"
  fi
  [ "$rc" -eq 0 ] || status=1
  rm -f "$log"
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
suite "normal build" ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVISARA_SANITIZE=ON -DVISARA_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/support/lsan.supp" \
  suite "sanitizer build" ctest --test-dir build-asan --output-on-failure -j"$jobs"

# Qt is not built for the sanitizer: tests/support/tsan.supp says what of
# it is left alone. A test starts threads in a forked child, and some ask
# for absurd sizes.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVISARA_SANITIZE_THREAD=ON -DVISARA_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS=die_after_fork=0:allocator_may_return_null=1:suppressions="$PWD/tests/support/tsan.supp" \
  suite "thread sanitizer build" ctest --test-dir build-tsan --output-on-failure -j"$jobs"

scripts/fuzz.sh || status=1
echo "tests: $passed passed, $failed failed"
exit $status
