#!/usr/bin/env bash
# Installs what is needed, builds Visara and starts it on the sample portrait.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Visara
exec build/bin/Visara build/bin/Images/astronaut.jpg "$@"
