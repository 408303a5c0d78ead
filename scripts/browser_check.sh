#!/usr/bin/env bash
# The shop's storefront in a real browser: runs the built vekhost on a copy
# of examples/shop, loads the catalogue page in headless Chromium (Debian's
# `chromium`, installed here when missing) once in English and once in
# German, checks the rendered text of each, and keeps a screenshot of each
# in build/default/artifacts/. Needs the default build (scripts/test.sh
# makes it). Usage: scripts/browser_check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/build/default

if ! command -v chromium >/dev/null; then
    echo "browser_check: installing chromium"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends chromium >/dev/null
fi

work=$(mktemp -d)
trap 'kill "$host" 2>/dev/null; wait "$host" 2>/dev/null; rm -rf "$work"' EXIT
cp -r examples/shop "$work/shop"
rm -rf "$work/shop/data"
# True once the storefront's front page answers 200 (its routes are in).
serves() {
    (exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET / HTTP/1.0\r\n\r\n' >&3 && read -r -t 5 line <&3 &&
        [[ $line == *" 200 "* ]]) 2>/dev/null
}
# Starts the host on a port below the kernel's ephemeral range that nothing
# answers on, and waits until it serves; another port when the host ends
# first (a port in use), at most three times.
start_host() {
    port=$((10000 + RANDOM % 20000))
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((10000 + RANDOM % 20000)); done
    (cd "$work/shop" && PATH="$b/src:$b/modules/vek_http:$b/examples:$PATH" VEK_ROOT_PATH=$PWD VEK_HTTP_PORT=$port \
        exec "$b/apps/vekhost/vekhost" --trace trace.txt config.xml shop.env) &
    host=$!
    for _ in $(seq 100); do
        serves && return 0
        kill -0 "$host" 2>/dev/null || break
        sleep 0.1
    done
    echo "browser_check: the host did not answer on port $port; its trace ends:"
    tail -n 20 "$work/shop/trace.txt" 2>/dev/null || true
    kill "$host" 2>/dev/null || true
    wait "$host" 2>/dev/null || true
    return 1
}
host=
start_host || start_host || start_host

mkdir -p "$b/artifacts"
failed=0
check() {  # language, texts the page must show
    local lang=$1 dom
    shift
    dom=$(chromium --headless --no-sandbox --disable-gpu --accept-lang="$lang" --lang="$lang" \
        --virtual-time-budget=3000 --dump-dom "http://127.0.0.1:$port/" 2>/dev/null)
    chromium --headless --no-sandbox --disable-gpu --accept-lang="$lang" --lang="$lang" --hide-scrollbars \
        --window-size=1024,640 --screenshot="$b/artifacts/shop-$lang.png" "http://127.0.0.1:$port/" >/dev/null 2>&1
    for text in "$@"; do
        if ! grep -qF "$text" <<<"$dom"; then
            echo "browser_check: the $lang page lacks '$text'"
            failed=1
        fi
    done
    [ -s "$b/artifacts/shop-$lang.png" ] || { echo "browser_check: no screenshot for $lang"; failed=1; }
}
check en "<h1>Catalogue</h1>" "Green tea" "Welcome to the vek shop!"
check de "<h1>Katalog</h1>" "Grüner Tee" "Willkommen im vek-Laden!"
if [ "$failed" -ne 0 ]; then
    echo "browser_check: the host's trace ends:"
    tail -n 20 "$work/shop/trace.txt" 2>/dev/null || true
fi
[ "$failed" -eq 0 ] && echo "browser_check: the storefront renders in both languages ($b/artifacts/shop-*.png)"
exit "$failed"
