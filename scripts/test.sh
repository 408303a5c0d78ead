#!/usr/bin/env bash
# Sets up, builds and runs every test in the normal build and in the
# AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in default asan; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
    echo "== $preset: test"
    ctest --preset "$preset"
done
