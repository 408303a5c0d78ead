#!/usr/bin/env bash
# Installs what vek_core needs to build and test (Debian packages).
# Idempotent and quiet when everything is present.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config binutils
    tcl8.6 tcl8.6-dev libexpat1-dev zlib1g-dev libssl-dev libmicrohttpd-dev
    libgtest-dev libgmock-dev libbenchmark-dev tzdata
    clang
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
