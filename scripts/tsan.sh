#!/usr/bin/env bash
# Builds the ThreadSanitizer build and runs every test in it. Not part of
# scripts/test.sh: the sanitizer build takes several minutes on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
echo "== tsan: configure and build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)"
echo "== tsan: test"
ctest --preset tsan
