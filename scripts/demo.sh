#!/usr/bin/env bash
# Sets up and builds everything, then runs the host program on
# examples/hello for three seconds and stops it with SIGTERM.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
# vek_core.so is found along PATH; VEK_ROOT_PATH becomes the repository root.
PATH="$PWD/build/default/src:$PATH" timeout --preserve-status -s TERM 3 \
    ./build/default/apps/vekhost/vekhost examples/hello/config.xml
