#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a host
# program against it twice: through find_package(vek_core) and through
# pkg-config.
# Usage: install_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
prefix=$(mktemp -d /tmp/vek_install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix/usr" >/dev/null
test -f "$prefix/usr/lib/vek_core.so" -o -f "$prefix/usr/lib/x86_64-linux-gnu/vek_core.so"

cmake -S "$src/tests/install/consumer" -B "$prefix/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
cmake --build "$prefix/build" >/dev/null
flags=$(PKG_CONFIG_PATH="$(dirname "$(find "$prefix/usr" -name vek_core.pc)")" pkg-config --cflags --libs vek_core)
# shellcheck disable=SC2086
c++ -o "$prefix/consumer_pc" "$src/tests/install/consumer/main.cpp" $flags
for consumer in build/consumer consumer_pc; do (cd "$prefix" && VEK_ROOT_PATH="$prefix" "./$consumer"); done

# The Tcl package: found through the default search path's tcltk
# directory, one copy of the library, and loadable into a safe interpreter.
out=$(TCLLIBPATH="$prefix/usr/lib/tcltk" tclsh <<'TCL'
puts [package require vek_core]
puts [file type [file join [lindex [glob [file join $env(TCLLIBPATH) vek_core0.0]] 0] vek_core.so]]
set safe [interp create -safe]
load {} Vek_core $safe
puts [$safe eval {package present vek_core}]
TCL
)
[ "$out" = $'0.0\nlink\n0.0' ] || { echo "Tcl package check failed: $out"; exit 1; }
