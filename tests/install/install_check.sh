#!/usr/bin/env bash
# Installs the build into a scratch prefix (not a default one), then:
# builds and runs a host program against it through find_package(vek_core)
# and through pkg-config; runs the README's tour configuration with the
# installed vekhost, and --check on it; loads the Tcl package from there.
# Usage: install_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
scratch=$(mktemp -d /tmp/vek_install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/opt/vek
version=$("$build/apps/vekhost/vekhost" --version)

cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/lib/vek_core.so"
test ! -e "$prefix/lib/pkgIndex.tcl"
test -f "$prefix/share/doc/vek_core/command_reference.md" -a -f "$prefix/share/doc/vek_core/architecture.md"
pc=$(dirname "$(find "$prefix" -name vek_core.pc)")
[ "$(PKG_CONFIG_PATH=$pc pkg-config --modversion vek_core)" = "$version" ]

cmake -S "$src/tests/install/consumer" -B "$scratch/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null
flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vek_core)
# shellcheck disable=SC2086
c++ -o "$scratch/consumer_pc" "$src/tests/install/consumer/main.cpp" $flags
for consumer in build/consumer consumer_pc; do (cd "$scratch" && VEK_ROOT_PATH="$scratch" "./$consumer"); done

# The tour's configuration, as the README shows it, run by the installed
# host with nothing on PATH or LD_LIBRARY_PATH pointing at the prefix.
mkdir "$scratch/tour"
sed -n '/^## A five-minute tour/,/^```$/p' "$src/README.md" | sed -n '/^```xml$/,/^```$/p' | sed '1d;$d' \
    > "$scratch/tour/tour.xml"
grep -q '<library path="vek_core"' "$scratch/tour/tour.xml"
cd "$scratch/tour"
env -u LD_LIBRARY_PATH "$prefix/bin/vekhost" --check tour.xml >check.txt || { cat check.txt; exit 1; }
grep -q "^  library 'vek_core' (priority 100) loads $prefix/bin/../lib/vek_core.so$" check.txt
env -u LD_LIBRARY_PATH "$prefix/bin/vekhost" --trace trace.txt tour.xml 2>err.txt &
host=$!
for _ in $(seq 100); do grep -q "Loaded 'vek_core'" trace.txt 2>/dev/null && break; sleep 0.1; done
kill -TERM "$host"
wait "$host" || { echo "vekhost failed: $(cat err.txt)"; cat trace.txt; exit 1; }
grep -q "Loaded 'vek_core' version '$version'" trace.txt
[ ! -s err.txt ]

# The Tcl package: found through TCLLIBPATH for this prefix, one copy of
# the library, and loadable into a safe interpreter.
out=$(TCLLIBPATH="$prefix/lib/tcltk" tclsh <<'TCL'
puts [package require vek_core]
puts [file type [file join [lindex [glob [file join $env(TCLLIBPATH) vek_core*]] 0] vek_core.so]]
set safe [interp create -safe]
load {} Vek_core $safe
puts [$safe eval {package present vek_core}]
TCL
)
[ "$out" = "$version"$'\nlink\n'"$version" ] || { echo "Tcl package check failed: $out"; exit 1; }
echo "install check passed: $prefix"
