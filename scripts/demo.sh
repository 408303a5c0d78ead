#!/usr/bin/env bash
# Sets up, builds and runs the demo host program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target demo_host
./build/default/examples/demo_host
