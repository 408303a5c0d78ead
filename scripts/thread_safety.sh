#!/usr/bin/env bash
# Builds the library with clang's thread-safety analysis as errors: every
# lock annotation (VEK_GUARDED_BY, VEK_REQUIRES, ...) is checked at compile
# time. Compile only; the tests run in the other builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
echo "== thread-safety: configure and build (clang)"
cmake --preset thread-safety >/dev/null
cmake --build --preset thread-safety -j "$(nproc)"
