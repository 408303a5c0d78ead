#!/usr/bin/env bash
# Sets up and builds everything, then runs the host program on the shop
# example (examples/shop) until Ctrl-C, or for SECONDS seconds when given
# (then SIGTERM). Usage: scripts/shop.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
b=$PWD/build/default
# The modules are found along PATH; the example directory is the root, so
# its relative names (config.xml, shop.env, plugins/, sites/, data/)
# resolve there.
cd examples/shop
export PATH="$b/src:$b/modules/vek_http:$b/examples:$PATH" VEK_ROOT_PATH=$PWD
echo "shop.sh: the storefront is at http://127.0.0.1:${VEK_HTTP_PORT:-8080}/ (VEK_HTTP_PORT chooses another port)"
if [ $# -gt 0 ]; then
    exec timeout --preserve-status -s TERM "$1" "$b/apps/vekhost/vekhost" config.xml shop.env
fi
exec "$b/apps/vekhost/vekhost" config.xml shop.env
