#!/usr/bin/env bash
# Installs what is needed, builds Visara and starts it on the photo named
# on the command line, or on the sample portrait when none is named.
# Visara opens only its first argument.
set -euo pipefail
photo=""
if [ $# -gt 0 ]; then
    if [ ! -f "$1" ]; then
        echo "run.sh: no such file: $1" >&2
        exit 1
    fi
    # The build runs in the repository's folder: name the photo from here.
    photo="$(realpath -- "$1")"
fi
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Visara
exec build/bin/Visara "${photo:-build/bin/Images/astronaut.jpg}"
