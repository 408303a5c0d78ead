#!/usr/bin/env bash
# Sets up, builds the host program and the library (nothing else), checks
# examples/hello's configuration with vekhost --check, then runs the host
# on it for three seconds and stops it with SIGTERM.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vekhost vek_core
# vek_core.so is found along PATH; VEK_ROOT_PATH becomes the repository root.
export PATH="$PWD/build/default/src:$PATH"
./build/default/apps/vekhost/vekhost --check examples/hello/config.xml
timeout --preserve-status -s TERM 3 ./build/default/apps/vekhost/vekhost examples/hello/config.xml
