#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time over a
# scratch copy of its seed corpus (tests/fuzz/corpus/<name>), so the tree
# stays as it is. Any finding fails the run; the crashing input is kept in
# build-fuzz/findings/ to become a regression case in the corpus.
# FUZZ_SECONDS sets the time per target (default 20). An input that takes
# longer than FUZZ_TIMEOUT seconds (default 3) is a finding too: a slow
# reader of outside bytes freezes whoever waits for it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
timeout=${FUZZ_TIMEOUT:-3}
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed; run scripts/install-deps.sh" >&2
  exit 1
fi
export QT_QPA_PLATFORM=offscreen
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISARA_FUZZ=ON >/dev/null
# FUZZ_TARGETS, when set, names the targets to build and run (blank-separated).
targets=${FUZZ_TARGETS:-}
# shellcheck disable=SC2086
cmake --build build-fuzz -j"${JOBS:-$(nproc)}" --target ${targets:-fuzz_all}

declare -A corpus=(
  [SettingsFileFuzz]=settings [LanguageFileFuzz]=language [TutorialScriptFuzz]=script
  [ExchangeFileFuzz]=exchange [ImageDecoderFuzz]=image [MetadataFuzz]=metadata
  [JpegSessionFuzz]=jpegsession [TwainDibFuzz]=twaindib [TwainContainerFuzz]=twaincontainer
  [IniFileFuzz]=ini [SaneWireFuzz]=sanewire)
# Readers whose output can never need more than their input's size: any
# allocation this large (MB) is sized from an unchecked claim.
declare -A malloc_limit=([TwainDibFuzz]=64 [TwainContainerFuzz]=64 [IniFileFuzz]=64 [SaneWireFuzz]=64)
findings="$PWD/build-fuzz/findings"
mkdir -p "$findings"
failed=0
ran=0
for target in SettingsFileFuzz LanguageFileFuzz TutorialScriptFuzz ExchangeFileFuzz ImageDecoderFuzz \
              MetadataFuzz JpegSessionFuzz TwainDibFuzz TwainContainerFuzz IniFileFuzz SaneWireFuzz; do
  if [ -n "$targets" ] && [[ " $targets " != *" $target "* ]]; then continue; fi
  scratch=$(mktemp -d)
  cp tests/fuzz/corpus/"${corpus[$target]}"/* "$scratch"/
  echo "fuzz: $target for ${seconds}s"
  ran=$((ran + 1))
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       LSAN_OPTIONS=suppressions="$PWD/tests/support/lsan.supp" \
       build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=3072 -malloc_limit_mb="${malloc_limit[$target]:-3072}" -max_len=65536 \
         -print_final_stats=1 -artifact_prefix="$findings/$target-" "$scratch" >"$scratch.log" 2>&1; then
    tail -n 60 "$scratch.log"
    echo "fuzz: $target found a fault; the input is in $findings" >&2
    failed=$((failed + 1))
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$scratch.log" | tr '\n' ' '; echo
  fi
  rm -rf "$scratch" "$scratch.log"
done
echo "fuzz: $ran targets ran ${seconds}s each, $failed found a fault"
[ "$failed" -eq 0 ]
