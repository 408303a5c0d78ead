#!/usr/bin/env bash
# The Tcl binding generator accepts the project's table and refuses one
# that lost a method or names an unknown kind.
# Usage: generator_check.sh TCLSH GENERATOR TABLE
set -euo pipefail
tclsh=$1 gen=$2 table=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$tclsh" "$gen" "$table" "$tmp/ok"

# Runs the generator on the edited table in $tmp/table.tcl, which it must
# refuse with a message holding $1.
refused_with() {
    if "$tclsh" "$gen" "$tmp/table.tcl" "$tmp/out" 2> "$tmp/err"; then echo "generator accepted: $1"; exit 1; fi
    grep -q "$1" "$tmp/err" || { echo "unexpected refusal: $(cat "$tmp/err")"; exit 1; }
}
awk '!done && /method get_count uint/ { done = 1; next } 1' "$table" > "$tmp/table.tcl"
refused_with "methods 220"
sed '0,/{uint pos}/s//{unit pos}/' "$table" > "$tmp/table.tcl"
refused_with "kind unit cannot be a param"
echo "generator ok"
